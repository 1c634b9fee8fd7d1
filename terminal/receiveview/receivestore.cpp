// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivestore.h"

#include <QThreadPool>

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// Freeing this much takes longer than a click may (many large blocks handed back to the system).
constexpr qint64 kFreeInBackground = 1 << 22;

// Memory the store takes per character of text: UTF-16.
constexpr qint64 kBytesPerTextChar = 2;

} // namespace

// A chunk's storage is mapped from the system directly rather than taken from the allocator: freed, it goes
// back to the system at once, where the allocator would keep a cleared area's memory in the process.
// One capacity serves both kinds: characters in a text chunk, bytes in a hex chunk.
static_assert(ReceiveStore::kHexChunkBytes == ReceiveStore::kTextChunkChars);

struct ReceiveStore::Chunk
{
    explicit Chunk(bool isHex)
        : hex(isHex)
        , capacity(kTextChunkChars)
        , memory(mmap(nullptr, bytes(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))
    {
        if (memory == MAP_FAILED)
            throw std::bad_alloc();
    }
    ~Chunk() { munmap(memory, bytes()); }
    Chunk(const Chunk &) = delete;
    Chunk &operator=(const Chunk &) = delete;

    size_t bytes() const { return hex ? size_t(capacity) : size_t(capacity) * sizeof(char16_t); }
    const char16_t *chars() const { return static_cast<const char16_t *>(memory); }
    const quint8 *raw() const { return static_cast<const quint8 *>(memory); }
    // In the chunk's characters: three per byte of a hex chunk.
    qint32 size() const { return hex ? used * 3 : used; }
    bool full() const { return used == capacity; }

    char16_t at(qint32 i) const
    {
        if (!hex)
            return chars()[i];
        const quint8 byte = raw()[i / 3];
        switch (i % 3) {
        case 0:
            return kHexDigits[byte >> 4];
        case 1:
            return kHexDigits[byte & 15];
        default:
            return u' ';
        }
    }

    void read(qint32 from, qint32 to, QString &out) const
    {
        if (!hex) {
            out += QStringView(chars() + from, to - from);
            return;
        }
        for (qint32 i = from; i < to && i % 3 != 0; ++i)
            out += QChar(at(i));
        qint32 i = std::max(from, (from + 2) / 3 * 3);
        const qsizetype done = out.size();
        const qint32 whole = std::max(0, (to - i) / 3);
        out.resize(done + 3 * qsizetype(whole));
        char16_t *write = reinterpret_cast<char16_t *>(out.data()) + done;
        for (qint32 k = 0; k < whole; ++k, i += 3) {
            const quint8 byte = raw()[i / 3];
            *write++ = kHexDigits[byte >> 4];
            *write++ = kHexDigits[byte & 15];
            *write++ = u' ';
        }
        for (; i < to; ++i)
            out += QChar(at(i));
    }

    const bool hex;
    const qint32 capacity; // characters of a text chunk, bytes of a hex chunk
    void *const memory;
    qint32 used = 0;
    std::vector<quint16> breaks; // offsets of CR and LF in a text chunk, ascending
};

ReceiveStore::ReceiveStore()
    : m_maximum(defaultMaximum())
{
}

ReceiveStore::~ReceiveStore() = default;

qint64 ReceiveStore::defaultMaximum()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return qint64(1) << 30;
    return qint64(pages) * pageSize / 2 / kBytesPerTextChar;
}

void ReceiveStore::setMaximum(qint64 characters)
{
    m_maximum = std::max<qint64>(characters, 1);
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
    return QChar(piece.chunk->at(piece.offset + qint32(position + m_origin - piece.start)));
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
        piece.chunk->read(piece.offset + qint32(a - piece.start), piece.offset + qint32(b - piece.start), out);
    }
    return out;
}

void ReceiveStore::addPiece(
    std::vector<Piece> &pieces, const std::shared_ptr<Chunk> &chunk, qint32 offset, qint32 length, qint64 start) const
{
    if (!pieces.empty() && pieces.back().chunk == chunk && pieces.back().offset + pieces.back().length == offset) {
        pieces.back().length += length;
        return;
    }
    pieces.push_back({ chunk, start, offset, length });
}

std::vector<ReceiveStore::Piece> ReceiveStore::writeText(QStringView text, qint64 start)
{
    std::vector<Piece> pieces;
    while (!text.isEmpty()) {
        if (!m_textTail || m_textTail->full()) {
            if (m_textTail)
                m_textTail->breaks.shrink_to_fit();
            m_textTail = std::make_shared<Chunk>(false);
        }
        Chunk &chunk = *m_textTail;
        const qint32 offset = chunk.used;
        const auto n = qint32(std::min<qsizetype>(text.size(), chunk.capacity - offset));
        const char16_t *data = text.utf16();
        for (qint32 i = 0; i < n; ++i) {
            if (data[i] == u'\n' || data[i] == u'\r')
                chunk.breaks.push_back(quint16(offset + i));
        }
        std::memcpy(static_cast<char16_t *>(chunk.memory) + offset, data, size_t(n) * sizeof(char16_t));
        chunk.used += n;
        addPiece(pieces, m_textTail, offset, n, start);
        start += n;
        text = text.sliced(n);
    }
    return pieces;
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

qint64 ReceiveStore::appendText(QStringView text)
{
    appendPieces(writeText(text, m_end));
    return dropOldest();
}

qint64 ReceiveStore::appendHex(QByteArrayView bytes)
{
    std::vector<Piece> pieces;
    qint64 start = m_end;
    while (!bytes.isEmpty()) {
        if (!m_hexTail || m_hexTail->full())
            m_hexTail = std::make_shared<Chunk>(true);
        Chunk &chunk = *m_hexTail;
        const qint32 offset = chunk.size();
        const auto n = qint32(std::min<qsizetype>(bytes.size(), chunk.capacity - chunk.used));
        std::memcpy(static_cast<quint8 *>(chunk.memory) + chunk.used, bytes.data(), size_t(n));
        chunk.used += n;
        addPiece(pieces, m_hexTail, offset, 3 * n, start);
        start += 3 * n;
        bytes = bytes.sliced(n);
    }
    appendPieces(std::move(pieces));
    return dropOldest();
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
    ++m_edits;
    const qint64 absolute = position + m_origin;
    const qsizetype at = split(absolute);
    std::vector<Piece> pieces = writeText(text, absolute);
    const qint64 n = text.size();
    for (auto i = qsizetype(at); i < qsizetype(m_pieces.size()); ++i)
        m_pieces[std::size_t(i)].start += n;
    m_pieces.insert(
        m_pieces.begin() + at, std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    m_end += n;
    return dropOldest();
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
    m_origin = 0;
    m_end = 0;
    discard(std::move(m_pieces), held);
    m_pieces = Pieces();
}

void ReceiveStore::discard(Pieces &&pieces, qint64 characters)
{
    if (characters < kFreeInBackground) {
        Pieces().swap(pieces);
        return;
    }
    // Handing back gigabytes takes far longer than a click may; nothing else refers to these chunks but
    // possibly a tail chunk, whose count is only lowered there.
    auto *doomed = new Pieces(std::move(pieces));
    QThreadPool::globalInstance()->start([doomed] { delete doomed; });
}

qint64 ReceiveStore::dropOldest()
{
    const qint64 excess = size() - m_maximum;
    if (excess <= 0)
        return 0;
    // Cut at the next line start if one is near, so the top line is whole; otherwise exactly, but never
    // between the halves of a surrogate pair.
    qint64 cut = excess;
    if (!isLineStart(cut)) {
        const qint64 limit = excess + kTextChunkChars;
        const qint64 end = lineEnd(excess, limit);
        if (end < limit && end < size())
            cut = end + breakLength(end);
        else if (at(cut - 1).isHighSurrogate() && at(cut).isLowSurrogate())
            ++cut;
    }
    const qint64 absolute = cut + m_origin;
    const qsizetype first = split(absolute);
    Pieces removed(std::make_move_iterator(m_pieces.begin()), std::make_move_iterator(m_pieces.begin() + first));
    m_pieces.erase(m_pieces.begin(), m_pieces.begin() + first);
    m_origin = absolute;
    discard(std::move(removed), 0);
    return cut;
}

bool ReceiveStore::isLineStart(qint64 position) const
{
    if (position <= 0)
        return true;
    const QChar before = at(position - 1);
    if (before == u'\n')
        return true;
    return before == u'\r' && at(position) != u'\n';
}

int ReceiveStore::breakLength(qint64 position) const
{
    const QChar c = at(position);
    if (c == u'\n')
        return 1;
    if (c != u'\r')
        return 0;
    return at(position + 1) == u'\n' ? 2 : 1;
}

qint64 ReceiveStore::lineStart(qint64 position) const
{
    position = std::clamp<qint64>(position, 0, size());
    if (position == 0)
        return 0;
    const qint64 absolute = position + m_origin;
    for (qsizetype i = pieceAt(absolute - 1); i >= 0; --i) {
        const Piece &piece = m_pieces[std::size_t(i)];
        if (piece.chunk->hex)
            continue;
        const std::vector<quint16> &breaks = piece.chunk->breaks;
        const qint64 localEnd = piece.offset + std::min<qint64>(piece.length, absolute - piece.start);
        auto it = std::lower_bound(breaks.begin(), breaks.end(), localEnd);
        while (it != breaks.begin() && *(it - 1) >= piece.offset) {
            --it;
            const qint64 next = piece.start + (*it - piece.offset) + 1 - m_origin;
            if (isLineStart(next))
                return next;
        }
    }
    return 0;
}

qint64 ReceiveStore::lineEnd(qint64 position, qint64 limit) const
{
    limit = std::min(limit, size());
    position = std::max<qint64>(position, 0);
    if (position >= limit)
        return limit;
    const qint64 absolute = position + m_origin;
    const qint64 absoluteLimit = limit + m_origin;
    for (qsizetype i = pieceAt(absolute);
         i < qsizetype(m_pieces.size()) && m_pieces[std::size_t(i)].start < absoluteLimit; ++i) {
        const Piece &piece = m_pieces[std::size_t(i)];
        if (piece.chunk->hex)
            continue;
        const std::vector<quint16> &breaks = piece.chunk->breaks;
        const qint64 localFrom = piece.offset + std::max<qint64>(0, absolute - piece.start);
        const qint64 localTo = piece.offset + std::min<qint64>(piece.length, absoluteLimit - piece.start);
        const auto it = std::lower_bound(breaks.begin(), breaks.end(), localFrom);
        if (it != breaks.end() && *it < localTo)
            return piece.start + (*it - piece.offset) - m_origin;
    }
    return limit;
}
