// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/blocks.h"

#include <QByteArray>
#include <QByteArrayView>

#include <deque>
#include <functional>
#include <vector>

class Spiller;

// Full chunks sealed into a scratch file by a worker thread, their memory given back once they are on the
// disk, and read back through a small cache. The receiving never waits for the disk: while it is behind,
// behind() says so; when it has no room, the store is asked to drop its oldest data. After a clear the
// next file is made on a worker, and the chunks wait in memory until it is there.
class ScratchBlocks : public Blocks
{
public:
    // Turns a chunk's bytes into what lies on the disk and back; `place` is the chunk's id.
    struct Sealer
    {
        std::function<QByteArray(QByteArrayView plain, qint64 place)> seal;
        std::function<QByteArray(QByteArrayView sealed, qint64 place)> open;
        // Compressed, encrypted and authenticated (SealedBlock).
        static Sealer sealed();
    };
    struct Settings
    {
        ScratchFile::Place place;
        // Full chunks that may wait for the disk in memory.
        qint64 waitingBytes = qint64(32) << 20;
        int cacheChunks = 8;
        // What memory alone would keep: a file whose disk would keep less is not used.
        qint64 memoryBytes = 0;
    };
    // Drops the store's oldest data until `fileBytes` of the file and `memoryBytes` of chunks waiting for
    // the disk are let go; returns the characters dropped.
    using MakeRoom = std::function<qint64(qint64 fileBytes, qint64 memoryBytes)>;
    // Told whether the blocks go to a file again, or stay in memory, once the file a clear made is known.
    using PlaceChanged = std::function<void(bool onDisk)>;

    // Null, with the reason in `why`, when no file can be made.
    static std::unique_ptr<ScratchBlocks> open(const Settings &settings, std::shared_ptr<ChunkPool> pool,
        ScratchFile::Why *why, Sealer sealer = Sealer::sealed());
    ~ScratchBlocks() override;

    void setOwner(MakeRoom makeRoom, PlaceChanged placeChanged);

    void append(const std::shared_ptr<Chunk> &chunk) override;
    ChunkView read(const Chunk &chunk) const override;
    qint64 memoryBytes() const override;
    qint64 diskBytes() const override;
    QString folder() const override;
    std::shared_ptr<ScratchFile> file() const override { return m_file; }
    const ScratchFile::Why &inMemoryBecause() const override { return m_why; }
    qint64 settle() override;
    void clear() override;
    bool behind() const override;
    void flush() override;

private:
    struct Cached;
    struct Opening;
    ScratchBlocks(
        const Settings &settings, std::shared_ptr<ChunkPool> pool, std::shared_ptr<ScratchFile> file, Sealer sealer);
    static std::shared_ptr<ScratchFile> openFile(const Settings &settings, ScratchFile::Why *why);
    void startOpening();
    void adoptFile();
    qint64 awaitingBytes() const;

    const Settings m_settings;
    const std::shared_ptr<ChunkPool> m_pool;
    const Sealer m_sealer;
    std::unique_ptr<Spiller> m_spiller;
    std::shared_ptr<ScratchFile> m_file;
    ScratchFile::Why m_why;
    MakeRoom m_makeRoom;
    PlaceChanged m_placeChanged;
    // The next file, made on a worker after a clear; meanwhile full chunks wait in memory.
    std::shared_ptr<Opening> m_opening;
    std::deque<std::weak_ptr<Chunk>> m_awaitingFile;
    // Full chunks the disk did not take, oldest first; tried again after a while.
    std::deque<std::weak_ptr<Chunk>> m_unwritten;
    qint64 m_retryAfterMs = 0;
    mutable std::vector<std::shared_ptr<Cached>> m_cache;
    mutable quint64 m_cacheClock = 0;
};
