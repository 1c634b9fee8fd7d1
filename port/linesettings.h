// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <optional>

// What the port starts with, and what start-up writes (parity letter in lower case).
inline const QString kDefaultLineSettings = QStringLiteral("9600,n,8,1");

// The fields of a settings string, in their order.
enum class LineField { Baud, Parity, DataBits, StopBits };

// The line settings string "baud,parity,data,stop" (kDefaultLineSettings) and its parsed form.
struct LineSettings
{
    qint32 baud = 9600;
    char parity = 'N'; // 'N', 'O' or 'E'
    int dataBits = 8; // 5 to 8
    int stopBits = 1; // 1 or 2

    bool operator==(const LineSettings &) const = default;
    // "9600,N,8,1".
    QString toString() const;
    // One field as a number (the parity as its letter), to compare settings field by field.
    qint32 value(LineField field) const;
};

// True for one or more of the digits 0 to 9 and nothing else (no sign, blank, point or exponent).
bool isPlainDigits(QStringView text);

// Plain decimal digits, at most 18 of them, as a number.
std::optional<qint64> parsePlainDigits(QStringView text);

// The fields parsed one by one: the usable ones in `settings` (the others keep their defaults), and which
// ones the port must refuse.
struct ParsedLineFields
{
    LineSettings settings;
    QList<LineField> invalid;
};

// The port refuses a baud that is not a positive whole number fitting 32 bits, a parity other than n/o/e
// (either case), data bits outside 5..8, stop bits other than 1 or 2, and blanks anywhere.
ParsedLineFields parseLineFields(QStringView baud, QStringView parity, QStringView dataBits, QStringView stopBits);

// A whole settings string: its four fields by the rules above, joined by single commas. Returns nothing
// for anything the port must refuse, missing and extra fields included.
std::optional<LineSettings> parseLineSettings(const QString &text);
