// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/receivestore.h"

#include "terminal/capture/blocks.h"
#include "terminal/capture/chunk.h"
#include "terminal/capture/memorybudget.h"
#include "terminal/capture/scratchblocks.h"
#include "terminal/capture/sealedblock.h"
#include "terminal/capture/textunits.h"

#include <QThreadPool>

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

namespace {

// Freeing this much takes longer than a click may (many blocks handed back, a large file closed).
constexpr qint64 kFreeInBackground = 1 << 22;
// A store with a scratch file is bounded by its disk, not by a count of characters.
constexpr qint64 kUnbounded = qint64(1) << 62;
// Memory the store takes per character of text: UTF-16.
constexpr qint64 kBytesPerTextChar = 2;

// Half of what the process may still take: the other half is for everything else, a save included.
qint64 memoryFor(const ReceiveStore::Options &options)
{
    return (options.memoryHeadroom >= 0 ? options.memoryHeadroom : MemoryBudget::headroom()) / 2;
}

std::unique_ptr<Blocks> makeBlocks(
    const ReceiveStore::Options &options, const std::shared_ptr<ChunkPool> &pool, qint64 memory)
{
    ScratchFile::Why why;
    if (options.scratch) {
        if (!SealedBlock::ready()) {
            why.refusal = ScratchFile::Refusal::NoKey;
        } else if (auto blocks = ScratchBlocks::open(
                       { *options.scratch, options.waitingBytes, options.cacheChunks, memory }, pool, &why)) {
            return blocks;
        }
    }
    return std::make_unique<MemoryBlocks>(why);
}

} // namespace

ReceiveStore::ReceiveStore()
    : ReceiveStore(Options {})
{
}

ReceiveStore::ReceiveStore(const Options &options)
    : m_options(options)
    , m_pool(std::make_shared<ChunkPool>(size_t(std::max(options.chunkBytes, 2))))
    , m_blocks(makeBlocks(options, m_pool, memoryFor(options)))
    , m_table(*m_blocks)
    , m_maximum(kUnbounded)
    // Counted as text, the costlier kind.
    , m_memoryMaximum(std::max<qint64>(memoryFor(options) / kBytesPerTextChar, 1))
{
    if (auto *scratch = dynamic_cast<ScratchBlocks *>(m_blocks.get()))
        scratch->setOwner([this](qint64 file, qint64 memory) { return makeRoom(file, memory); },
            [this](bool onDisk) { placeChanged(onDisk); });
    else
        m_maximum = m_memoryMaximum;
}

ReceiveStore::~ReceiveStore()
{
    // The blocks go first: the chunks let go after them need no holes punched in a file about to go.
    m_blocks.reset();
}

void ReceiveStore::setMaximum(qint64 characters)
{
    m_maximum = std::max<qint64>(characters, 1);
}

QString ReceiveStore::text(qint64 from, qint64 to) const
{
    return m_table.text(from, to);
}

QChar ReceiveStore::at(qint64 position) const
{
    return m_table.at(position);
}

qint64 ReceiveStore::lineStart(qint64 position) const
{
    return m_table.lineStart(position);
}

qint64 ReceiveStore::lineEnd(qint64 position, qint64 limit) const
{
    return m_table.lineEnd(position, limit);
}

int ReceiveStore::breakLength(qint64 position) const
{
    return m_table.breakLength(position);
}

bool ReceiveStore::isLineStart(qint64 position) const
{
    return m_table.isLineStart(position);
}

QString ReceiveStore::scratchFolder() const
{
    return m_blocks->folder();
}

std::shared_ptr<ScratchFile> ReceiveStore::scratchFile() const
{
    return m_blocks->file();
}

const ScratchFile::Why &ReceiveStore::inMemoryBecause() const
{
    return m_blocks->inMemoryBecause();
}

qint64 ReceiveStore::diskBytes() const
{
    return m_blocks->diskBytes();
}

qint64 ReceiveStore::memoryBytes() const
{
    qint64 bytes = m_blocks->memoryBytes();
    for (const auto *tail : { &m_textTail, &m_hexTail }) {
        if (*tail && (*tail)->resident())
            bytes += qint64(m_pool->bytes());
    }
    return bytes;
}

bool ReceiveStore::behind() const
{
    return m_blocks->behind();
}

void ReceiveStore::flush()
{
    m_blocks->flush();
}

std::shared_ptr<Chunk> ReceiveStore::newChunk(bool hex)
{
    const qint32 capacity = hex ? m_options.chunkBytes : m_options.chunkBytes / qint32(sizeof(char16_t));
    return std::make_shared<Chunk>(m_nextId++, hex, std::max(capacity, 1), m_pool);
}

void ReceiveStore::sealIfFull(const std::shared_ptr<Chunk> &chunk)
{
    if (!chunk->full())
        return;
    if (!chunk->hex) {
        chunk->breaks.shrink_to_fit();
        chunk->firstBreak = chunk->breaks.empty() ? -1 : qint32(chunk->breaks.front());
        chunk->lastBreak = chunk->breaks.empty() ? -1 : qint32(chunk->breaks.back());
        chunk->lineBreaks
            = qint32(TextUnits::countLineBreaks(static_cast<const char16_t *>(chunk->memory), chunk->used));
        chunk->firstChar = static_cast<const char16_t *>(chunk->memory)[0];
        chunk->lastChar = static_cast<const char16_t *>(chunk->memory)[chunk->used - 1];
    }
    m_blocks->append(chunk);
}

void ReceiveStore::addPiece(
    std::vector<Piece> &pieces, const std::shared_ptr<Chunk> &chunk, qint32 offset, qint32 length, qint64 start)
{
    if (!pieces.empty() && pieces.back().chunk == chunk && pieces.back().offset + pieces.back().length == offset) {
        pieces.back().length += length;
        return;
    }
    pieces.push_back({ chunk, start, offset, length });
}

// Pieces go to `pieces` as they are written: when a new chunk cannot be had, what was written so far stays.
void ReceiveStore::writeText(QStringView text, qint64 start, std::vector<Piece> &pieces)
{
    while (!text.isEmpty()) {
        if (!m_textTail || m_textTail->full())
            m_textTail = newChunk(false);
        Chunk &chunk = *m_textTail;
        const qint32 offset = chunk.used;
        const auto n = qint32(std::min<qsizetype>(text.size(), chunk.capacity - offset));
        const char16_t *data = text.utf16();
        Chunk::addBreaks(data, n, quint32(offset), chunk.breaks);
        std::memcpy(static_cast<char16_t *>(chunk.memory) + offset, data, size_t(n) * sizeof(char16_t));
        chunk.used += n;
        addPiece(pieces, m_textTail, offset, n, start);
        start += n;
        text = text.sliced(n);
        sealIfFull(m_textTail);
    }
}

void ReceiveStore::writeHex(QByteArrayView bytes, qint64 start, std::vector<Piece> &pieces)
{
    while (!bytes.isEmpty()) {
        if (!m_hexTail || m_hexTail->full())
            m_hexTail = newChunk(true);
        Chunk &chunk = *m_hexTail;
        const qint32 offset = chunk.size();
        const auto n = qint32(std::min<qsizetype>(bytes.size(), chunk.capacity - chunk.used));
        std::memcpy(static_cast<quint8 *>(chunk.memory) + chunk.used, bytes.data(), size_t(n));
        chunk.used += n;
        addPiece(pieces, m_hexTail, offset, TextUnits::kHexTokenChars * n, start);
        start += TextUnits::kHexTokenChars * n;
        bytes = bytes.sliced(n);
        sealIfFull(m_hexTail);
    }
}

template <typename Data, typename Write> qint64 ReceiveStore::append(Data data, Write write)
{
    qint64 dropped = m_blocks->settle();
    while (!data.isEmpty()) {
        std::vector<Piece> pieces;
        bool outOfMemory = false;
        try {
            (this->*write)(data, m_table.end(), pieces);
        } catch (const std::bad_alloc &) {
            outOfMemory = true;
        }
        qint64 written = 0;
        for (const Piece &piece : pieces)
            written += piece.length;
        m_table.append(std::move(pieces));
        if constexpr (std::is_same_v<Data, QByteArrayView>)
            written /= TextUnits::kHexTokenChars;
        data = data.sliced(written);
        dropped += dropOldest();
        if (outOfMemory) {
            const qint64 made = makeWayForMemory();
            if (made < 0)
                break;
            dropped += made;
        }
    }
    return dropped;
}

qint64 ReceiveStore::appendText(QStringView text)
{
    return append(text, &ReceiveStore::writeText);
}

qint64 ReceiveStore::appendHex(QByteArrayView bytes)
{
    return append(bytes, &ReceiveStore::writeHex);
}

qint64 ReceiveStore::insert(qint64 position, QStringView text)
{
    position = std::clamp<qint64>(position, 0, size());
    if (text.isEmpty())
        return 0;
    if (position == size())
        return appendText(text);
    qint64 dropped = m_blocks->settle();
    ++m_edits;
    std::vector<Piece> pieces;
    try {
        writeText(text, position + origin(), pieces);
    } catch (const std::bad_alloc &) {
        // What could be written goes in; typing into a store that has no memory left loses the rest.
    }
    m_table.insert(position, std::move(pieces));
    return dropped + dropOldest();
}

void ReceiveStore::remove(qint64 from, qint64 to)
{
    from = std::clamp<qint64>(from, 0, size());
    to = std::clamp<qint64>(to, 0, size());
    if (from >= to)
        return;
    ++m_edits;
    discard(m_table.remove(from, to), to - from);
}

void ReceiveStore::clear()
{
    ++m_edits;
    const qint64 held = size();
    m_textTail.reset();
    m_hexTail.reset();
    discard(m_table.clear(), held);
    m_blocks->clear();
}

void ReceiveStore::discard(Pieces &&pieces, qint64 characters)
{
    if (characters < kFreeInBackground) {
        Pieces().swap(pieces);
        return;
    }
    // Handing back gigabytes and closing a large file take far longer than a click may; nothing else
    // refers to these chunks but possibly a tail chunk or one being written, whose count is only lowered.
    auto *doomed = new Pieces(std::move(pieces));
    QThreadPool::globalInstance()->start([doomed] { delete doomed; });
}

// Drops the oldest data until at least `fileBytes` of the scratch file and `memoryBytes` of chunks waiting
// for the disk are let go, or until only the newest chunks are left.
qint64 ReceiveStore::makeRoom(qint64 fileBytes, qint64 memoryBytes)
{
    std::unordered_set<quint64> seen;
    qint64 freedFile = 0;
    qint64 freedMemory = 0;
    qint64 cut = 0;
    for (const Piece &piece : m_table.pieces()) {
        if (freedFile >= fileBytes && freedMemory >= memoryBytes)
            break;
        if (piece.chunk == m_textTail || piece.chunk == m_hexTail)
            break;
        // Room on the disk comes only from data on the disk; what is still in memory is newer than all of it.
        if (freedMemory >= memoryBytes && !piece.chunk->spilled())
            break;
        if (seen.insert(piece.chunk->id).second) {
            freedFile += piece.chunk->fileLength;
            if (piece.chunk->resident() && !piece.chunk->writing)
                freedMemory += qint64(m_pool->bytes());
        }
        cut = piece.end() - origin();
    }
    return cut > 0 ? m_table.dropFront(cut) : 0;
}

// The file a clear made is there, or could not be made: then the store keeps what memory allows.
void ReceiveStore::placeChanged(bool onDisk)
{
    if (onDisk == m_onDisk)
        return;
    m_onDisk = onDisk;
    m_maximum = onDisk ? kUnbounded : std::min(m_maximum, m_memoryMaximum);
}

qint64 ReceiveStore::dropOldest()
{
    const qint64 excess = size() - m_maximum;
    return excess > 0 ? m_table.dropFront(excess) : 0;
}

// The system gave no memory for a new chunk: from now on the store keeps at most three quarters of what it
// holds, and the oldest data makes way for the newest. -1 when there is nothing left to give.
qint64 ReceiveStore::makeWayForMemory()
{
    if (size() < 2)
        return -1;
    m_maximum = std::max<qint64>(size() / 4 * 3, 1);
    return dropOldest();
}
