// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Bytes `from` to `from + count` of an endless stream holding every byte value, in an order that shows a byte
// lost, doubled or moved: no two 64 KiB stretches alike.
inline QByteArray pattern(qsizetype count, qsizetype from = 0)
{
    QByteArray data(count, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i)
        data[i] = static_cast<char>(((from + i) * 7) ^ ((from + i) >> 16));
    return data;
}
