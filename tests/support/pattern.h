// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Bytes `from` to `from + count` of an endless stream holding every byte value, each a hash of its place: no
// stretch of a few bytes comes twice, so a byte lost, doubled or moved shows, and where it came from.
inline QByteArray pattern(qsizetype count, qsizetype from = 0)
{
    QByteArray data(count, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i) {
        quint64 x = quint64(from + i) * 0x9E3779B97F4A7C15u;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
        data[i] = static_cast<char>(x ^ (x >> 31));
    }
    return data;
}
