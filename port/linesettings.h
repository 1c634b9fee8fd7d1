#pragma once

#include <QString>
#include <optional>

// The line settings string "baud,parity,data,stop" ("9600,n,8,1") and its parsed form.
struct LineSettings
{
    qint32 baud = 9600;
    char parity = 'N'; // 'N', 'O' or 'E'
    int dataBits = 8; // 5 to 8
    int stopBits = 1; // 1 or 2

    bool operator==(const LineSettings &) const = default;
    // "9600,N,8,1".
    QString toString() const;
};

// Plain decimal digits (no sign, blank, point or exponent), at most 18 of them, as a number.
std::optional<qint64> parsePlainDigits(QStringView text);

// Parses a settings string. Returns nothing for anything the port must refuse: a baud that is not a
// positive whole number fitting 32 bits, a parity other than n/o/e (either case), data bits outside
// 5..8, stop bits other than 1 or 2, blanks, missing or extra fields.
std::optional<LineSettings> parseLineSettings(const QString &text);
