// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

struct Chunk;
class ScratchFile;

// Seals full chunks and writes them to the scratch file on a thread of its own, so that compression and
// encryption never hold up the thread that receives. The store hands chunks in and collects the results
// on its own thread; a chunk's memory is left alone here and given back by the store once it is on disk.
class Spiller
{
public:
    struct Result
    {
        std::shared_ptr<Chunk> chunk;
        std::shared_ptr<ScratchFile> file;
        qint64 offset = 0;
        qint32 length = 0;
        int error = 0; // errno of a failed write, or 0
    };

    using Seal = std::function<QByteArray(QByteArrayView plain, qint64 place)>;
    explicit Spiller(Seal seal);
    ~Spiller();
    Spiller(const Spiller &) = delete;
    Spiller &operator=(const Spiller &) = delete;

    void submit(std::shared_ptr<Chunk> chunk, std::shared_ptr<ScratchFile> file);
    // The results that are ready, in the order their chunks were handed in.
    std::deque<Result> collect();
    // Bytes handed in and not yet collected.
    qint64 pendingBytes() const;
    // Bytes handed in and not yet written (or refused): how far the disk is behind.
    qint64 queuedBytes() const;
    // Drops the chunks still waiting to be written to `file`: a capture that was cleared does not keep the
    // disk, and so the receiving, busy with what it had.
    void forget(const std::shared_ptr<ScratchFile> &file);
    // Waits until at most `bytes` are queued; for tests and benchmarks, never on the window's thread.
    void waitBelow(qint64 bytes);

private:
    struct Job
    {
        std::shared_ptr<Chunk> chunk;
        std::shared_ptr<ScratchFile> file;
    };
    void run();

    const Seal m_seal;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Job> m_jobs;
    std::deque<Result> m_results;
    qint64 m_pendingBytes = 0;
    qint64 m_queuedBytes = 0;
    bool m_stop = false;
    std::thread m_thread;
};
