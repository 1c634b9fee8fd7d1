// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/paritymarks.h"

namespace {

constexpr char kMark = '\xFF';
constexpr char kBadByte = '?';

} // namespace

QByteArray takeParityMarked(QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (bytes[i] != kMark) {
            out.append(bytes[i++]);
            continue;
        }
        if (i + 1 == n)
            break;
        if (bytes[i + 1] == kMark) {
            out.append(kMark);
            i += 2;
            continue;
        }
        // The driver puts nothing but FF or 00 after FF; anything else passes as it came.
        if (bytes[i + 1] != '\0') {
            out.append(bytes[i++]);
            continue;
        }
        if (i + 2 == n)
            break;
        out.append(kBadByte);
        i += 3;
    }
    bytes.remove(0, i);
    return out;
}
