// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Turns a block of the receive store into what may lie on a disk, and back: compressed (zstd), then
// encrypted and authenticated (XChaCha20-Poly1305) under a random key that exists only in this process's
// locked memory, with a fresh random nonce for every block. The block's place in the file is bound in as
// associated data, so a block moved or swapped on the disk fails to open, as does a changed byte.
class SealedBlock
{
public:
    // Creates the key. False when the system has no usable random source.
    static bool ready();

    // Empty when sealing failed (no key).
    static QByteArray seal(QByteArrayView plain, qint64 place);
    // Empty when the block does not open: changed, moved, or not sealed by this process.
    static QByteArray open(QByteArrayView sealed, qint64 place);
};
