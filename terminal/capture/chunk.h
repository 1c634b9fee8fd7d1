// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class ScratchFile;

// Buffers of one size for chunks, kept for the next chunk when a chunk is done with them: a flood then
// writes into memory it has touched before instead of having fresh pages cleared for every chunk.
// Buffers are mapped from the system directly, so the ones not kept go back to it at once.
class ChunkPool
{
public:
    explicit ChunkPool(size_t bytes);
    ~ChunkPool();
    ChunkPool(const ChunkPool &) = delete;
    ChunkPool &operator=(const ChunkPool &) = delete;

    size_t bytes() const { return m_bytes; }
    // Throws std::bad_alloc when the system has no memory to give.
    void *take();
    // Any thread.
    void give(void *buffer);

private:
    const size_t m_bytes;
    std::mutex m_mutex;
    std::vector<void *> m_spare;
};

// A stretch of received data as the store holds it, append-only: a text chunk holds UTF-16 text, a hex
// chunk the received bytes (read as "AB " per byte). A chunk that is full is written to the scratch file
// and its memory given back; it is then read back through the store's cache.
struct Chunk
{
    Chunk(quint64 id, bool hex, qint32 capacity, std::shared_ptr<ChunkPool> pool);
    ~Chunk();
    Chunk(const Chunk &) = delete;
    Chunk &operator=(const Chunk &) = delete;

    // In the chunk's characters: three per byte of a hex chunk.
    qint32 size() const;
    bool full() const { return used == capacity; }
    size_t usedBytes() const { return hex ? size_t(used) : size_t(used) * sizeof(char16_t); }
    bool resident() const { return memory != nullptr; }
    bool spilled() const { return fileLength > 0; }
    void releaseMemory();
    // Keeps the memory from going back to the pool while a reader on another thread still uses it.
    std::shared_ptr<const void> memoryHold() const { return m_memoryHold; }

    // Where the text chunk's CR and LF stand, from its characters.
    static std::vector<quint32> findBreaks(const char16_t *chars, qint32 count);
    // Appends to `found` where CR and LF stand among `count` characters, counted from `first`.
    static void addBreaks(const char16_t *chars, qint32 count, quint32 first, std::vector<quint32> &found);

    const quint64 id;
    const bool hex;
    const qint32 capacity; // characters of a text chunk, bytes of a hex chunk
    qint32 used = 0;
    void *memory = nullptr; // null once written out and given back
    std::vector<quint32> breaks; // while in memory: offsets of CR and LF in a text chunk, ascending
    // Kept when the breaks are not: enough to answer most line look-ups without reading the chunk back.
    qint32 firstBreak = -1;
    qint32 lastBreak = -1;
    // Set when a text chunk is full: its line breaks (a CR LF counted once), first and last character.
    qint32 lineBreaks = -1;
    char16_t firstChar = 0;
    char16_t lastChar = 0;

    std::shared_ptr<ScratchFile> file;
    qint64 fileOffset = 0;
    qint32 fileLength = 0;
    bool writing = false;

private:
    std::shared_ptr<void> m_memoryHold;
};

// A chunk's content for reading, wherever it lies.
struct ChunkView
{
    const void *memory = nullptr;
    const std::vector<quint32> *breaks = nullptr;
    // Keeps a chunk read back from the disk alive while this view is used, even if the cache lets it go.
    std::shared_ptr<const void> hold;

    const char16_t *chars() const { return static_cast<const char16_t *>(memory); }
    const quint8 *raw() const { return static_cast<const quint8 *>(memory); }
    char16_t at(const Chunk &chunk, qint32 i) const;
    // Characters [from, to) of the chunk, appended to `out`.
    void read(const Chunk &chunk, qint32 from, qint32 to, QString &out) const;
};
