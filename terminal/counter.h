// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A counter lives in a label caption as plain decimal digits. Adds `amount` to the number a caption
// shows and returns the new caption: exact whole numbers however large, never an exponent, a sign or
// digit grouping. A caption that is not plain digits is read as a decimal number first.
QString addToCounter(const QString &caption, qint64 amount);
