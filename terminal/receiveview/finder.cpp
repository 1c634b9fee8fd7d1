// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/finder.h"

#include "terminal/capture/receivestore.h"
#include "terminal/hexformat.h"
#include "terminal/receiveview/findscan.h"

#include <QTimerEvent>

#include <algorithm>
#include <atomic>
#include <new>
#include <pthread.h>

namespace {

constexpr int kProgressMs = 100;
// What the worker answers when the system had no memory for the search.
constexpr qint64 kNoMemory = -2;

} // namespace

struct Finder::Job
{
    StoreSnapshot held;
    FindQuery query;
    bool forward = true;
    qint64 from = 0;
    qint64 until = -1;
    qint64 total = 0;
    std::atomic<bool> cancelled { false };
    std::atomic<bool> finished { false };
    std::atomic<qint64> done { 0 };
};

Finder::Finder(const ReceiveStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
}

Finder::~Finder()
{
    retire();
    reap(true);
}

bool Finder::start(const QString &needle, bool hex, Qt::CaseSensitivity cs, qint64 from, bool forward, bool wrap)
{
    cancel();
    if (hex) {
        const auto bytes = parseHexBytes(needle);
        if (!bytes || bytes->isEmpty())
            return false;
        m_bytes = *bytes;
        m_needle = renderHex(m_bytes);
    } else {
        m_bytes.clear();
        m_needle = needle;
    }
    if (m_needle.isEmpty())
        return false;
    m_cs = hex ? Qt::CaseSensitive : cs;
    m_forward = forward;
    m_wrap = wrap;
    m_wrapped = false;
    m_start = std::clamp<qint64>(from, 0, m_store.size()) + m_store.origin();
    m_from = m_start;
    m_until = -1;
    launch();
    return true;
}

void Finder::cancel()
{
    retire();
    reap(false);
}

void Finder::launch()
{
    auto job = std::make_shared<Job>();
    job->held = m_store.snapshot();
    job->query = { m_needle, m_bytes, m_cs };
    job->forward = m_forward;
    job->from = m_from;
    job->until = m_until;
    const qint64 origin = job->held.origin;
    job->total = m_forward ? (m_until < 0 ? job->held.end : m_until) - std::max(m_from, origin)
                           : m_from - std::max(m_until, origin);
    m_job = job;
    m_worker = std::thread([this, job] {
        pthread_setname_np(pthread_self(), "zelcom-find");
        FindScan::giveWay();
        qint64 at = -1;
        qint64 line = 0;
        try {
            FindScan scan(job->held, job->query, job->cancelled, job->done);
            at = job->forward ? scan.forward(job->from, job->until) : scan.backward(job->from, job->until);
            line = at >= 0 ? scan.lineOf(at) : 0;
        } catch (const std::bad_alloc &) {
            // No memory for a block read back: the search ends, and says it could not finish.
            at = kNoMemory;
        }
        // The chunks dropped from the store meanwhile are let go here, off the window's thread.
        job->held.pieces.clear();
        // The finder joins this thread before it goes, so it is still there for the call to reach.
        if (!job->cancelled)
            QMetaObject::invokeMethod(
                this, [this, job, at, line] { finish(job.get(), at, line); }, Qt::QueuedConnection);
        job->finished = true;
    });
    m_progress.start(kProgressMs, this);
}

void Finder::finish(const Job *job, qint64 at, qint64 line)
{
    if (job != m_job.get())
        return;
    const quint64 edits = job->held.edits;
    if (m_worker.joinable())
        m_worker.join();
    m_job.reset();
    m_progress.stop();
    reap(false);
    const qint64 origin = m_store.origin();
    const qint64 end = origin + m_store.size();
    if (at == kNoMemory)
        return emit failed();
    if (at >= 0 && m_store.editCount() != edits) {
        // An edit or a clear moved what followed it: the search goes again over what is held now.
        return launch();
    }
    if (at >= 0 && at < origin) {
        // Found in data dropped meanwhile: the next match still held, if a match may come later.
        if (m_forward && (m_until < 0 || m_until > origin)) {
            m_from = origin;
            return launch();
        }
        at = -1;
    }
    if (at < 0) {
        if (m_wrap && !m_wrapped) {
            m_wrapped = true;
            m_until = m_start;
            m_from = m_forward ? origin : end;
            if (m_forward ? m_start > origin : m_start < end)
                return launch();
        }
        return emit notFound();
    }
    emit found(at - origin, at - origin + m_needle.size(), line, m_wrapped);
}

void Finder::retire()
{
    m_progress.stop();
    if (!m_job)
        return;
    m_job->cancelled = true;
    m_retired.emplace_back(std::move(m_job), std::move(m_worker));
    m_job.reset();
}

// A cancelled search stops within a piece; its thread is joined once it has, never waited for here unless
// the finder goes.
void Finder::reap(bool wait)
{
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if (wait || it->first->finished) {
            if (it->second.joinable())
                it->second.join();
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
}

void Finder::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_progress.timerId())
        return QObject::timerEvent(event);
    if (m_job)
        emit progressed(m_job->done, m_job->total);
}
