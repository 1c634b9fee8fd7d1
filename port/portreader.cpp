// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/portreader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// What one turn hands over at most: a pty gives 4 KiB a read, a USB adapter less, so this gathers several
// reads under one lock.
constexpr qsizetype kChunk = 64 * 1024;

// A new eventfd; `made` (if any) is closed when it cannot be had, so a failing constructor leaks nothing.
int makeEvent(int made = -1)
{
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (made >= 0)
            ::close(made);
        throw std::system_error(error, std::generic_category(), "eventfd");
    }
    return fd;
}

void signal(int event)
{
    const std::uint64_t one = 1;
    // Fails only when the counter is already huge, which signals just as well.
    [[maybe_unused]] const ssize_t n = ::write(event, &one, sizeof one);
}

void clear(int event)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(event, &count, sizeof count);
}

} // namespace

PortReader::PortReader(int fd, std::shared_ptr<ModemLines> lines)
    : m_fd(fd)
    , m_wake(makeEvent())
    , m_notify(makeEvent(m_wake))
    , m_modem(std::move(lines))
{
    try {
        m_thread = std::thread(&PortReader::run, this);
    } catch (...) {
        ::close(m_wake);
        ::close(m_notify);
        throw;
    }
}

PortReader::~PortReader()
{
    stop();
    ::close(m_wake);
    ::close(m_notify);
}

void PortReader::acknowledge() const
{
    clear(m_notify);
}

void PortReader::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    signal(m_wake);
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<PortReader::Piece> PortReader::takePieces(qsizetype max, bool withHeld)
{
    // The pieces leave under the lock; joining them (the copy) happens outside it.
    std::vector<Piece> pieces;
    bool freed = false;
    {
        const std::lock_guard lock(m_mutex);
        const bool wasFull = m_size >= kReadAhead;
        qsizetype size = 0;
        while (!m_chunks.empty() && (pieces.empty() || size + m_chunks.front().bytes.size() <= max)) {
            size += m_chunks.front().bytes.size();
            pieces.push_back(std::move(m_chunks.front()));
            m_chunks.pop_front();
        }
        m_size -= size;
        freed = wasFull && m_size < kReadAhead;
        if (withHeld && !m_held.isEmpty()) {
            // Its trail byte, when it comes, is read afresh, as whoever took the lead byte reads it.
            pieces.push_back({ std::exchange(m_held, QByteArray()), {}, false });
        }
    }
    if (freed)
        signal(m_wake);
    return pieces;
}

QByteArray PortReader::take(qsizetype max)
{
    std::vector<Piece> pieces = takePieces(max, true);
    if (pieces.size() == 1)
        return std::move(pieces.front().bytes);
    qsizetype size = 0;
    for (const Piece &piece : pieces)
        size += piece.bytes.size();
    QByteArray taken;
    taken.reserve(size);
    for (const Piece &piece : pieces)
        taken += piece.bytes;
    return taken;
}

void PortReader::setDecoding(bool on)
{
    const std::lock_guard lock(m_mutex);
    m_decode = on;
    if (!on && !m_held.isEmpty()) {
        // A byte held for decoding is a byte like any other now.
        m_size += m_held.size();
        m_chunks.push_back({ std::exchange(m_held, QByteArray()), {}, false });
    }
}

bool PortReader::waiting()
{
    const std::lock_guard lock(m_mutex);
    return m_size > 0;
}

bool PortReader::rearm()
{
    const std::lock_guard lock(m_mutex);
    m_told = false;
    return m_size > 0 || !m_held.isEmpty();
}

int PortReader::failure()
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

PortReader::Lines PortReader::lines()
{
    const std::lock_guard lock(m_mutex);
    return m_lines;
}

void PortReader::run()
{
    QByteArray chunk;
    const auto fail = [this](int error) {
        {
            const std::lock_guard lock(m_mutex);
            m_failure = error;
        }
        signal(m_notify);
    };
    // The lines are looked at between reads, at most every kLinesPeriodMs however fast data comes; a device that
    // cannot tell them is not asked again.
    using Clock = std::chrono::steady_clock;
    bool watchLines = m_modem != nullptr;
    Clock::time_point nextLook = Clock::now();
    const auto lookAtLines = [&] {
        Lines seen;
        seen.error = m_modem->get(m_fd, seen.bits);
        if (seen.error != 0) {
            seen.bits = 0;
            watchLines = false;
        }
        nextLook = Clock::now() + std::chrono::milliseconds(kLinesPeriodMs);
        bool changed = false;
        {
            const std::lock_guard lock(m_mutex);
            changed = seen != m_lines;
            m_lines = seen;
        }
        if (changed)
            signal(m_notify);
    };
    for (;;) {
        if (watchLines && Clock::now() >= nextLook)
            lookAtLines();
        bool room = false;
        {
            const std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            room = m_size < kReadAhead;
        }
        // Without room the device is not watched at all: a hang-up would otherwise wake the poll at once, again
        // and again, until the buffer is taken.
        pollfd fds[2] = { { m_wake, POLLIN, 0 }, { room ? m_fd : -1, POLLIN, 0 } };
        const int timeout = watchLines ? static_cast<int>(std::max<Clock::rep>(
                                0, std::chrono::ceil<std::chrono::milliseconds>(nextLook - Clock::now()).count()))
                                       : -1;
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return;
        }
        if (fds[0].revents & POLLIN) {
            clear(m_wake);
            continue;
        }
        if (fds[1].revents == 0)
            continue;

        chunk.resize(kChunk);
        qsizetype got = 0;
        int error = 0;
        while (got < kChunk) {
            const ssize_t n = ::read(m_fd, chunk.data() + got, static_cast<size_t>(kChunk - got));
            if (n > 0) {
                got += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            // With no minimum count set, an empty tty answers 0 rather than EAGAIN; a hung-up one answers 0 too,
            // so an end of data is a failure only when the poll said the line hung up.
            if (n < 0 && errno != EAGAIN)
                error = errno;
            break;
        }
        const bool hungUp = got == 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL));
        if (got > 0) {
            bool decode = false;
            QByteArray held;
            {
                const std::lock_guard lock(m_mutex);
                decode = m_decode;
                held = std::exchange(m_held, QByteArray());
            }
            // A full read buffer is handed over as it is; a few bytes go in a piece of their own size, so a slow
            // line does not keep 64 KiB per read.
            Piece piece;
            if (held.isEmpty() && got >= kChunk / 2) {
                chunk.truncate(got);
                piece.bytes = std::move(chunk);
                chunk = QByteArray();
            } else {
                piece.bytes = std::move(held);
                piece.bytes.append(chunk.constData(), got);
            }
            QByteArray tail;
            if (decode) {
                // Decoded here, off the window's thread; a lead byte at the end waits for its trail.
                tail = piece.bytes;
                piece.text = m_decoder.take(tail);
                piece.bytes.chop(tail.size());
                piece.decoded = true;
            }
            bool tell = false;
            {
                const std::lock_guard lock(m_mutex);
                if (!m_decode) {
                    // Decoding was switched off meanwhile: the tail is a byte like any other.
                    piece.bytes += tail;
                    piece.decoded = piece.decoded && tail.isEmpty();
                    tail.clear();
                }
                m_held = tail;
                if (!piece.bytes.isEmpty()) {
                    m_size += piece.bytes.size();
                    m_chunks.push_back(std::move(piece));
                }
                tell = !m_told;
                m_told = true;
            }
            if (tell)
                signal(m_notify);
        }
        if (error != 0 || hungUp) {
            fail(error != 0 ? error : EIO);
            return;
        }
    }
}
