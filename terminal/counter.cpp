// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/counter.h"

#include "port/linesettings.h"

#include <cmath>
#include <limits>

namespace {

// Plain digits with the leading zeros taken off ("000" is "0").
QString withoutLeadingZeros(QStringView digits)
{
    qsizetype first = 0;
    while (first + 1 < digits.size() && digits[first] == u'0')
        ++first;
    return digits.sliced(first).toString();
}

// The caption as plain digits with no leading zero: digits stay exact however many there are; anything
// else that reads as a decimal number is rounded to a whole one.
QString normalised(const QString &caption)
{
    if (isPlainDigits(caption))
        return withoutLeadingZeros(caption);
    bool ok = false;
    const double value = caption.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0.5)
        return QStringLiteral("0");
    return QString::number(std::round(value), 'f', 0);
}

} // namespace

QString addToCounter(const QString &caption, qint64 amount)
{
    const QString digits = normalised(caption);
    if (amount <= 0)
        return digits;
    if (const auto value = parsePlainDigits(digits); value && *value <= std::numeric_limits<qint64>::max() - amount)
        return QString::number(*value + amount);

    // Decimal addition on the digits themselves: a double would lose whole numbers past 2^53.
    const QString add = QString::number(amount);
    QString sum;
    int carry = 0;
    qsizetype i = digits.size() - 1;
    qsizetype j = add.size() - 1;
    while (i >= 0 || j >= 0 || carry) {
        int d = carry;
        if (i >= 0)
            d += digits[i--].unicode() - u'0';
        if (j >= 0)
            d += add[j--].unicode() - u'0';
        sum.prepend(QChar(u'0' + d % 10));
        carry = d / 10;
    }
    return sum;
}
