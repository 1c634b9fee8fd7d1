// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

// GBK (code page 936) text for the port's text mode.
class GbkDecoder
{
public:
    GbkDecoder();

    // Decodes the longest prefix of `bytes` that ends on a character boundary and removes it from
    // `bytes`. A lead byte at the very end stays in `bytes`, so a character split across two reads
    // comes out whole, and a switch to binary mode still finds that byte.
    QString take(QByteArray &bytes);

    void reset();

private:
    QStringDecoder m_decoder;
};

// Encodes text to GBK; a character GBK cannot hold becomes "?".
QByteArray encodeGbk(const QString &text);
