// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/filesender.h"

#include "port/mscomm.h"

#include <QTimerEvent>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One step writes at most this much before it lets the window handle its other events.
constexpr qint64 kStepBudget = 256 << 10;
// How often a waiting sender looks whether Output's queue has emptied or the port has gone.
constexpr int kRetryMs = 20;

} // namespace

FileSender::FileSender(MSComm &port, int fileFd, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_session(port.session())
    , m_slices(std::make_unique<FileSlices>(fileFd))
{
}

FileSender::~FileSender()
{
    m_writable.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void FileSender::start()
{
    m_fd = m_port.handle() >= 0 ? ::fcntl(m_port.handle(), F_DUPFD_CLOEXEC, 0) : -1;
    if (m_fd < 0) {
        finish(Outcome::PortClosed);
        return;
    }
    m_sliceReady = std::make_unique<QSocketNotifier>(m_slices->notifier(), QSocketNotifier::Read);
    connect(m_sliceReady.get(), &QSocketNotifier::activated, this, &FileSender::step);
    m_writable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &FileSender::step);
    m_retry.start(kRetryMs, this);
    step();
}

void FileSender::cancel()
{
    if (!m_finished)
        finish(Outcome::Cancelled);
}

void FileSender::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_retry.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    step();
}

void FileSender::step()
{
    if (m_finished)
        return;
    // Each notifier is on only while its wait is the one that holds the sending up.
    m_writable->setEnabled(false);
    m_sliceReady->setEnabled(false);
    if (!m_port.PortOpen() || m_port.session() != m_session) {
        finish(Outcome::PortClosed);
        return;
    }
    // What earlier sends queued goes out first, or the file would overtake it on the line.
    if (m_port.OutBufferCount() > 0)
        return;
    qint64 budget = kStepBudget;
    while (budget > 0) {
        if (m_offset == m_slice.size()) {
            auto slice = m_slices->take();
            if (!slice) {
                m_sliceReady->setEnabled(true);
                return;
            }
            if (slice->bytes.isEmpty()) {
                if (slice->error != 0)
                    finish(Outcome::ReadFailed, slice->error);
                else
                    finish(Outcome::Sent);
                return;
            }
            m_slice = std::move(slice->bytes);
            m_offset = 0;
        }
        const ssize_t n = ::write(m_fd, m_slice.constData() + m_offset, static_cast<size_t>(m_slice.size() - m_offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            finish(Outcome::WriteFailed, n < 0 ? errno : EIO);
            return;
        }
        m_offset += n;
        m_written += n;
        budget -= n;
        emit progress(n);
        if (m_finished) // a handler of progress may have cancelled
            return;
    }
    m_writable->setEnabled(true);
}

void FileSender::finish(Outcome outcome, int error)
{
    m_finished = true;
    m_error = error;
    m_retry.stop();
    // finish() can run inside a notifier's own signal: the notifiers go once that has returned.
    for (auto *notifier : { &m_writable, &m_sliceReady }) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_slices.reset();
    m_slice.clear();
    emit finished(outcome);
}
