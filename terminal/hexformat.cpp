// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/hexformat.h"

#include "terminal/capture/textunits.h"

QString renderHex(const QByteArray &bytes)
{
    QString out(bytes.size() * TextUnits::kHexTokenChars, Qt::Uninitialized);
    TextUnits::writeHexTokens(
        reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size(), reinterpret_cast<char16_t *>(out.data()));
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
