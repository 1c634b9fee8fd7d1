// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/arrivaltimes.h"

#include <QString>

// How a line's time of arrival is written, in the receive area's margin and in a saved file: local time to
// the millisecond, with the date or without, or the time since the line before it ("+0.123", in seconds).
// A line whose predecessor's time is gone shows its local time instead.
enum class StampFormat { Clock, DateAndClock, SincePrevious };

QString formatStamp(const ArrivalTimes::Stamp &stamp, StampFormat format);
// The widest text the format writes, for measuring a margin.
QString widestStamp(StampFormat format);
