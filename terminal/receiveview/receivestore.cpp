// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivestore.h"

#include "terminal/receiveview/chunk.h"
#include "terminal/receiveview/memorybudget.h"
#include "terminal/receiveview/sealedblock.h"
#include "terminal/receiveview/spiller.h"
#include "terminal/receiveview/textunits.h"

#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <new>

namespace {

// Freeing this much takes longer than a click may (many blocks handed back, a large file closed).
constexpr qint64 kFreeInBackground = 1 << 22;
// A store with a scratch file is bounded by its disk, not by a count of characters.
constexpr qint64 kUnbounded = qint64(1) << 62;
// Memory the store takes per character of text: UTF-16.
constexpr qint64 kBytesPerTextChar = 2;

} // namespace

struct ReceiveStore::Cached
{
    quint64 id;
    quint64 lastUse;
    QByteArray data;
    std::vector<quint32> breaks;
};

struct ReceiveStore::Opening
{
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    std::shared_ptr<ScratchFile> file;
    ScratchFile::Why why;
};

ReceiveStore::ReceiveStore()
    : ReceiveStore(Options {})
{
}

ReceiveStore::ReceiveStore(const Options &options)
    : m_options(options)
    , m_pool(std::make_shared<ChunkPool>(size_t(std::max(options.chunkBytes, 2))))
    , m_maximum(kUnbounded)
{
    // Half of what the process may still take: the other half is for everything else, a save included.
    const qint64 memory = (m_options.memoryHeadroom >= 0 ? m_options.memoryHeadroom : MemoryBudget::headroom()) / 2;
    // Counted as text, the costlier kind.
    m_memoryMaximum = std::max<qint64>(memory / kBytesPerTextChar, 1);
    if (m_options.scratch)
        m_file = openFile(*m_options.scratch, memory, &m_inMemoryBecause);
    if (m_file)
        m_spiller = std::make_unique<Spiller>();
    else
        m_maximum = m_memoryMaximum;
}

std::shared_ptr<ScratchFile> ReceiveStore::openFile(
    const ScratchFile::Place &place, qint64 memory, ScratchFile::Why *why)
{
    if (!SealedBlock::ready()) {
        *why = { ScratchFile::Refusal::NoKey, 0, {} };
        return nullptr;
    }
    auto file = ScratchFile::open(place, why);
    // A disk that would keep less than memory can (a small or nearly full cache file system, a file-size
    // limit) is not worth the file: the larger of the two is kept.
    if (file && file->room() < memory) {
        *why = { ScratchFile::Refusal::TooLittleRoom, 0, file->folder() };
        file.reset();
    }
    return file;
}

// The folder may be on a network or a stick that takes seconds to answer: the file is made on a worker,
// and taken up by the next append once it is there.
void ReceiveStore::startOpening()
{
    auto opening = std::make_shared<Opening>();
    m_opening = opening;
    QThreadPool::globalInstance()->start(
        [opening, place = *m_options.scratch, memory = m_memoryMaximum * kBytesPerTextChar] {
            ScratchFile::Why why;
            auto file = openFile(place, memory, &why);
            std::lock_guard lock(opening->mutex);
            opening->file = std::move(file);
            opening->why = why;
            opening->done = true;
            opening->ready.notify_all();
        });
}

void ReceiveStore::adoptFile()
{
    if (!m_opening)
        return;
    {
        std::lock_guard lock(m_opening->mutex);
        if (!m_opening->done)
            return;
        m_file = std::move(m_opening->file);
        if (m_file && m_inMemoryBecause.refusal != ScratchFile::Refusal::None)
            m_maximum = kUnbounded; // the last clear's file could not be made; this one could
        m_inMemoryBecause = m_opening->why;
    }
    m_opening.reset();
    if (!m_file) {
        // Held in memory from now on, as if the store had started without a file; the next clear tries again.
        m_maximum = std::min(m_maximum, m_memoryMaximum);
    } else {
        for (const auto &weak : m_awaitingFile) {
            if (const auto chunk = weak.lock(); chunk && chunk->resident()) {
                chunk->writing = true;
                m_spiller->submit(chunk, m_file);
            }
        }
    }
    m_awaitingFile.clear();
}

qint64 ReceiveStore::awaitingBytes() const
{
    qint64 bytes = 0;
    for (const auto &weak : m_awaitingFile) {
        if (const auto chunk = weak.lock(); chunk && chunk->resident())
            bytes += qint64(m_pool->bytes());
    }
    return bytes;
}

ReceiveStore::~ReceiveStore()
{
    // The spiller's thread ends before the chunks it may be writing go.
    m_spiller.reset();
    // The file goes with the store: the blocks let go now need no holes punched.
    if (m_file)
        m_file->retire();
}

void ReceiveStore::setMaximum(qint64 characters)
{
    m_maximum = std::max<qint64>(characters, 1);
}

QString ReceiveStore::scratchFolder() const
{
    return m_file ? m_file->folder() : QString();
}

qint64 ReceiveStore::diskBytes() const
{
    return m_file ? m_file->diskBytes() : 0;
}

qint64 ReceiveStore::memoryBytes() const
{
    qint64 bytes = 0;
    for (const auto &cached : m_cache)
        bytes += cached->data.size();
    const auto count = [&](const std::shared_ptr<Chunk> &chunk) {
        if (chunk && chunk->resident())
            bytes += qint64(m_pool->bytes());
    };
    count(m_textTail);
    count(m_hexTail);
    for (const auto &weak : m_unwritten)
        count(weak.lock());
    return bytes + awaitingBytes() + (m_spiller ? m_spiller->pendingBytes() : 0);
}

bool ReceiveStore::behind() const
{
    if (!m_spiller)
        return false;
    if (m_spiller->queuedBytes() > m_options.waitingBytes)
        return true;
    // Chunks wait in memory for the file a clear is making; once it is made, the next append hands them on.
    if (!m_opening || awaitingBytes() <= m_options.waitingBytes)
        return false;
    std::lock_guard lock(m_opening->mutex);
    return !m_opening->done;
}

void ReceiveStore::flush()
{
    if (!m_spiller)
        return;
    if (const auto opening = m_opening) {
        std::unique_lock lock(opening->mutex);
        opening->ready.wait(lock, [&] { return opening->done; });
    }
    takeResults();
    m_spiller->waitBelow(0);
    // The last result may still be on its way from the thread: wait until nothing is pending.
    while (m_spiller->pendingBytes() > 0) {
        takeResults();
        if (m_spiller->pendingBytes() > 0)
            m_spiller->waitBelow(0);
    }
}

ChunkView ReceiveStore::view(const Chunk &chunk) const
{
    if (chunk.resident())
        return { chunk.memory, &chunk.breaks, {} };
    const auto hit = std::find_if(
        m_cache.begin(), m_cache.end(), [&](const std::shared_ptr<Cached> &c) { return c->id == chunk.id; });
    if (hit != m_cache.end()) {
        (*hit)->lastUse = ++m_cacheClock;
        return { (*hit)->data.constData(), &(*hit)->breaks, *hit };
    }
    if (qsizetype(m_cache.size()) >= std::max(m_options.cacheChunks, 1))
        m_cache.erase(std::min_element(
            m_cache.begin(), m_cache.end(), [](const std::shared_ptr<Cached> &a, const std::shared_ptr<Cached> &b) {
                return a->lastUse < b->lastUse;
            }));
    QByteArray sealed(chunk.fileLength, Qt::Uninitialized);
    QByteArray data;
    if (chunk.file && chunk.file->read(chunk.fileOffset, sealed.data(), sealed.size()))
        data = SealedBlock::open(sealed, qint64(chunk.id));
    if (data.size() != qsizetype(chunk.usedBytes())) {
        // The disk gave back something else than was written: show replacement characters, never garbage.
        qWarning("receive store: a block of the scratch file could not be read back");
        const QString replacement(chunk.used, QChar::ReplacementCharacter);
        data = chunk.hex
            ? QByteArray(qsizetype(chunk.usedBytes()), '\0')
            : QByteArray(reinterpret_cast<const char *>(replacement.utf16()), qsizetype(chunk.usedBytes()));
    }
    auto cached = std::make_shared<Cached>(Cached { chunk.id, ++m_cacheClock, std::move(data), {} });
    if (!chunk.hex)
        cached->breaks = Chunk::findBreaks(reinterpret_cast<const char16_t *>(cached->data.constData()), chunk.used);
    m_cache.push_back(cached);
    return { cached->data.constData(), &cached->breaks, cached };
}

qsizetype ReceiveStore::pieceAt(qint64 absolute) const
{
    const auto after = std::upper_bound(
        m_pieces.begin(), m_pieces.end(), absolute, [](qint64 a, const Piece &piece) { return a < piece.start; });
    return std::max<qsizetype>(after - m_pieces.begin() - 1, 0);
}

QChar ReceiveStore::at(qint64 position) const
{
    if (position < 0 || position >= size())
        return {};
    const Piece &piece = m_pieces[std::size_t(pieceAt(position + m_origin))];
    return QChar(view(*piece.chunk).at(*piece.chunk, piece.offset + qint32(position + m_origin - piece.start)));
}

QString ReceiveStore::text(qint64 from, qint64 to) const
{
    from = std::clamp<qint64>(from, 0, size()) + m_origin;
    to = std::clamp<qint64>(to, 0, size()) + m_origin;
    QString out;
    if (from >= to)
        return out;
    out.reserve(to - from);
    for (qsizetype i = pieceAt(from); i < qsizetype(m_pieces.size()) && m_pieces[std::size_t(i)].start < to; ++i) {
        const Piece &piece = m_pieces[std::size_t(i)];
        const qint64 a = std::max(from, piece.start);
        const qint64 b = std::min(to, piece.end());
        view(*piece.chunk)
            .read(*piece.chunk, piece.offset + qint32(a - piece.start), piece.offset + qint32(b - piece.start), out);
    }
    return out;
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
    }
    if (m_file) {
        chunk->writing = true;
        m_spiller->submit(chunk, m_file);
    } else if (m_opening) {
        m_awaitingFile.push_back(chunk);
    }
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
        for (qint32 i = 0; i < n; ++i) {
            if (TextUnits::isLineBreak(QChar(data[i])))
                chunk.breaks.push_back(quint32(offset + i));
        }
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

void ReceiveStore::appendPieces(std::vector<Piece> &&pieces)
{
    for (Piece &piece : pieces) {
        m_end += piece.length;
        if (!m_pieces.empty() && m_pieces.back().chunk == piece.chunk
            && m_pieces.back().offset + m_pieces.back().length == piece.offset)
            m_pieces.back().length += piece.length;
        else
            m_pieces.push_back(std::move(piece));
    }
}

template <typename Data, typename Write> qint64 ReceiveStore::append(Data data, Write write)
{
    qint64 dropped = takeResults();
    while (!data.isEmpty()) {
        std::vector<Piece> pieces;
        bool outOfMemory = false;
        try {
            (this->*write)(data, m_end, pieces);
        } catch (const std::bad_alloc &) {
            outOfMemory = true;
        }
        qint64 written = 0;
        for (const Piece &piece : pieces)
            written += piece.length;
        appendPieces(std::move(pieces));
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

qsizetype ReceiveStore::split(qint64 absolute)
{
    if (absolute >= m_end)
        return qsizetype(m_pieces.size());
    const qsizetype i = pieceAt(absolute);
    Piece &piece = m_pieces[std::size_t(i)];
    if (piece.start == absolute)
        return i;
    const auto head = qint32(absolute - piece.start);
    Piece tail { piece.chunk, absolute, piece.offset + head, piece.length - head };
    piece.length = head;
    m_pieces.insert(m_pieces.begin() + i + 1, std::move(tail));
    return i + 1;
}

qint64 ReceiveStore::insert(qint64 position, QStringView text)
{
    position = std::clamp<qint64>(position, 0, size());
    if (text.isEmpty())
        return 0;
    if (position == size())
        return appendText(text);
    qint64 dropped = takeResults();
    ++m_edits;
    const qint64 absolute = position + m_origin;
    const qsizetype at = split(absolute);
    std::vector<Piece> pieces;
    try {
        writeText(text, absolute, pieces);
    } catch (const std::bad_alloc &) {
        // What could be written goes in; typing into a store that has no memory left loses the rest.
    }
    qint64 n = 0;
    for (const Piece &piece : pieces)
        n += piece.length;
    for (auto i = qsizetype(at); i < qsizetype(m_pieces.size()); ++i)
        m_pieces[std::size_t(i)].start += n;
    m_pieces.insert(
        m_pieces.begin() + at, std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    m_end += n;
    return dropped + dropOldest();
}

void ReceiveStore::remove(qint64 from, qint64 to)
{
    from = std::clamp<qint64>(from, 0, size()) + m_origin;
    to = std::clamp<qint64>(to, 0, size()) + m_origin;
    if (from >= to)
        return;
    ++m_edits;
    const qsizetype first = split(from);
    const qsizetype last = split(to);
    Pieces removed(std::make_move_iterator(m_pieces.begin() + first), std::make_move_iterator(m_pieces.begin() + last));
    m_pieces.erase(m_pieces.begin() + first, m_pieces.begin() + last);
    for (auto i = qsizetype(first); i < qsizetype(m_pieces.size()); ++i)
        m_pieces[std::size_t(i)].start -= to - from;
    m_end -= to - from;
    discard(std::move(removed), to - from);
}

void ReceiveStore::clear()
{
    ++m_edits;
    const qint64 held = size();
    m_textTail.reset();
    m_hexTail.reset();
    m_unwritten.clear();
    m_cache.clear();
    m_origin = 0;
    m_end = 0;
    discard(std::move(m_pieces), held);
    m_pieces = Pieces();
    m_awaitingFile.clear();
    if (m_spiller) {
        // The old file goes with the last chunk that refers to it, on the thread that lets the chunks go:
        // its blocks need no holes punched any more. A new one starts empty (one still being made is as
        // good as new).
        if (m_file) {
            m_file->retire();
            m_spiller->forget(m_file);
            m_file.reset();
        }
        if (!m_opening)
            startOpening();
    }
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
