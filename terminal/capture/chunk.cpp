// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/chunk.h"

#include "terminal/capture/scratchfile.h"
#include "terminal/capture/textunits.h"

#include <algorithm>
#include <bit>
#include <new>
#include <sys/mman.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Enough for the text and hex tails, the chunks being written, and a few more.
constexpr size_t kSpareBuffers = 8;

} // namespace

ChunkPool::ChunkPool(size_t bytes)
    : m_bytes(bytes)
{
}

ChunkPool::~ChunkPool()
{
    for (void *buffer : m_spare)
        munmap(buffer, m_bytes);
}

void *ChunkPool::take()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_spare.empty()) {
            void *buffer = m_spare.back();
            m_spare.pop_back();
            return buffer;
        }
    }
    void *buffer = mmap(nullptr, m_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (buffer == MAP_FAILED)
        throw std::bad_alloc();
    return buffer;
}

void ChunkPool::give(void *buffer)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_spare.size() < kSpareBuffers) {
            m_spare.push_back(buffer);
            return;
        }
    }
    munmap(buffer, m_bytes);
}

Chunk::Chunk(quint64 chunkId, bool isHex, qint32 chunkCapacity, std::shared_ptr<ChunkPool> pool)
    : id(chunkId)
    , hex(isHex)
    , capacity(chunkCapacity)
    , memory(pool->take())
    , m_memoryHold(memory, [pool](void *buffer) { pool->give(buffer); })
{
}

Chunk::~Chunk()
{
    releaseMemory();
    if (file)
        file->release(fileOffset, fileLength);
}

qint32 Chunk::size() const
{
    return hex ? used * TextUnits::kHexTokenChars : used;
}

void Chunk::releaseMemory()
{
    memory = nullptr;
    m_memoryHold.reset();
    std::vector<quint32>().swap(breaks);
}

std::vector<quint32> Chunk::findBreaks(const char16_t *chars, qint32 count)
{
    std::vector<quint32> found;
    addBreaks(chars, count, 0, found);
    return found;
}

void Chunk::addBreaks(const char16_t *chars, qint32 count, quint32 first, std::vector<quint32> &found)
{
    // Every character received in text display passes here on the window's thread: eight at a time are
    // looked at together, and only a group holding a CR or an LF one by one.
    qint32 i = 0;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi16(u'\n');
    const __m128i cr = _mm_set1_epi16(u'\r');
    for (; i + 8 <= count; i += 8) {
        const __m128i group = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chars + i));
        // A byte's bit per character: each sets two, the lower one is kept.
        auto mask = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(group, lf), _mm_cmpeq_epi16(group, cr))))
            & 0x5555u;
        for (; mask != 0; mask &= mask - 1)
            found.push_back(first + quint32(i + (std::countr_zero(mask) >> 1)));
    }
#endif
    for (; i < count; ++i) {
        if (TextUnits::isLineBreak(QChar(chars[i])))
            found.push_back(first + quint32(i));
    }
}

char16_t ChunkView::at(const Chunk &chunk, qint32 i) const
{
    if (!chunk.hex)
        return chars()[i];
    return TextUnits::hexTokenChar(raw()[i / TextUnits::kHexTokenChars], i);
}

void ChunkView::read(const Chunk &chunk, qint32 from, qint32 to, QString &out) const
{
    if (!chunk.hex) {
        out += QStringView(chars() + from, to - from);
        return;
    }
    using TextUnits::kHexTokenChars;
    qint32 i = from;
    for (; i < to && !TextUnits::isHexTokenStart(i); ++i)
        out += QChar(at(chunk, i));
    const qsizetype done = out.size();
    const qint32 whole = std::max(0, (to - i) / kHexTokenChars);
    out.resize(done + kHexTokenChars * qsizetype(whole));
    TextUnits::writeHexTokens(raw() + i / kHexTokenChars, whole, reinterpret_cast<char16_t *>(out.data()) + done);
    i += kHexTokenChars * whole;
    for (; i < to; ++i)
        out += QChar(at(chunk, i));
}
