#include "port/linesettings.h"

#include <QStringList>

namespace {

// Plain decimal digits only: no sign, no blank, no exponent.
std::optional<qint64> parseDigits(const QString &field)
{
    if (field.isEmpty() || field.size() > 10)
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : field) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

std::optional<LineSettings> parseLineSettings(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    const auto baud = parseDigits(fields[0]);
    if (!baud || *baud <= 0 || *baud > std::numeric_limits<qint32>::max())
        return std::nullopt;

    if (fields[1].size() != 1)
        return std::nullopt;
    const char parity = static_cast<char>(fields[1][0].toUpper().unicode());
    if (parity != 'N' && parity != 'O' && parity != 'E')
        return std::nullopt;

    const auto dataBits = parseDigits(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8)
        return std::nullopt;

    const auto stopBits = parseDigits(fields[3]);
    if (!stopBits || (*stopBits != 1 && *stopBits != 2))
        return std::nullopt;

    return LineSettings { static_cast<qint32>(*baud), parity, static_cast<int>(*dataBits),
        static_cast<int>(*stopBits) };
}
