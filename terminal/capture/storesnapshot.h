// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

struct Chunk;
class ScratchFile;

// What the receive store holds at one moment, to be read on another thread while the store goes on
// receiving, dropping and editing. Full chunks never change and a chunk is only ever appended to, so each
// piece needs no more than a hold on its chunk (and on its memory, while it has any) and the place of its
// block in the scratch file, both taken at that moment. Only the chunk's constant fields are read through
// `chunk`: everything the store may change later is copied here.
struct HeldPiece
{
    std::shared_ptr<const Chunk> chunk;
    std::shared_ptr<const void> memoryHold;
    const void *memory = nullptr; // null: read the block back from `file`
    std::shared_ptr<ScratchFile> file;
    qint64 fileOffset = 0;
    qint32 fileLength = 0;
    qint32 usedBytes = 0;
    qint32 chunkChars = 0;
    // Of the whole chunk, once it is full; -1 while unknown.
    qint32 lineBreaks = -1;
    char16_t firstChar = 0;
    char16_t lastChar = 0;

    qint64 start = 0; // absolute: counted from the last clear
    qint32 offset = 0; // in the chunk's characters
    qint32 length = 0;
    qint64 end() const { return start + length; }
};

struct StoreSnapshot
{
    std::vector<HeldPiece> pieces;
    qint64 origin = 0;
    qint64 end = 0;
    quint64 edits = 0;
};
