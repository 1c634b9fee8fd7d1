// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/storesnapshot.h"

#include "terminal/capture/chunk.h"
#include "terminal/capture/receivestore.h"

StoreSnapshot ReceiveStore::snapshot() const
{
    StoreSnapshot held;
    held.origin = m_table.origin();
    held.end = m_table.end();
    held.edits = m_edits;
    held.pieces.reserve(m_table.pieces().size());
    for (const PieceTable::Piece &piece : m_table.pieces()) {
        const Chunk &chunk = *piece.chunk;
        HeldPiece &out = held.pieces.emplace_back();
        out.chunk = piece.chunk;
        if (chunk.resident()) {
            out.memoryHold = chunk.memoryHold();
            out.memory = chunk.memory;
        } else {
            out.file = chunk.file;
            out.fileOffset = chunk.fileOffset;
            out.fileLength = chunk.fileLength;
        }
        out.usedBytes = qint32(chunk.usedBytes());
        out.chunkChars = chunk.size();
        out.lineBreaks = chunk.hex ? 0 : chunk.lineBreaks;
        out.firstChar = chunk.firstChar;
        out.lastChar = chunk.lastChar;
        out.start = piece.start;
        out.offset = piece.offset;
        out.length = piece.length;
    }
    return held;
}
