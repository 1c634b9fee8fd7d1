// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/spiller.h"

#include "terminal/capture/chunk.h"
#include "terminal/capture/scratchfile.h"

#include <cerrno>

Spiller::Spiller(Seal seal)
    : m_seal(std::move(seal))
    , m_thread([this] { run(); })
{
}

Spiller::~Spiller()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void Spiller::submit(std::shared_ptr<Chunk> chunk, std::shared_ptr<ScratchFile> file)
{
    {
        std::lock_guard lock(m_mutex);
        m_pendingBytes += qint64(chunk->usedBytes());
        m_queuedBytes += qint64(chunk->usedBytes());
        m_jobs.push_back({ std::move(chunk), std::move(file) });
    }
    m_wake.notify_one();
}

std::deque<Spiller::Result> Spiller::collect()
{
    std::deque<Result> results;
    std::lock_guard lock(m_mutex);
    results.swap(m_results);
    for (const Result &result : results)
        m_pendingBytes -= qint64(result.chunk->usedBytes());
    return results;
}

qint64 Spiller::pendingBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_pendingBytes;
}

void Spiller::forget(const std::shared_ptr<ScratchFile> &file)
{
    std::deque<Job> forgotten;
    {
        std::lock_guard lock(m_mutex);
        std::deque<Job> kept;
        for (Job &job : m_jobs) {
            if (job.file != file) {
                kept.push_back(std::move(job));
                continue;
            }
            m_pendingBytes -= qint64(job.chunk->usedBytes());
            m_queuedBytes -= qint64(job.chunk->usedBytes());
            forgotten.push_back(std::move(job));
        }
        m_jobs.swap(kept);
    }
    m_done.notify_all();
}

qint64 Spiller::queuedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_queuedBytes;
}

void Spiller::waitBelow(qint64 bytes)
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] { return m_queuedBytes <= bytes; });
}

void Spiller::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_stop)
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();

        Result result { job.chunk, job.file };
        const QByteArray sealed
            = m_seal(QByteArrayView(static_cast<const char *>(job.chunk->memory), qsizetype(job.chunk->usedBytes())),
                qint64(job.chunk->id));
        if (sealed.isEmpty())
            result.error = EINVAL;
        else if (job.file->append(sealed.constData(), sealed.size(), &result.offset))
            result.length = qint32(sealed.size());
        else
            result.error = errno ? errno : EIO;

        lock.lock();
        m_queuedBytes -= qint64(job.chunk->usedBytes());
        m_results.push_back(std::move(result));
        m_done.notify_all();
    }
}
