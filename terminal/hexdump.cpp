// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/hexdump.h"

namespace {

constexpr int kRowBytes = 16;

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

QByteArray offsetColumn(qint64 offset)
{
    return QByteArray::number(offset, 16).rightJustified(8, '0');
}

} // namespace

QByteArray HexDump::feed(QStringView shown)
{
    QByteArray out;
    qsizetype textFrom = -1; // where a run of characters that are not hex bytes began in `shown`
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown[i];
        const bool fits = m_token.size() < 2 ? hexValue(c) >= 0 : c == u' ';
        if (fits && textFrom >= 0) {
            keepAsText(shown.sliced(textFrom, i - textFrom), out);
            textFrom = -1;
        }
        if (!fits) {
            // What looked like the start of a token was text after all.
            if (!m_token.isEmpty()) {
                keepAsText(m_token, out);
                m_token.clear();
            }
            if (textFrom < 0)
                textFrom = i;
            continue;
        }
        m_token += c;
        if (m_token.size() == 3) {
            takeByte(quint8(hexValue(m_token[0]) * 16 + hexValue(m_token[1])), out);
            m_token.clear();
        }
    }
    if (textFrom >= 0)
        keepAsText(shown.sliced(textFrom), out);
    return out;
}

QByteArray HexDump::finish()
{
    QByteArray out;
    if (!m_token.isEmpty())
        keepAsText(m_token, out);
    m_token.clear();
    endRow(out);
    if (m_inText)
        out += '\n';
    m_inText = false;
    out += offsetColumn(m_offset) + '\n';
    return out;
}

void HexDump::takeByte(quint8 byte, QByteArray &out)
{
    if (m_inText) {
        out += '\n';
        m_inText = false;
    }
    m_row += char(byte);
    if (m_row.size() == kRowBytes)
        endRow(out);
}

void HexDump::endRow(QByteArray &out)
{
    if (m_row.isEmpty())
        return;
    QByteArray line = offsetColumn(m_offset) + ' ';
    for (int i = 0; i < kRowBytes; ++i) {
        if (i % 8 == 0)
            line += ' ';
        line += i < m_row.size() ? QByteArray(1, m_row[i]).toHex() + ' ' : QByteArray("   ");
    }
    line += " |";
    for (const char b : std::as_const(m_row))
        line += (b >= 0x20 && b < 0x7f) ? b : '.';
    out += line + "|\n";
    m_offset += m_row.size();
    m_row.clear();
}

void HexDump::keepAsText(QStringView text, QByteArray &out)
{
    if (text.isEmpty())
        return;
    endRow(out);
    out += text.toUtf8();
    m_inText = !text.endsWith(u'\n');
}
