// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/sealedblock.h"

#include <sodium.h>
#include <zstd.h>

#include <memory>

namespace {

// Level 1: text compresses about four to one at several hundred MB/s, far above any serial line.
constexpr int kLevel = 1;
constexpr size_t kNonce = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kTag = crypto_aead_xchacha20poly1305_ietf_ABYTES;

unsigned char *key()
{
    static unsigned char *k = [] {
        if (sodium_init() < 0)
            return static_cast<unsigned char *>(nullptr);
        // Guarded, locked memory: never swapped out, never in a core dump, wiped when freed.
        auto *bytes = static_cast<unsigned char *>(sodium_malloc(crypto_aead_xchacha20poly1305_ietf_KEYBYTES));
        if (bytes)
            crypto_aead_xchacha20poly1305_ietf_keygen(bytes);
        return bytes;
    }();
    return k;
}

void placeBytes(qint64 place, unsigned char out[8])
{
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(quint64(place) >> (8 * i));
}

} // namespace

bool SealedBlock::ready()
{
    return key() != nullptr;
}

QByteArray SealedBlock::seal(QByteArrayView plain, qint64 place)
{
    if (!key())
        return {};
    const size_t bound = ZSTD_compressBound(size_t(plain.size()));
    QByteArray packed(qsizetype(bound), Qt::Uninitialized);
    const size_t packedSize = ZSTD_compress(packed.data(), bound, plain.data(), size_t(plain.size()), kLevel);
    if (ZSTD_isError(packedSize))
        return {};
    QByteArray out(qsizetype(kNonce + packedSize + kTag), Qt::Uninitialized);
    auto *nonce = reinterpret_cast<unsigned char *>(out.data());
    randombytes_buf(nonce, kNonce);
    unsigned char ad[8];
    placeBytes(place, ad);
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(nonce + kNonce, &written,
        reinterpret_cast<const unsigned char *>(packed.constData()), packedSize, ad, sizeof ad, nullptr, nonce, key());
    out.truncate(qsizetype(kNonce + written));
    return out;
}

QByteArray SealedBlock::open(QByteArrayView sealed, qint64 place)
{
    if (!key() || size_t(sealed.size()) < kNonce + kTag)
        return {};
    const auto *nonce = reinterpret_cast<const unsigned char *>(sealed.data());
    const size_t cipherSize = size_t(sealed.size()) - kNonce;
    QByteArray packed(qsizetype(cipherSize - kTag), Qt::Uninitialized);
    unsigned char ad[8];
    placeBytes(place, ad);
    unsigned long long packedSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char *>(packed.data()), &packedSize,
            nullptr, nonce + kNonce, cipherSize, ad, sizeof ad, nonce, key())
        != 0)
        return {};
    const unsigned long long plainSize = ZSTD_getFrameContentSize(packed.constData(), size_t(packedSize));
    if (plainSize == ZSTD_CONTENTSIZE_ERROR || plainSize == ZSTD_CONTENTSIZE_UNKNOWN || plainSize > (1u << 30))
        return {};
    QByteArray plain(qsizetype(plainSize), Qt::Uninitialized);
    // One context a thread, kept: a new one for every block costs a quarter of opening it.
    thread_local const std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx *)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context)
        return {};
    const size_t n
        = ZSTD_decompressDCtx(context.get(), plain.data(), size_t(plainSize), packed.constData(), size_t(packedSize));
    if (ZSTD_isError(n) || n != plainSize)
        return {};
    return plain;
}
