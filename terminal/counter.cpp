#include "terminal/counter.h"

#include <cmath>

namespace {

bool isPlainDigits(const QString &s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// The caption as plain digits; anything else that reads as a number is rounded to a whole one.
QString normalised(const QString &caption)
{
    if (isPlainDigits(caption))
        return caption;
    bool ok = false;
    const double value = caption.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0.5)
        return QStringLiteral("0");
    return QString::number(std::round(value), 'f', 0);
}

} // namespace

QString addToCounter(const QString &caption, qint64 amount)
{
    QString digits = normalised(caption);
    if (amount <= 0)
        return digits.size() > 1 && digits.startsWith(u'0') ? QString::number(digits.toLongLong()) : digits;

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
    while (sum.size() > 1 && sum.startsWith(u'0'))
        sum.remove(0, 1);
    return sum;
}
