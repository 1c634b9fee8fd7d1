// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/piecetable.h"

#include "terminal/capture/blocks.h"
#include "terminal/capture/chunk.h"
#include "terminal/capture/textunits.h"

#include <algorithm>

namespace {

// How far past the cut the oldest data looks for a line start to cut at instead.
constexpr qint64 kLineSearchChars = 1 << 16;

} // namespace

PieceTable::PieceTable(const Blocks &blocks)
    : m_blocks(&blocks)
{
}

ChunkView PieceTable::view(const Chunk &chunk) const
{
    return m_blocks->read(chunk);
}

qsizetype PieceTable::pieceAt(qint64 absolute) const
{
    const auto after = std::upper_bound(
        m_pieces.begin(), m_pieces.end(), absolute, [](qint64 a, const Piece &piece) { return a < piece.start; });
    return std::max<qsizetype>(after - m_pieces.begin() - 1, 0);
}

QChar PieceTable::at(qint64 position) const
{
    if (position < 0 || position >= size())
        return {};
    const Piece &piece = m_pieces[std::size_t(pieceAt(position + m_origin))];
    return QChar(view(*piece.chunk).at(*piece.chunk, piece.offset + qint32(position + m_origin - piece.start)));
}

QString PieceTable::text(qint64 from, qint64 to) const
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

bool PieceTable::isLineStart(qint64 position) const
{
    return TextUnits::isLineStartAt(*this, position);
}

int PieceTable::breakLength(qint64 position) const
{
    return TextUnits::breakLengthAt(*this, position);
}

// Whether characters [from, to) of the chunk may hold a break, answered without reading a chunk back
// where its first and last break tell.
bool PieceTable::mayHoldBreak(const Chunk &chunk, qint64 from, qint64 to) const
{
    if (chunk.hex)
        return false;
    if (chunk.resident())
        return true;
    return chunk.firstBreak >= 0 && chunk.lastBreak >= from && chunk.firstBreak < to;
}

qint64 PieceTable::lineStart(qint64 position) const
{
    position = std::clamp<qint64>(position, 0, size());
    if (position == 0)
        return 0;
    const qint64 absolute = position + m_origin;
    for (qsizetype i = pieceAt(absolute - 1); i >= 0; --i) {
        const Piece &piece = m_pieces[std::size_t(i)];
        const qint64 localEnd = piece.offset + std::min<qint64>(piece.length, absolute - piece.start);
        if (!mayHoldBreak(*piece.chunk, piece.offset, localEnd))
            continue;
        const ChunkView chunkView = view(*piece.chunk);
        const std::vector<quint32> &breaks = *chunkView.breaks;
        auto it = std::lower_bound(breaks.begin(), breaks.end(), quint32(localEnd));
        while (it != breaks.begin() && *(it - 1) >= quint32(piece.offset)) {
            --it;
            const qint64 next = piece.start + (qint64(*it) - piece.offset) + 1 - m_origin;
            if (isLineStart(next))
                return next;
        }
    }
    return 0;
}

qint64 PieceTable::lineEnd(qint64 position, qint64 limit) const
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
        const Chunk &chunk = *piece.chunk;
        const qint64 localFrom = piece.offset + std::max<qint64>(0, absolute - piece.start);
        const qint64 localTo = piece.offset + std::min<qint64>(piece.length, absoluteLimit - piece.start);
        if (!mayHoldBreak(chunk, localFrom, localTo))
            continue;
        qint64 found = -1;
        if (!chunk.resident() && chunk.firstBreak >= localFrom) {
            found = chunk.firstBreak;
        } else {
            const ChunkView chunkView = view(chunk);
            const std::vector<quint32> &breaks = *chunkView.breaks;
            const auto it = std::lower_bound(breaks.begin(), breaks.end(), quint32(localFrom));
            if (it != breaks.end())
                found = *it;
        }
        if (found >= 0 && found < localTo)
            return piece.start + (found - piece.offset) - m_origin;
    }
    return limit;
}

void PieceTable::append(std::vector<Piece> &&pieces)
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

qsizetype PieceTable::split(qint64 absolute)
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

void PieceTable::insert(qint64 position, std::vector<Piece> &&pieces)
{
    const qsizetype at = split(position + m_origin);
    qint64 n = 0;
    for (const Piece &piece : pieces)
        n += piece.length;
    for (auto i = qsizetype(at); i < qsizetype(m_pieces.size()); ++i)
        m_pieces[std::size_t(i)].start += n;
    m_pieces.insert(
        m_pieces.begin() + at, std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    m_end += n;
}

PieceTable::Pieces PieceTable::remove(qint64 from, qint64 to)
{
    from = std::clamp<qint64>(from, 0, size()) + m_origin;
    to = std::clamp<qint64>(to, 0, size()) + m_origin;
    if (from >= to)
        return {};
    const qsizetype first = split(from);
    const qsizetype last = split(to);
    Pieces removed(std::make_move_iterator(m_pieces.begin() + first), std::make_move_iterator(m_pieces.begin() + last));
    m_pieces.erase(m_pieces.begin() + first, m_pieces.begin() + last);
    for (auto i = qsizetype(first); i < qsizetype(m_pieces.size()); ++i)
        m_pieces[std::size_t(i)].start -= to - from;
    m_end -= to - from;
    return removed;
}

PieceTable::Pieces PieceTable::clear()
{
    Pieces all;
    all.swap(m_pieces);
    m_origin = 0;
    m_end = 0;
    return all;
}

qint64 PieceTable::wholeUnitCut(qint64 atLeast) const
{
    const qint64 held = size();
    if (atLeast <= 0)
        return 0;
    if (atLeast >= held)
        return at(held - 1) == u'\r' ? held - 1 : held;
    const auto safe = [&](qint64 cut) { return cut < held || at(held - 1) != u'\r'; };
    if (isLineStart(atLeast) && safe(atLeast))
        return atLeast;
    const qint64 limit = atLeast + kLineSearchChars;
    const qint64 end = lineEnd(atLeast, limit);
    if (end < limit && end < held && safe(end + breakLength(end)))
        return end + breakLength(end);
    qint64 cut = atLeast;
    while (cut < held) {
        const Piece &piece = m_pieces[std::size_t(pieceAt(cut + m_origin))];
        if (!piece.chunk->hex) {
            if (TextUnits::isInsideUnit(at(cut - 1), at(cut)))
                ++cut;
            break;
        }
        const qint64 local = piece.offset + (cut + m_origin - piece.start);
        const qint64 next
            = cut + (TextUnits::kHexTokenChars - local % TextUnits::kHexTokenChars) % TextUnits::kHexTokenChars;
        // An edit may have cut the token short: then the unit after it decides.
        if (next < piece.end() - m_origin) {
            cut = next;
            break;
        }
        cut = piece.end() - m_origin;
    }
    return std::min(cut, held);
}

qint64 PieceTable::dropFront(qint64 atLeast)
{
    const qint64 cut = wholeUnitCut(atLeast);
    if (cut <= 0)
        return 0;
    const qint64 absolute = cut + m_origin;
    while (!m_pieces.empty() && m_pieces.front().end() <= absolute)
        m_pieces.pop_front();
    if (!m_pieces.empty() && m_pieces.front().start < absolute) {
        Piece &front = m_pieces.front();
        const auto head = qint32(absolute - front.start);
        front.offset += head;
        front.length -= head;
        front.start = absolute;
    }
    m_origin = absolute;
    return cut;
}
