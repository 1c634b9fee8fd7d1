// SPDX-License-Identifier: GPL-3.0-or-later
// The GBK decoder: any bytes, split anywhere into two reads, give the same text as one read, and
// leave at most one byte (a lead byte) waiting.

#include "port/textcodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto *bytes = reinterpret_cast<const char *>(data + 1);
    const auto n = static_cast<qsizetype>(size - 1);
    const qsizetype split = n == 0 ? 0 : data[0] % (n + 1);

    GbkDecoder whole;
    QByteArray all(bytes, n);
    const QString once = whole.take(all);

    GbkDecoder parts;
    QByteArray pending(bytes, split);
    QString twice = parts.take(pending);
    pending.append(bytes + split, n - split);
    twice += parts.take(pending);

    if (once != twice || all != pending || all.size() > 1)
        std::abort();
    if (all.size() == 1 && (static_cast<unsigned char>(all[0]) < 0x81 || static_cast<unsigned char>(all[0]) == 0xFF))
        std::abort(); // only a lead byte may wait for the next read
    return 0;
}
