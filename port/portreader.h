// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/modemlines.h"

#include <QByteArray>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

// Drains an open serial device on a thread of its own, so the line is read at its own pace however long the
// window takes to paint. What it reads waits in one buffer until take(). It signals on notifier() (a
// descriptor for a read notifier on the owner's thread) when data arrives, once until rearm(), so a flood is
// announced a few times a frame rather than once per read; and when the device fails, after which it stops.
// It also watches the modem control lines every kLinesPeriodMs (a pseudo-terminal has none, and then it
// stops looking) and signals the same way when they change.
// The two threads share nothing but the buffer and the flags under one mutex.
class PortReader
{
public:
    // Reading pauses while this much waits untaken, and the driver holds the rest (a pty holds back its writer):
    // 200 ms of a 40 MB/s line. It bounds memory, and the work one late notification can hand the window.
    static constexpr qsizetype kReadAhead = 8 << 20;

    // How often the control lines are looked at: a change is seen within this time.
    static constexpr int kLinesPeriodMs = 50;

    // The control lines as last seen: their bits, or the error that ended the watch.
    struct Lines
    {
        int error = 0;
        int bits = 0;
        bool operator==(const Lines &) const = default;
    };

    explicit PortReader(int fd, std::shared_ptr<ModemLines> lines = nullptr);
    ~PortReader();
    PortReader(const PortReader &) = delete;
    PortReader &operator=(const PortReader &) = delete;

    // Readable when there is news: data arrived, or the device failed. acknowledge() clears it.
    int notifier() const { return m_notify; }
    void acknowledge() const;

    // Stops the thread and waits for it; the descriptor is left open, and take() still gives what was read.
    void stop();
    // What was read so far, oldest first, at most `max` bytes of it.
    QByteArray take(qsizetype max = std::numeric_limits<qsizetype>::max());
    // Whether anything read is still waiting.
    bool waiting();
    // Lets the next read announce itself again; true when something is waiting already.
    bool rearm();
    // The system error the device failed with (EIO when it only hung up), 0 while it works.
    int failure();
    Lines lines();

private:
    void run();

    const int m_fd;
    const int m_wake; // an eventfd to the reader: stop, or room again after take()
    const int m_notify; // an eventfd from the reader
    std::mutex m_mutex;
    std::deque<QByteArray> m_chunks; // guarded by m_mutex
    qsizetype m_size = 0; // of m_chunks, guarded by m_mutex
    bool m_told = false; // guarded by m_mutex
    bool m_stop = false; // guarded by m_mutex
    int m_failure = 0; // guarded by m_mutex
    const std::shared_ptr<ModemLines> m_modem;
    Lines m_lines; // guarded by m_mutex
    std::thread m_thread;
};
