// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/capturewriter.h"

#include "terminal/receiveview/receivestore.h"

#include <QFileInfo>
#include <QTimerEvent>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A character device (/dev/null, /dev/full, a line) is written into as it stands. A save file renames its
// finished copy over the name, which wherever the folder allows it (as root, always) would put a plain file in
// the device node's place.
bool isDevice(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

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

bool CaptureWriter::start(const QString &path)
{
    if (isDevice(path)) {
        // Not blocking: a serial line without carrier would otherwise hold the window at the open.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        m_systemError = errno;
        if (fd < 0 || !m_device.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            if (fd >= 0)
                ::close(fd);
            m_error = m_device.errorString();
            return false;
        }
        m_systemError = 0;
        m_out = &m_device;
        m_timer.start(0, this);
        return true;
    }
    m_file.setFileName(path);
    // The file refuses these two before the system is asked, so no error number would say why.
    const QFileInfo existing(path);
    const int refused = existing.isDir() ? EISDIR : existing.exists() && !existing.isWritable() ? EACCES : 0;
    errno = 0;
    // Unbuffered: a buffered write that the disk refuses later may be lost on the way, and a file cut
    // short be taken for a whole one.
    if (refused != 0 || !m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_systemError = refused != 0 ? refused : errno;
        m_error = m_file.errorString();
        return false;
    }
    m_timer.start(0, this);
    return true;
}

void CaptureWriter::cancel()
{
    if (m_timer.isActive())
        finish(Cancelled);
}

void CaptureWriter::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QObject::timerEvent(event);
    if (m_store.editCount() != m_edits)
        return finish(Edited);
    if (m_next < m_store.origin())
        return finish(DataGone);
    const qint64 end = std::min(m_to, m_next + m_slice);
    // The encoder keeps half a surrogate pair for the next slice.
    const QByteArray bytes = m_encoder.encode(m_store.text(m_next - m_store.origin(), end - m_store.origin()));
    errno = 0;
    if (m_out->write(bytes) != bytes.size()) {
        m_systemError = errno;
        return finish(WriteFailed);
    }
    m_next = end;
    emit progressed(done(), total());
    if (m_next < m_to)
        return;
    errno = 0;
    const bool committed = m_out == &m_file ? m_file.commit() : m_device.flush();
    if (!committed)
        m_systemError = errno;
    finish(committed ? Saved : WriteFailed);
}

void CaptureWriter::finish(Outcome outcome)
{
    m_timer.stop();
    if (outcome == WriteFailed)
        m_error = m_out->errorString();
    if (outcome != Saved)
        m_file.cancelWriting();
    if (m_file.isOpen() && outcome != Saved)
        m_file.commit(); // after cancelWriting: removes the temporary file, writes nothing
    m_device.close();
    emit finished(outcome);
}
