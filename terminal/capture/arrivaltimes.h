// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

class ScratchFile;

// When each line of the capture began to arrive, in milliseconds since the epoch, with no widget.
// Positions are arrival positions: characters appended since the last clear, those that made way
// included, so they never move with the user's edits (ArrivalMap translates).
//
// A line costs a few bytes: entries are written as variable-length deltas of position and of time into
// blocks; a line that began after the stream was idle also keeps how long it was (one bit beside the
// time's delta says whether it follows). A full block goes to the capture's scratch file, sealed
// as the text is, on a thread of its own; without a file the blocks stay in memory within a bound, the
// oldest times making way past it. What stays in memory is the newest block, an index of every block (its
// first and last entry and its longest idle time, for a binary search) and a few blocks read back.
class ArrivalTimes
{
public:
    struct Options
    {
        qint32 blockBytes = 32 << 10; // encoded bytes of a block
        int cacheBlocks = 4;
        qint64 memoryBytes = qint64(32) << 20; // encoded bytes of full blocks held in memory, at most
    };
    struct Stamp
    {
        qint64 at = 0;
        qint64 ms = 0;
        std::optional<qint64> previousMs; // the line before it, while its time is known
        qint64 idleMs = 0; // how long nothing arrived before it, when that was kept
    };

    ArrivalTimes();
    explicit ArrivalTimes(const Options &options);
    ~ArrivalTimes();
    ArrivalTimes(const ArrivalTimes &) = delete;
    ArrivalTimes &operator=(const ArrivalTimes &) = delete;

    // Where full blocks go from now on; null keeps them in memory. clear() lets go of the file.
    void setFile(std::shared_ptr<ScratchFile> file);
    const std::shared_ptr<ScratchFile> &file() const { return m_file; }
    // A line begins at `at`, later than any before it, at `ms`, after nothing arrived for `idleMs`
    // (0: not kept).
    void add(qint64 at, qint64 ms, qint64 idleMs = 0);
    // The text before `at` made way: its times go too.
    void dropBefore(qint64 at);
    void clear();

    // The first line that begins in [from, to).
    std::optional<Stamp> firstIn(qint64 from, qint64 to) const;
    // The first (or last) line that begins in [from, to) after the stream was idle for at least `gapMs`.
    std::optional<qint64> idleStartIn(qint64 from, qint64 to, qint64 gapMs, bool last) const;
    // Bytes the blocks take in the scratch file, rounded up to its blocks, and encoded bytes in memory.
    qint64 diskBytes() const;
    qint64 memoryBytes() const;
    // Waits until every full block is written or refused; for tests and benchmarks.
    void flush();

private:
    struct Entry
    {
        qint64 at;
        qint64 ms;
        qint64 idle = 0;
    };
    using Entries = std::vector<Entry>;
    struct Block
    {
        quint64 id;
        Entry first;
        Entry last;
        qint64 maxIdle = 0; // of its entries: most blocks are passed over by idleStartIn
        QByteArray encoded; // empty once in the file
        std::shared_ptr<ScratchFile> file;
        qint64 offset = 0;
        qint32 length = 0;
    };
    struct Job
    {
        quint64 id;
        QByteArray encoded;
        std::shared_ptr<ScratchFile> file;
        quint64 generation;
    };
    struct Written
    {
        quint64 id;
        std::shared_ptr<ScratchFile> file;
        qint64 offset = 0;
        qint32 length = 0;
        bool ok = false;
    };

    void seal();
    void collect();
    void keepWithinMemory();
    void release(const Block &block);
    std::shared_ptr<const Entries> entriesOf(const Block &block) const;
    std::optional<Stamp> firstInEntries(
        const Entries &entries, qint64 from, qint64 to, std::optional<qint64> previousMs) const;
    static std::optional<qint64> idleIn(const Entries &entries, qint64 from, qint64 to, qint64 gapMs, bool last);
    void run();

    const Options m_options;
    std::shared_ptr<ScratchFile> m_file;
    std::deque<Block> m_blocks;
    Entries m_tail;
    qint32 m_tailBytes = 0;
    qint64 m_tailMaxIdle = 0;
    qint64 m_keptFrom = 0;
    qint64 m_lastAt = -1;
    quint64 m_nextId = 1;
    mutable std::deque<std::pair<quint64, std::shared_ptr<const Entries>>> m_cache;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Job> m_jobs;
    std::deque<Written> m_written;
    int m_busy = 0; // jobs taken and not yet written
    quint64 m_generation = 0; // one more at each clear: what was being written then is let go at once
    bool m_stop = false;
    std::thread m_thread;
};
