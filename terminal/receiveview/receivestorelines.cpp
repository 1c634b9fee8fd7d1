// SPDX-License-Identifier: GPL-3.0-or-later
// Where the receive store's lines start and end: from the breaks of the chunks in memory, and from the
// first and last break kept for a chunk on disk, reading it back only where those do not tell.
#include "terminal/receiveview/receivestore.h"

#include "terminal/receiveview/chunk.h"
#include "terminal/receiveview/textunits.h"

#include <algorithm>

bool ReceiveStore::isLineStart(qint64 position) const
{
    return TextUnits::isLineStartAt(*this, position);
}

int ReceiveStore::breakLength(qint64 position) const
{
    return TextUnits::breakLengthAt(*this, position);
}

// Whether characters [from, to) of the chunk may hold a break, answered without reading a chunk back
// where its first and last break tell.
bool ReceiveStore::mayHoldBreak(const Chunk &chunk, qint64 from, qint64 to) const
{
    if (chunk.hex)
        return false;
    if (chunk.resident())
        return true;
    return chunk.firstBreak >= 0 && chunk.lastBreak >= from && chunk.firstBreak < to;
}

qint64 ReceiveStore::lineStart(qint64 position) const
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
