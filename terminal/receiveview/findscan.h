// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/storesnapshot.h"
#include "terminal/capture/textunits.h"
#include "terminal/receiveview/textsearch.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// What is sought: text, or bytes in hex display.
struct FindQuery
{
    QString needle; // as the area shows it
    QByteArray bytes; // a hex search: the bytes sought
    Qt::CaseSensitivity cs = Qt::CaseSensitive;
    bool hex() const { return !bytes.isEmpty(); }
};

// One search over a snapshot, on the worker thread. Positions are absolute. A match is either inside one
// piece, found there by a byte or text search over the piece as it lies in memory, or straddles pieces,
// found in a small window over the piece's edge and the characters next to it.
class FindScan
{
public:
    FindScan(const StoreSnapshot &held, const FindQuery &query, const std::atomic<bool> &cancelled,
        std::atomic<qint64> &done)
        : m_held(held)
        , m_query(query)
        , m_n(query.needle.size())
        , m_search(query.needle, query.cs)
        , m_cancelled(cancelled)
        , m_done(done)
    {
    }
    ~FindScan();
    FindScan(const FindScan &) = delete;
    FindScan &operator=(const FindScan &) = delete;

    // The first match starting in [from, until) (until < 0: to the end), or -1.
    qint64 forward(qint64 from, qint64 until);
    // The last match starting in [until, from) (until < 0: from the start), or -1.
    qint64 backward(qint64 from, qint64 until);
    // The line holding `at`, counted from 1 at the oldest data held.
    qint64 lineOf(qint64 at);
    // Lowers the calling thread's priority: searching gives way to the window and the port's reader when
    // processors are short.
    static void giveWay();

private:
    // The character before a candidate: known, none (the start of what is held), or not known yet (in the
    // piece before, which a backward search reads next).
    using Before = std::optional<QChar>;

    const HeldPiece &piece(size_t i) const { return m_held.pieces[i]; }
    size_t pieceAt(qint64 absolute) const;
    const void *data(const HeldPiece &piece);
    // Has the next blocks the search will need, from piece `at` on in its direction, opened meanwhile.
    void readAhead(size_t at);
    void open(std::function<void()> job);
    // Opens the first block waiting for a thread on this one; false when none waits.
    bool openOneHere();
    // Characters [a, b) of the piece (counted from its start) appended to `out`.
    void render(const HeldPiece &piece, qint64 a, qint64 b, QString &out);
    bool acceptable(QChar before) const;
    // The first match in characters [a, b) of the piece starting at or after `first`; `before` is the
    // character before `a`. Counted from the piece's start, or -1.
    qint64 firstIn(const HeldPiece &piece, qint64 a, qint64 b, qint64 first, QChar before);
    // The last match in [a, b) starting in [first, last]. `pending` when it starts at `a` and the character
    // before is not known yet.
    qint64 lastIn(const HeldPiece &piece, qint64 a, qint64 b, qint64 first, qint64 last, Before before, bool *pending);
    // The piece's text for a search: the chunk's own characters, or a hex piece rendered.
    QStringView textOf(const HeldPiece &piece, qint64 a, qint64 b, qint64 *base);

    const StoreSnapshot &m_held;
    const FindQuery &m_query;
    const qint64 m_n;
    const TextSearch m_search;
    const std::atomic<bool> &m_cancelled;
    std::atomic<qint64> &m_done;
    // The last two chunks read back from the scratch file: a backward search reads the one before the piece
    // at hand for a single character, then searches it.
    struct Decoded
    {
        quint64 id = 0;
        QByteArray bytes;
    };
    Decoded m_decoded[2];
    int m_nextSlot = 0;
    struct Ahead
    {
        quint64 id;
        std::future<QByteArray> opened;
    };
    std::deque<Ahead> m_ahead;
    // The threads that open blocks ahead of the search, started with its first block read back.
    std::vector<std::thread> m_openers;
    std::mutex m_openMutex;
    std::condition_variable m_openWake;
    std::deque<std::function<void()>> m_toOpen;
    bool m_stopOpening = false;
    int m_step = 1;
    qint64 m_hinted = -1; // the furthest piece the system was asked to read ahead
    bool m_readAhead = true;
    QString m_rendered;
};
