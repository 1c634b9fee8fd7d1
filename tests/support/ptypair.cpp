// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ptypair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// termios2 lives in a header that cannot share a unit with <termios.h>.
qint64 ptyBaud(int fd);

PtyPair::PtyPair()
{
    int slave = -1;
    char name[256] = {};
    if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
        return;
    m_slavePath = QString::fromLocal8Bit(name);
    ::close(slave);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    closeMaster();
}

qsizetype PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            // The pty holds only a few KB: let the program read before writing on.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd p { m_master, POLLOUT, 0 };
            ::poll(&p, 1, 5);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    return done;
}

QByteArray PtyPair::read(qsizetype count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    char chunk[4096];
    while (out.size() < count && clock.elapsed() < timeoutMs) {
        // The program writes from its event loop, so keep it turning while waiting.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p { m_master, POLLIN, 0 };
        if (::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN))
            continue;
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0)
            out.append(chunk, n);
    }
    return out;
}

bool PtyPair::hasInput() const
{
    pollfd p { m_master, POLLIN, 0 };
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

qint64 PtyPair::baud() const
{
    return ptyBaud(m_master);
}

void PtyPair::setFlowControl()
{
    termios t {};
    ::tcgetattr(m_master, &t);
    t.c_cflag |= CRTSCTS;
    t.c_iflag |= IXON | IXOFF;
    ::tcsetattr(m_master, TCSANOW, &t);
}

QString PtyPair::line() const
{
    termios t {};
    if (::tcgetattr(m_master, &t) != 0)
        return {};
    QStringList flow;
    if (t.c_cflag & CRTSCTS)
        flow << QStringLiteral("rts");
    if (t.c_iflag & IXON)
        flow << QStringLiteral("xon");
    if (t.c_iflag & IXOFF)
        flow << QStringLiteral("xoff");
    return QString::asprintf("%lld %d %d %d ", baud(), (t.c_cflag & CSTOPB) ? 2 : 1, (t.c_cflag & PARODD) != 0,
               (t.c_iflag & (INPCK | PARMRK | IGNPAR)) == (INPCK | PARMRK))
        + (flow.isEmpty() ? QStringLiteral("none") : flow.join(u','));
}
