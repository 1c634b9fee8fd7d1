// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/chunk.h"
#include "terminal/capture/scratchfile.h"

#include <QString>

#include <memory>

// Where the receive store keeps its chunks once they are full and never change again: in memory
// (MemoryBlocks), or sealed in a scratch file (ScratchBlocks). A chunk is let go when the last piece that
// holds it goes: its memory goes back to the pool and its place in the file is given back.
class Blocks
{
public:
    virtual ~Blocks() = default;

    // A chunk that is full.
    virtual void append(const std::shared_ptr<Chunk> &chunk) = 0;
    // A chunk's content, wherever it lies (a chunk still being filled is always in memory).
    virtual ChunkView read(const Chunk &chunk) const = 0;
    // Memory held besides the chunks being filled: chunks waiting for the disk, chunks read back.
    virtual qint64 memoryBytes() const = 0;
    // Bytes the blocks really take on the disk.
    virtual qint64 diskBytes() const = 0;
    // Where the blocks go, or empty while they are held in memory.
    virtual QString folder() const = 0;
    // Why they are held in memory (Refusal::None while they have a scratch file).
    virtual const ScratchFile::Why &inMemoryBecause() const = 0;
    // The scratch file, null while the blocks are held in memory; a clear brings a new one, a moment later.
    virtual std::shared_ptr<ScratchFile> file() const { return {}; }

    // Takes what the disk finished; returns the characters the store dropped at its start to make room.
    virtual qint64 settle() { return 0; }
    // The store let go of everything: a new start.
    virtual void clear() { }
    // The disk is behind: whoever receives should take no more for now.
    virtual bool behind() const { return false; }
    // Waits until every full chunk is on disk (or has failed to get there); for tests and benchmarks.
    virtual void flush() { }
};

// Everything in memory.
class MemoryBlocks : public Blocks
{
public:
    explicit MemoryBlocks(ScratchFile::Why why)
        : m_why(std::move(why))
    {
    }
    void append(const std::shared_ptr<Chunk> &) override { }
    ChunkView read(const Chunk &chunk) const override { return { chunk.memory, &chunk.breaks, {} }; }
    qint64 memoryBytes() const override { return 0; }
    qint64 diskBytes() const override { return 0; }
    QString folder() const override { return {}; }
    const ScratchFile::Why &inMemoryBecause() const override { return m_why; }

private:
    const ScratchFile::Why m_why;
};
