// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/stampformat.h"

#include <QDateTime>

QString formatStamp(const ArrivalTimes::Stamp &stamp, StampFormat format)
{
    if (format == StampFormat::SincePrevious && stamp.previousMs) {
        const qint64 ms = stamp.ms - *stamp.previousMs;
        const qint64 magnitude = ms < 0 ? -ms : ms;
        return QStringLiteral("%1%2.%3")
            .arg(ms < 0 ? QLatin1Char('-') : QLatin1Char('+'))
            .arg(magnitude / 1000)
            .arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
    }
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(stamp.ms);
    return time.toString(format == StampFormat::DateAndClock ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                                             : QStringLiteral("HH:mm:ss.zzz"));
}

QString widestStamp(StampFormat format)
{
    return format == StampFormat::DateAndClock ? QStringLiteral("0000-00-00 00:00:00.000")
                                               : QStringLiteral("00:00:00.000");
}
