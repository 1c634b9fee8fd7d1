// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// Turns fuzz bytes into a QString. The first byte picks how: UTF-8 (what a user types, invalid
// sequences included) or raw UTF-16 code units (lone surrogates and everything else a QString can hold).
inline QString fuzzText(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    const auto *rest = reinterpret_cast<const char *>(data + 1);
    const auto restSize = static_cast<qsizetype>(size - 1);
    if (data[0] & 1)
        return QString(reinterpret_cast<const QChar *>(rest), restSize / 2);
    return QString::fromUtf8(rest, restSize);
}
