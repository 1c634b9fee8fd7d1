// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/textcodec.h"

#include <QStringEncoder>

namespace {

constexpr const char *kCodec = "GBK";

bool isLeadByte(unsigned char b)
{
    return b >= 0x81 && b <= 0xFE;
}

// Length of the prefix that ends on a character boundary. Bytes are walked from the start, which is
// always a boundary: a lead byte takes the byte after it, whatever that byte is, exactly as the
// decoder pairs them.
qsizetype completeLength(const QByteArray &bytes)
{
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (isLeadByte(static_cast<unsigned char>(bytes[i]))) {
            if (i + 1 == n)
                break;
            i += 2;
        } else {
            ++i;
        }
    }
    return i;
}

} // namespace

GbkDecoder::GbkDecoder()
    : m_decoder(kCodec)
{
}

QString GbkDecoder::take(QByteArray &bytes)
{
    const qsizetype n = completeLength(bytes);
    if (n == 0)
        return {};
    QString text = m_decoder.decode(QByteArrayView(bytes.constData(), n));
    bytes.remove(0, n);
    return text;
}

void GbkDecoder::reset()
{
    m_decoder.resetState();
}

QByteArray encodeGbk(const QString &text)
{
    QStringEncoder encoder(kCodec);
    return encoder.encode(text);
}
