// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <functional>
#include <mutex>
#include <thread>

// Drains an open serial device on a thread of its own, so the line is read at its own pace however long the
// window takes to paint. What it reads waits in one buffer until take(). It tells of an arrival once until
// rearm(), so a flood is announced a few times a frame rather than once per read; and it tells of a failed
// device once, then stops reading. Both calls come on the reader's thread.
class PortReader
{
public:
    // Reading pauses while this much waits untaken, and the driver holds the rest (a pty holds back its writer):
    // 200 ms of a 40 MB/s line. It bounds memory, and the work one late notification can hand the window.
    static constexpr qsizetype kReadAhead = 8 << 20;

    PortReader(int fd, std::function<void()> arrived, std::function<void(int systemError)> lost);
    ~PortReader();
    PortReader(const PortReader &) = delete;
    PortReader &operator=(const PortReader &) = delete;

    // Stops the thread and waits for it; the descriptor is left open, and take() still gives what was read.
    void stop();
    // Everything read so far, oldest first.
    QByteArray take();
    // Lets the next read announce itself again; true when something is waiting already.
    bool rearm();

private:
    void run();
    void wake() const;

    const int m_fd;
    const int m_wake; // an eventfd: stop, or room again after take()
    const std::function<void()> m_arrived;
    const std::function<void(int)> m_lost;
    std::mutex m_mutex;
    QByteArray m_buffer; // guarded by m_mutex
    bool m_told = false; // guarded by m_mutex
    bool m_stop = false; // guarded by m_mutex
    std::thread m_thread;
};
