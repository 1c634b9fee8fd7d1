// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

#include <deque>
#include <memory>
#include <vector>

class Blocks;
struct Chunk;
struct ChunkView;

// The text the receive store holds, as a sequence of pieces over its chunks: an append extends the last
// piece, an edit splits pieces and never moves stored data, and the oldest data makes way in whole units.
//
// Positions count UTF-16 code units from the start of what is held, in 64 bits; a piece's start is
// absolute, counted from the last clear with the dropped characters included (origin() of them). Line
// breaks are LF, CR and CR LF; a CR LF is one break even across pieces.
class PieceTable
{
public:
    struct Piece
    {
        std::shared_ptr<Chunk> chunk;
        qint64 start; // absolute
        qint32 offset; // in the chunk's characters (three per byte of a hex chunk)
        qint32 length;
        qint64 end() const { return start + length; }
    };
    using Pieces = std::deque<Piece>;

    // Reads the chunks through `blocks`.
    explicit PieceTable(const Blocks &blocks);

    qint64 size() const { return m_end - m_origin; }
    qint64 origin() const { return m_origin; }
    const Pieces &pieces() const { return m_pieces; }

    QChar at(qint64 position) const;
    QString text(qint64 from, qint64 to) const;
    qint64 lineStart(qint64 position) const;
    qint64 lineEnd(qint64 position, qint64 limit) const;
    int breakLength(qint64 position) const;
    bool isLineStart(qint64 position) const;

    // Pieces written from the end (their starts counted from end()), in order.
    void append(std::vector<Piece> &&pieces);
    // Pieces written for an insert at `position`, their starts counted from there.
    void insert(qint64 position, std::vector<Piece> &&pieces);
    // The pieces that held [from, to), for the caller to let go of.
    Pieces remove(qint64 from, qint64 to);
    // Everything, for the caller to let go of; positions start again at 0.
    Pieces clear();
    // The absolute position appends continue from.
    qint64 end() const { return m_end; }

    // Drops at least `atLeast` characters at the start, cut in whole units: at a line start where one is
    // near, else never inside a hex token, a CR LF or a surrogate pair. A CR at the very end stays: its LF
    // may be on its way. Allocates nothing. Returns the characters dropped.
    qint64 dropFront(qint64 atLeast);

private:
    ChunkView view(const Chunk &chunk) const;
    qsizetype pieceAt(qint64 absolute) const;
    qsizetype split(qint64 absolute);
    bool mayHoldBreak(const Chunk &chunk, qint64 from, qint64 to) const;
    qint64 wholeUnitCut(qint64 atLeast) const;

    const Blocks *m_blocks;
    Pieces m_pieces;
    qint64 m_origin = 0;
    qint64 m_end = 0;
};
