// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/hexformat.h"

QString renderHex(const QByteArray &bytes)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    QString out(bytes.size() * 3, Qt::Uninitialized);
    QChar *p = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *p++ = QChar(digits[b >> 4]);
        *p++ = QChar(digits[b & 0x0F]);
        *p++ = QChar(u' ');
    }
    return out;
}

namespace {

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> parseHexBytes(const QString &text)
{
    QByteArray bytes;
    qsizetype i = 0;
    const qsizetype n = text.size();
    for (;;) {
        while (i < n && (text[i] == u' ' || text[i] == u'\t'))
            ++i;
        if (i == n)
            break;
        int value = 0;
        while (i < n && text[i] != u' ' && text[i] != u'\t') {
            const int d = hexValue(text[i++]);
            if (d < 0)
                return std::nullopt;
            value = value * 16 + d;
            if (value > 0xFF)
                return std::nullopt;
        }
        bytes.append(static_cast<char>(value));
    }
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}
