// SPDX-License-Identifier: GPL-3.0-or-later
// How the receive store makes way: what the disk took and refused, room on the disk and in memory, and
// cutting the oldest data in whole units.
#include "terminal/receiveview/receivestore.h"

#include "terminal/receiveview/chunk.h"
#include "terminal/receiveview/spiller.h"
#include "terminal/receiveview/textunits.h"

#include <cerrno>
#include <chrono>
#include <unordered_set>

namespace {

// After the disk refused a chunk, the next try waits this long.
constexpr qint64 kRetryMs = 1000;
// How far past the cut the oldest data looks for a line start to cut at instead.
constexpr qint64 kLineSearchChars = 1 << 16;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Takes what the spiller finished: chunks on disk give their memory back. When the disk took a chunk no
// more, the oldest data on disk makes way so that it has room again; chunks waiting for the disk never
// hold more memory than allowed, the oldest data making way before the newest would. Never waits for the
// disk: a disk that is only slow is met by receiving less (behind()).
qint64 ReceiveStore::takeResults()
{
    if (!m_spiller)
        return 0;
    adoptFile();
    std::erase_if(m_awaitingFile, [](const std::weak_ptr<Chunk> &weak) { return weak.expired(); });
    qint64 refused = 0;
    bool onlyRoom = true; // every refusal was for want of room, not a failing disk
    for (Spiller::Result &result : m_spiller->collect()) {
        Chunk &chunk = *result.chunk;
        chunk.writing = false;
        if (result.error == 0) {
            chunk.file = std::move(result.file);
            chunk.fileOffset = result.offset;
            chunk.fileLength = result.length;
            chunk.releaseMemory();
        } else if (result.file == m_file && result.chunk.use_count() > 1) {
            m_unwritten.push_back(result.chunk);
            refused += qint64(chunk.usedBytes());
            onlyRoom = onlyRoom && (result.error == ENOSPC || result.error == EDQUOT || result.error == EFBIG);
        }
    }
    qint64 dropped = 0;
    if (refused > 0) {
        const qint64 made = makeRoom(std::max(refused, m_file->diskBytes() / 4), 0);
        dropped += made;
        // The oldest data on the disk made room: the refused chunks take it at once. Waiting would let
        // them pile up in memory until the oldest data on the disk had to make way for them as well, and
        // the capture would shrink to what memory holds. A disk that fails otherwise gets a pause.
        m_retryAfterMs = made > 0 && onlyRoom ? 0 : nowMs() + kRetryMs;
    }
    qint64 unwritten = 0;
    std::deque<std::weak_ptr<Chunk>> alive;
    for (const auto &weak : m_unwritten) {
        if (const auto chunk = weak.lock(); chunk && chunk->resident()) {
            unwritten += qint64(m_pool->bytes());
            alive.push_back(weak);
        }
    }
    m_unwritten.swap(alive);
    if (unwritten > m_options.waitingBytes)
        dropped += makeRoom(0, unwritten - m_options.waitingBytes / 2);
    if (!m_unwritten.empty() && nowMs() >= m_retryAfterMs) {
        for (const auto &weak : m_unwritten) {
            if (const auto chunk = weak.lock(); chunk && chunk->resident()) {
                chunk->writing = true;
                m_spiller->submit(chunk, m_file);
            }
        }
        m_unwritten.clear();
    }
    return dropped;
}

// Drops the oldest data until at least `fileBytes` of the scratch file and `memoryBytes` of chunks waiting
// for the disk are let go, or until only the newest chunks are left.
qint64 ReceiveStore::makeRoom(qint64 fileBytes, qint64 memoryBytes)
{
    std::unordered_set<quint64> seen;
    qint64 freedFile = 0;
    qint64 freedMemory = 0;
    qint64 cut = 0;
    for (const Piece &piece : m_pieces) {
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
        cut = piece.end() - m_origin;
    }
    return cut > 0 ? dropFront(cut) : 0;
}

// The first place at or after `atLeast` where the oldest data may be cut: a line start if one is near,
// else never inside a hex token, a CR LF or a surrogate pair. A CR at the very end stays: its LF may be
// on its way.
qint64 ReceiveStore::wholeUnitCut(qint64 atLeast) const
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

qint64 ReceiveStore::dropFront(qint64 atLeast)
{
    const qint64 cut = wholeUnitCut(atLeast);
    if (cut <= 0)
        return 0;
    const qint64 absolute = cut + m_origin;
    // Allocates nothing: this is how the store makes way when the system has no memory left.
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

qint64 ReceiveStore::dropOldest()
{
    const qint64 excess = size() - m_maximum;
    return excess > 0 ? dropFront(excess) : 0;
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
