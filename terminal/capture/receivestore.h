// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/piecetable.h"
#include "terminal/capture/scratchfile.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class Blocks;
struct Chunk;
class ChunkPool;
struct StoreSnapshot;

// What the receive area holds: the received stream and whatever the user made of it, with no widget.
//
// Data is kept in append-only chunks: a text chunk holds UTF-16 text, a hex chunk raw bytes that read back
// as "AB " per byte, so a hex dump costs one byte per byte held. The text is a sequence of pieces over the
// chunks (a piece table): an append extends the last piece, an edit splits pieces and never moves stored
// data. A chunk that is full goes to the scratch file (compressed and encrypted, on a thread of its own)
// and its memory is given back, so what stays in memory is the newest data, the chunks on their way to the
// disk and a small cache of chunks read back: the same whatever has been received. Without a scratch file
// everything stays in memory, within what the process may really use.
//
// Built in two layers under this one: the blocks (Blocks: in memory, or in a scratch file) and the piece
// table over them (PieceTable); this class fills the chunks, hands full ones to the blocks and decides
// what makes way.
//
// Positions count UTF-16 code units from the start of what is held, in 64 bits. Line breaks are LF, CR
// and CR LF; a CR LF is one break even when its two halves arrived in different appends. The oldest data
// makes way in whole units: at a line start where one is near, else never inside a hex token, a CR LF or
// a surrogate pair.
class ReceiveStore
{
public:
    struct Options
    {
        // Bytes per chunk: characters twice over in a text chunk, received bytes in a hex chunk.
        qint32 chunkBytes = 256 << 10;
        // Where the older data goes; none keeps everything in memory.
        std::optional<ScratchFile::Place> scratch = ScratchFile::Place {};
        // Full chunks that may wait for the disk in memory before the receiving waits, or, once the disk
        // has no room, before the oldest data makes way.
        qint64 waitingBytes = qint64(32) << 20;
        int cacheChunks = 8;
        // What the process may still take in memory; -1 measures it at the start. Without a scratch file
        // the store keeps half of it, and a scratch file whose disk would keep less is not used.
        qint64 memoryHeadroom = -1;
    };

    ReceiveStore();
    explicit ReceiveStore(const Options &options);
    ~ReceiveStore();
    ReceiveStore(const ReceiveStore &) = delete;
    ReceiveStore &operator=(const ReceiveStore &) = delete;

    qint64 size() const { return m_table.size(); }
    QString text(qint64 from, qint64 to) const;
    QChar at(qint64 position) const;

    // Each of these returns how many characters made way at the start.
    qint64 appendText(QStringView text);
    qint64 appendHex(QByteArrayView bytes);
    qint64 insert(qint64 position, QStringView text);
    void remove(qint64 from, qint64 to);
    // Takes a moment at any size: large storage and the old scratch file are let go, and the new scratch
    // file is made, on worker threads; until it is ready the capture is held in memory.
    void clear();

    // Past this many characters the oldest make way.
    qint64 maximum() const { return m_maximum; }
    void setMaximum(qint64 characters);

    // The start of the line holding `position`: 0, or just after a break.
    qint64 lineStart(qint64 position) const;
    // The first CR or LF at or after `position` and before `limit`; otherwise min(limit, size()).
    qint64 lineEnd(qint64 position, qint64 limit) const;
    // 2 for the CR of a CR LF, 1 for any other CR or LF, 0 for the rest.
    int breakLength(qint64 position) const;
    bool isLineStart(qint64 position) const;

    // What is held now, to be read on another thread: a copy of the list of pieces, no data.
    StoreSnapshot snapshot() const;

    // Changes by every edit, removal and clear, never by an append or by dropping the oldest: what was
    // laid out for a range of absolute positions stays right until it changes.
    quint64 editCount() const { return m_edits; }
    // Characters dropped at the start since the last clear: position + origin() is a position that
    // stays with its character while the oldest data makes way.
    qint64 origin() const { return m_table.origin(); }

    // Where the capture lives: the scratch file's folder, or empty while it is held in memory only.
    QString scratchFolder() const;
    // Why the capture is held in memory only (Refusal::None while it has a scratch file).
    const ScratchFile::Why &inMemoryBecause() const;
    qint64 diskBytes() const;
    // The scratch file, null while the capture is held in memory only; a clear may bring a new one.
    std::shared_ptr<ScratchFile> scratchFile() const;
    // Memory held by chunks: the newest, those waiting for the disk, and the cache.
    qint64 memoryBytes() const;
    // The disk is behind by more than the chunks allowed to wait for it: whoever receives takes no more
    // from the line until it catches up (the line's reader holds what arrives meanwhile). The store
    // itself never waits for the disk.
    bool behind() const;
    // Waits until every full chunk is on disk (or has failed to get there); for tests and benchmarks.
    void flush();

private:
    using Piece = PieceTable::Piece;
    using Pieces = PieceTable::Pieces;

    std::shared_ptr<Chunk> newChunk(bool hex);
    void sealIfFull(const std::shared_ptr<Chunk> &chunk);
    static void addPiece(
        std::vector<Piece> &pieces, const std::shared_ptr<Chunk> &chunk, qint32 offset, qint32 length, qint64 start);
    void writeText(QStringView text, qint64 start, std::vector<Piece> &pieces);
    void writeHex(QByteArrayView bytes, qint64 start, std::vector<Piece> &pieces);
    template <typename Data, typename Write> qint64 append(Data data, Write write);
    qint64 makeWayForMemory();
    qint64 makeRoom(qint64 fileBytes, qint64 memoryBytes);
    void placeChanged(bool onDisk);
    qint64 dropOldest();
    static void discard(Pieces &&pieces, qint64 characters);

    const Options m_options;
    std::shared_ptr<ChunkPool> m_pool;
    std::unique_ptr<Blocks> m_blocks;
    PieceTable m_table;
    std::shared_ptr<Chunk> m_textTail;
    std::shared_ptr<Chunk> m_hexTail;
    quint64 m_nextId = 1;
    qint64 m_maximum;
    // Characters kept without a scratch file.
    qint64 m_memoryMaximum = 1;
    bool m_onDisk = true; // while the blocks have a scratch file (or one is being made)
    quint64 m_edits = 0;
};
