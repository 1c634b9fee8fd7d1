// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/vport/virtualdevice.h"

#include "port/textcodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Room for what the device sends. Echo stops reading (the program's writes wait in the kernel) rather
// than drop a byte; the flood only fills half, so an echo always finds room.
constexpr qsizetype kOutCapacity = 64 * 1024;
constexpr qsizetype kFloodCapacity = kOutCapacity / 2;
constexpr auto kLinePeriod = 1s;
constexpr auto kFloodTick = 10ms;
// Nobody holds the slave: look again this often. A hung-up master reports POLLHUP at once, so waiting
// on it would spin.
constexpr auto kIdleCheck = 100ms;

const QString kLine = QStringLiteral("虚拟串口 第%1行\r\n");

int toPollTimeout(std::chrono::steady_clock::duration d)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1000));
}

} // namespace

VirtualDevice::VirtualDevice(const VportOptions &options)
    : m_options(options)
{
}

VirtualDevice::~VirtualDevice()
{
    if (m_master >= 0)
        ::close(m_master);
}

bool VirtualDevice::create(QString &error)
{
    int slave = -1;
    char name[256] = {};
    if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
        error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // Raw from the start: a slave that echoes would send every line straight back to be echoed again,
    // and CR/LF or XON/XOFF translation would change the bytes on the line.
    termios raw {};
    if (::tcgetattr(slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ::close(slave);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    m_path = QString::fromLocal8Bit(name);
    return true;
}

bool VirtualDevice::peerPresent() const
{
    pollfd p { m_master, 0, 0 };
    return ::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

void VirtualDevice::onAttached(Clock::time_point now)
{
    m_attached = true;
    m_nextLine = now + kLinePeriod;
    m_floodClock = now;
    m_floodBudget = 0.0;
}

void VirtualDevice::onDetached()
{
    m_attached = false;
    m_out.clear();
    m_outStart = 0;
    m_floodText.clear();
    // Bytes already handed to the slave but not read there must not greet the next opener.
    ::tcflush(m_master, TCOFLUSH);
}

QByteArray VirtualDevice::nextLine()
{
    return encodeGbk(kLine.arg(++m_lineNumber));
}

void VirtualDevice::produce(Clock::time_point now)
{
    if (m_options.periodicLine && now >= m_nextLine) {
        if (m_out.size() - m_outStart + 64 <= kOutCapacity)
            m_out += nextLine();
        m_nextLine += kLinePeriod;
        if (m_nextLine <= now) // the process was stopped a while: no burst of catch-up lines
            m_nextLine = now + kLinePeriod;
    }
    if (m_options.flood == VportOptions::Flood::None)
        return;
    const double seconds = std::chrono::duration<double>(now - m_floodClock).count();
    m_floodClock = now;
    // At most a tenth of a second's worth at once, so a stall does not turn into a burst.
    m_floodBudget = std::min(m_floodBudget + seconds * static_cast<double>(m_options.floodRate),
        std::max(1.0, static_cast<double>(m_options.floodRate) / 10.0));
    auto room = kFloodCapacity - (m_out.size() - m_outStart);
    auto count
        = static_cast<qsizetype>(std::min<double>(m_floodBudget, static_cast<double>(std::max<qsizetype>(room, 0))));
    if (count <= 0)
        return;
    m_floodBudget -= static_cast<double>(count);
    if (m_options.flood == VportOptions::Flood::Random) {
        for (qsizetype i = 0; i < count; ++i)
            m_out += static_cast<char>(m_random() & 0xFF);
        return;
    }
    while (count > 0) {
        if (m_floodText.isEmpty())
            m_floodText = nextLine();
        const qsizetype n = std::min(count, m_floodText.size());
        m_out += m_floodText.left(n);
        m_floodText.remove(0, n);
        count -= n;
    }
}

void VirtualDevice::readInput()
{
    char chunk[4096];
    const qsizetype room = kOutCapacity - (m_out.size() - m_outStart);
    const ssize_t n = ::read(m_master, chunk, static_cast<size_t>(std::min<qsizetype>(room, sizeof chunk)));
    if (n > 0)
        m_out.append(chunk, n);
    else if (n < 0 && errno == EIO) // the last holder of the slave closed it
        onDetached();
}

void VirtualDevice::writeOutput()
{
    const ssize_t n = ::write(m_master, m_out.constData() + m_outStart, static_cast<size_t>(m_out.size() - m_outStart));
    if (n > 0)
        m_outStart += n;
    if (m_outStart == m_out.size()) {
        m_out.clear();
        m_outStart = 0;
    } else if (m_outStart > kOutCapacity) {
        m_out.remove(0, m_outStart);
        m_outStart = 0;
    }
}

void VirtualDevice::run(const sigset_t &waitMask, const volatile std::sig_atomic_t &stop)
{
    while (!stop) {
        const auto now = Clock::now();
        const bool present = peerPresent();
        if (present && !m_attached)
            onAttached(now);
        else if (!present && m_attached)
            onDetached();

        if (!m_attached) {
            const timespec idle { 0, std::chrono::duration_cast<std::chrono::nanoseconds>(kIdleCheck).count() };
            ::ppoll(nullptr, 0, &idle, &waitMask);
            continue;
        }

        produce(now);
        const bool pending = m_out.size() > m_outStart;
        pollfd p { m_master,
            static_cast<short>((m_out.size() - m_outStart < kOutCapacity ? POLLIN : 0) | (pending ? POLLOUT : 0)), 0 };
        auto wait = m_options.periodicLine ? m_nextLine - now : Clock::duration(1s);
        if (m_options.flood != VportOptions::Flood::None)
            wait = std::min<Clock::duration>(wait, kFloodTick);
        const int timeoutMs = toPollTimeout(wait);
        const timespec timeout { timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1'000'000L };
        if (::ppoll(&p, 1, &timeout, &waitMask) <= 0)
            continue;
        if (p.revents & POLLIN)
            readInput();
        if (m_attached && (p.revents & POLLOUT))
            writeOutput();
        // POLLHUP is seen at the top of the next turn.
    }
}
