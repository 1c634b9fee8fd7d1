#include "port/linesettings.h"

#include <QStringList>

QString LineSettings::toString() const
{
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(parity)).arg(dataBits).arg(stopBits);
}

std::optional<qint64> parsePlainDigits(QStringView text)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

std::optional<LineSettings> parseLineSettings(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    const auto baud = parsePlainDigits(fields[0]);
    if (!baud || *baud <= 0 || *baud > std::numeric_limits<qint32>::max())
        return std::nullopt;

    if (fields[1].size() != 1)
        return std::nullopt;
    const char parity = static_cast<char>(fields[1][0].toUpper().unicode());
    if (parity != 'N' && parity != 'O' && parity != 'E')
        return std::nullopt;

    const auto dataBits = parsePlainDigits(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8)
        return std::nullopt;

    const auto stopBits = parsePlainDigits(fields[3]);
    if (!stopBits || (*stopBits != 1 && *stopBits != 2))
        return std::nullopt;

    return LineSettings { static_cast<qint32>(*baud), parity, static_cast<int>(*dataBits),
        static_cast<int>(*stopBits) };
}
