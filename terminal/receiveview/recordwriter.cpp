// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/recordwriter.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RecordWriter::RecordWriter(QObject *parent, qint64 backlogBytes)
    : QObject(parent)
    , m_bound(backlogBytes)
{
}

RecordWriter::~RecordWriter()
{
    if (m_writer.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_wake.notify_one();
        m_writer.join();
    }
    if (m_fd >= 0)
        ::close(m_fd);
}

int RecordWriter::open(const QString &path)
{
    // Non-blocking only while opening: a named pipe with no reader must not hold up the window.
    const int fd = ::open(
        QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0)
        return errno != 0 ? errno : EIO;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    m_writer = std::thread(&RecordWriter::write, this);
    return 0;
}

void RecordWriter::append(const QByteArray &bytes)
{
    if (m_stopped || !m_writer.joinable() || bytes.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_ending)
            return; // the writing thread has failed; its news is on the way
        if (m_backlog + bytes.size() > m_bound) {
            m_stopped = true;
            m_ending = true;
        } else {
            m_waiting.push_back(bytes);
            m_backlog += bytes.size();
        }
    }
    m_wake.notify_one();
    if (m_stopped)
        fail(FellBehind, 0);
}

void RecordWriter::finish()
{
    m_stopped = true;
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_one();
    if (!m_writer.joinable())
        QMetaObject::invokeMethod(this, &RecordWriter::finished, Qt::QueuedConnection);
}

// On the window's thread, later: the area may drop the writer in answer.
void RecordWriter::fail(Failure failure, int error)
{
    QMetaObject::invokeMethod(
        this,
        [this, failure, error] {
            m_stopped = true;
            if (m_failed)
                return;
            m_failed = true;
            emit failed(failure, error);
        },
        Qt::QueuedConnection);
}

void RecordWriter::write()
{
    int error = 0;
    for (;;) {
        std::deque<QByteArray> batch;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || !m_waiting.empty(); });
            if (m_waiting.empty())
                break;
            batch.swap(m_waiting);
        }
        // A file whose folder was deleted takes every write and keeps none of it once closed: lost, not full.
        struct stat st = {};
        if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0)
            error = ENOENT;
        qint64 written = 0;
        for (const QByteArray &bytes : batch) {
            if (error != 0)
                break;
            const char *at = bytes.constData();
            qint64 left = bytes.size();
            while (left > 0 && error == 0) {
                const ssize_t n = ::write(m_fd, at, size_t(left));
                if (n > 0) {
                    at += n;
                    left -= n;
                } else if (n < 0 && errno != EINTR) {
                    error = errno;
                } else if (n == 0) {
                    error = EIO;
                }
            }
            written += bytes.size();
            if (error != 0)
                break;
        }
        std::lock_guard lock(m_mutex);
        m_backlog -= written;
        if (error != 0) {
            m_waiting.clear();
            m_ending = true;
            break;
        }
    }
    // Power loss is the only thing a sync guards against, and it is paid once, off the window's thread.
    if (error == 0 && ::fdatasync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    if (::close(m_fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    m_fd = -1;
    if (error != 0)
        fail(WriteFailed, error);
    QMetaObject::invokeMethod(this, &RecordWriter::finished, Qt::QueuedConnection);
}
