// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/modemlines.h"
#include "port/textcodec.h"

#include <QByteArray>
#include <QString>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

// Drains an open serial device on a thread of its own, so the line is read at its own pace however long the
// window takes to paint. What it reads waits in one buffer until take(). It signals on notifier() (a
// descriptor for a read notifier on the owner's thread) when data arrives, once until rearm(), so a flood is
// announced a few times a frame rather than once per read; and when the device fails, after which it stops.
// It also watches the modem control lines every kLinesPeriodMs (a pseudo-terminal has none, and then it
// stops looking) and signals the same way when they change.
// The two threads share nothing but the buffer and the flags under one mutex.
//
// While told to, it also decodes what it reads as GBK text, so the window does not have to: each piece read
// keeps its bytes and, decoded, the text of exactly those bytes. A piece always starts where a character
// starts in the reader's reading of the stream; a lead byte at the end of a read waits with the reader for
// its trail byte (held, not yet a piece), and goes to whoever takes the bytes with it.
class PortReader
{
public:
    struct Piece
    {
        QByteArray bytes;
        QString text; // the bytes decoded, when `decoded`
        bool decoded = false;
    };

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
    // What was read so far, oldest first, at most `max` bytes of it, a held lead byte included.
    QByteArray take(qsizetype max = std::numeric_limits<qsizetype>::max());
    // Whole pieces, oldest first, about `max` bytes of them (at least one piece). A held lead byte comes last
    // as a piece of its own when `withHeld`; it stays to meet its trail byte otherwise.
    std::vector<Piece> takePieces(qsizetype max, bool withHeld);
    // Whether to decode what is read from now on.
    void setDecoding(bool on);
    // Whether anything read is still waiting (a held lead byte does not count).
    bool waiting();
    // Lets the next read announce itself again; true when something is waiting already, a held byte too.
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
    std::deque<Piece> m_chunks; // guarded by m_mutex
    qsizetype m_size = 0; // bytes of m_chunks, guarded by m_mutex
    QByteArray m_held; // a lead byte waiting for its trail, guarded by m_mutex
    bool m_decode = false; // guarded by m_mutex
    GbkDecoder m_decoder; // the reader thread's; it decodes whole characters only, so it keeps no state
    bool m_told = false; // guarded by m_mutex
    bool m_stop = false; // guarded by m_mutex
    int m_failure = 0; // guarded by m_mutex
    const std::shared_ptr<ModemLines> m_modem;
    Lines m_lines; // guarded by m_mutex
    std::thread m_thread;
};
