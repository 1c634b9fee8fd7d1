// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/linesettings.h"

#include <QStringList>
#include <algorithm>

bool isPlainDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString LineSettings::toString() const
{
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(parity)).arg(dataBits).arg(stopBits);
}

qint32 LineSettings::value(LineField field) const
{
    switch (field) {
    case LineField::Baud:
        return baud;
    case LineField::Parity:
        return parity;
    case LineField::DataBits:
        return dataBits;
    case LineField::StopBits:
        return stopBits;
    }
    return 0;
}

std::optional<qint64> parsePlainDigits(QStringView text)
{
    if (text.size() > 18 || !isPlainDigits(text))
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : text)
        value = value * 10 + (c.unicode() - u'0');
    return value;
}

ParsedLineFields parseLineFields(QStringView baud, QStringView parity, QStringView dataBits, QStringView stopBits)
{
    ParsedLineFields parsed;
    LineSettings &s = parsed.settings;

    const auto baudValue = parsePlainDigits(baud);
    if (baudValue && *baudValue > 0 && *baudValue <= std::numeric_limits<qint32>::max())
        s.baud = static_cast<qint32>(*baudValue);
    else
        parsed.invalid << LineField::Baud;

    const char letter = parity.size() == 1 ? static_cast<char>(parity[0].toUpper().unicode()) : '\0';
    if (letter == 'N' || letter == 'O' || letter == 'E')
        s.parity = letter;
    else
        parsed.invalid << LineField::Parity;

    const auto dataValue = parsePlainDigits(dataBits);
    if (dataValue && *dataValue >= 5 && *dataValue <= 8)
        s.dataBits = static_cast<int>(*dataValue);
    else
        parsed.invalid << LineField::DataBits;

    const auto stopValue = parsePlainDigits(stopBits);
    if (stopValue && (*stopValue == 1 || *stopValue == 2))
        s.stopBits = static_cast<int>(*stopValue);
    else
        parsed.invalid << LineField::StopBits;

    return parsed;
}

std::optional<LineSettings> parseLineSettings(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;
    const ParsedLineFields parsed = parseLineFields(fields[0], fields[1], fields[2], fields[3]);
    if (!parsed.invalid.isEmpty())
        return std::nullopt;
    return parsed.settings;
}
