// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/capturewriter.h"

#include "terminal/capture/receivestore.h"
#include "terminal/receiveview/linetimes.h"

#include <QFileInfo>
#include <QTimerEvent>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The number the failing call left, read before anything else can overwrite it. A failure that left none is
// still a failure of the disk.
int failure()
{
    return errno != 0 ? errno : EIO;
}

// A character device (/dev/null, /dev/full, a line) is written into as it stands. A save file renames its
// finished copy over the name, which wherever the folder allows it (as root, always) would put a plain file in
// the device node's place.
bool isDevice(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Slices waiting for the disk: enough to keep it busy, few enough to bound the memory.
constexpr std::size_t kWaitingSlices = 2;

} // namespace

CaptureWriter::CaptureWriter(const ReceiveStore &store, qint64 from, qint64 to, QObject *parent, qint64 sliceChars)
    : QObject(parent)
    , m_store(store)
    , m_from(std::clamp<qint64>(from, 0, store.size()) + store.origin())
    , m_to(std::clamp<qint64>(to, 0, store.size()) + store.origin())
    , m_next(m_from)
    , m_edits(store.editCount())
    , m_slice(std::max<qint64>(sliceChars, 1))
{
}

CaptureWriter::~CaptureWriter()
{
    if (!m_writer.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_drop = true;
    }
    m_wake.notify_one();
    m_writer.join();
}

bool CaptureWriter::start(const QString &path)
{
    if (m_writer.joinable())
        return false;
    // The open itself (a folder on a network or a stick may take seconds) is the writing thread's first
    // step: a file that cannot be made ends the save as a failed write, with the system's reason.
    m_writer = std::thread([this, path] {
        if (open(path))
            write();
        else
            finishWriting(failure());
    });
    m_timer.start(0, this);
    return true;
}

// The writing thread.
bool CaptureWriter::open(const QString &path)
{
    if (m_beforeOpen)
        m_beforeOpen();
    {
        std::lock_guard lock(m_mutex);
        if (m_drop) { // cancelled before the file was made: there is nothing to make
            errno = 0;
            return true;
        }
    }
    if (isDevice(path)) {
        // Not blocking: a serial line without carrier would otherwise hold the save at the open.
        errno = 0;
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        if (!m_device.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            errno = EIO;
            return false;
        }
        m_out = &m_device;
        return true;
    }
    m_file.setFileName(path);
    // The file refuses these two before the system is asked, so no error number would say why.
    const QFileInfo existing(path);
    const int refused = existing.isDir() ? EISDIR : existing.exists() && !existing.isWritable() ? EACCES : 0;
    // Unbuffered: a buffered write that the disk refuses later may be lost on the way, and a file cut
    // short be taken for a whole one.
    errno = 0;
    if (refused != 0 || !m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        errno = refused != 0 ? refused : failure();
        return false;
    }
    return true;
}

void CaptureWriter::cancel()
{
    stop(Cancelled);
}

void CaptureWriter::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QObject::timerEvent(event);
    if (m_store.editCount() != m_edits)
        return stop(Edited);
    if (m_next < m_store.origin())
        return stop(DataGone);
    {
        std::lock_guard lock(m_mutex);
        // The disk is behind: the writing thread asks for more once it has written a slice.
        if (m_slices.size() >= kWaitingSlices || m_failed)
            return m_timer.stop();
    }
    const qint64 end = std::min(m_to, m_next + m_slice);
    // The encoder keeps half a surrogate pair for the next slice.
    const QString text = m_store.text(m_next - m_store.origin(), end - m_store.origin());
    QByteArray bytes = m_dump ? m_hexDump.feed(text)
        : m_times ? m_encoder.encode(m_times->stamped(text, m_next, StampFormat::DateAndClock, m_lastWritten))
                  : m_encoder.encode(text);
    m_next = end;
    if (m_dump && m_next >= m_to)
        bytes += m_hexDump.finish();
    {
        std::lock_guard lock(m_mutex);
        m_slices.push_back(std::move(bytes));
        m_last = m_next >= m_to;
    }
    m_wake.notify_one();
    emit progressed(done(), total());
    if (m_next >= m_to) {
        m_timer.stop();
        m_ending = true;
        m_outcome = Saved;
    }
}

void CaptureWriter::stop(Outcome outcome)
{
    if (m_ending || m_finished || !m_writer.joinable())
        return;
    m_timer.stop();
    m_ending = true;
    m_outcome = outcome;
    {
        std::lock_guard lock(m_mutex);
        m_drop = true;
    }
    m_wake.notify_one();
}

void CaptureWriter::fromWriter()
{
    bool written = false;
    bool failed = false;
    {
        std::lock_guard lock(m_mutex);
        written = m_written;
        failed = m_failed;
        if (failed)
            m_error = m_writeError;
    }
    if (!written) {
        if (!m_ending && !m_timer.isActive())
            m_timer.start(0, this);
        return;
    }
    if (m_finished)
        return;
    m_writer.join();
    m_timer.stop();
    m_finished = true;
    // A save the user or the data ended says so; otherwise a disk that failed does.
    emit finished(failed && (!m_ending || m_outcome == Saved) ? WriteFailed : m_outcome);
}

void CaptureWriter::write()
{
    const auto tell = [this] { QMetaObject::invokeMethod(this, &CaptureWriter::fromWriter, Qt::QueuedConnection); };
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_drop || m_last || !m_slices.empty(); });
        bool ok = true;
        if (!m_drop && !m_slices.empty()) {
            const QByteArray bytes = std::move(m_slices.front());
            m_slices.pop_front();
            lock.unlock();
            errno = 0;
            ok = m_out->write(bytes) == bytes.size();
            lock.lock();
            if (ok) {
                tell();
                continue;
            }
        } else if (!m_drop && m_last) {
            lock.unlock();
            errno = 0;
            // A file: fsync, then the rename that makes it appear.
            ok = m_out == &m_file ? m_file.commit() : m_device.flush();
            lock.lock();
            if (ok)
                break;
        }
        if (!ok) {
            m_failed = true;
            m_writeError = failure();
        }
        // Removes the temporary file and writes nothing (a commit that failed has done so already).
        lock.unlock();
        if (m_file.isOpen()) {
            m_file.cancelWriting();
            m_file.commit();
        }
        m_device.close();
        lock.lock();
        break;
    }
    lock.unlock();
    finishWriting(0);
}

// The writing thread: done with the file, after a failure numbered `error` (0: none).
void CaptureWriter::finishWriting(int error)
{
    {
        std::lock_guard lock(m_mutex);
        if (error != 0 && !m_failed) {
            m_failed = true;
            m_writeError = error;
        }
        m_written = true;
    }
    QMetaObject::invokeMethod(this, &CaptureWriter::fromWriter, Qt::QueuedConnection);
}
