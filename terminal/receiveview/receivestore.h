// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <deque>
#include <memory>
#include <vector>

// What the receive area holds: the received stream and whatever the user made of it, with no widget.
//
// Data is kept in append-only chunks: a text chunk holds UTF-16 text and the offsets of its CR and LF
// characters, a hex chunk holds raw bytes and reads back as "AB " per byte (two upper-case digits and a
// blank), so a hex dump costs one byte per byte held. The text is a sequence of pieces over the chunks (a
// piece table): an append extends the last piece, an edit splits pieces and never moves stored data, so
// no change has to copy or compact what is already held. Lines are found through the CR/LF offsets; a hex
// chunk has none, so a long hex dump is passed over a chunk at a time.
//
// Positions count UTF-16 code units from the start of what is held, in 64 bits. Line breaks are LF, CR
// and CR LF; a CR LF is one break even when its two halves arrived in different appends.
class ReceiveStore
{
public:
    ReceiveStore();
    ~ReceiveStore();
    ReceiveStore(const ReceiveStore &) = delete;
    ReceiveStore &operator=(const ReceiveStore &) = delete;

    qint64 size() const { return m_end - m_origin; }
    QString text(qint64 from, qint64 to) const;
    QChar at(qint64 position) const;

    // Each of these returns how many characters made way at the start to keep within maximum().
    qint64 appendText(QStringView text);
    qint64 appendHex(QByteArrayView bytes);
    qint64 insert(qint64 position, QStringView text);
    void remove(qint64 from, qint64 to);
    // Takes a moment at any size: large storage is freed on a worker thread.
    void clear();

    // Past this many characters the oldest make way, whole lines where a line ends soon enough.
    qint64 maximum() const { return m_maximum; }
    void setMaximum(qint64 characters);
    // Half the physical memory, counted as UTF-16 text (the costlier kind).
    static qint64 defaultMaximum();

    // The start of the line holding `position`: 0, or just after a break.
    qint64 lineStart(qint64 position) const;
    // The first CR or LF at or after `position` and before `limit`; otherwise min(limit, size()).
    qint64 lineEnd(qint64 position, qint64 limit) const;
    // 2 for the CR of a CR LF, 1 for any other CR or LF, 0 for the rest.
    int breakLength(qint64 position) const;
    bool isLineStart(qint64 position) const;

    // Changes by every edit, removal and clear, never by an append or by dropping the oldest: what was
    // laid out for a range of absolute positions stays right until it changes.
    quint64 editCount() const { return m_edits; }
    // Characters dropped at the start since the last clear: position + origin() is a position that
    // stays with its character while the oldest data makes way.
    qint64 origin() const { return m_origin; }

    // Characters per chunk: text offsets inside a chunk fit 16 bits.
    static constexpr qint32 kTextChunkChars = 1 << 16;
    static constexpr qint32 kHexChunkBytes = 1 << 16;

private:
    struct Chunk;
    struct Piece
    {
        std::shared_ptr<Chunk> chunk;
        qint64 start; // absolute: counted from the last clear, dropped characters included
        qint32 offset; // in the chunk's characters (three per byte of a hex chunk)
        qint32 length;
        qint64 end() const { return start + length; }
    };
    using Pieces = std::deque<Piece>;

    qsizetype pieceAt(qint64 absolute) const;
    qsizetype split(qint64 absolute);
    void addPiece(std::vector<Piece> &pieces, const std::shared_ptr<Chunk> &chunk, qint32 offset, qint32 length,
        qint64 start) const;
    std::vector<Piece> writeText(QStringView text, qint64 start);
    void appendPieces(std::vector<Piece> &&pieces);
    qint64 dropOldest();
    static void discard(Pieces &&pieces, qint64 characters);

    Pieces m_pieces;
    std::shared_ptr<Chunk> m_textTail;
    std::shared_ptr<Chunk> m_hexTail;
    qint64 m_origin = 0;
    qint64 m_end = 0;
    qint64 m_maximum;
    quint64 m_edits = 0;
};
