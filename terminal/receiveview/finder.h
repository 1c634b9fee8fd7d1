// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QBasicTimer>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <thread>
#include <vector>

class ReceiveStore;

// Searches the whole capture, the part in the scratch file included, on a thread of its own over what the
// store held when the search started, so the window goes on receiving meanwhile. Data that arrives later
// may be missed by that search; data dropped meanwhile is still searched, and a match found there is given
// up for the next one still held. A match that straddles chunks is found.
class Finder : public QObject
{
    Q_OBJECT

public:
    explicit Finder(const ReceiveStore &store, QObject *parent = nullptr);
    ~Finder() override;

    // `needle` is text, or in hex (`hex`) bytes written as hex numbers ("0D 0A") that match whole "0D 0A "
    // tokens. Forward: the first match starting at or after `from`; backward: the last one starting before
    // it. With `wrap`, a search that finds nothing goes on once from the other end up to `from`. False when
    // a hex needle is not bytes written as hex.
    bool start(const QString &needle, bool hex, Qt::CaseSensitivity cs, qint64 from, bool forward, bool wrap = false);
    void cancel();
    bool running() const { return m_job != nullptr; }
    bool forward() const { return m_forward; }

signals:
    // Store positions [from, to); `line` counts from 1 at the oldest line held; `wrapped` when it was found
    // past the other end.
    void found(qint64 from, qint64 to, qint64 line, bool wrapped);
    void notFound();
    // The system had no memory for the search.
    void failed();
    void progressed(qint64 done, qint64 total);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    struct Job;
    void launch();
    void finish(const Job *job, qint64 at, qint64 line);
    // Asks the running search to stop; its thread is joined once it has, or when the finder goes.
    void retire();
    void reap(bool wait);

    const ReceiveStore &m_store;
    QString m_needle; // hex: rendered as the area shows it
    QByteArray m_bytes; // hex: the bytes sought
    Qt::CaseSensitivity m_cs = Qt::CaseSensitive;
    bool m_forward = true;
    bool m_wrap = false;
    bool m_wrapped = false;
    qint64 m_start = 0; // absolute, counted from the last clear: where the user started
    qint64 m_from = 0; // absolute: where this pass starts
    qint64 m_until = -1; // absolute: the other bound of a match's start in this pass, or -1
    std::shared_ptr<Job> m_job;
    std::thread m_worker;
    std::vector<std::pair<std::shared_ptr<Job>, std::thread>> m_retired;
    QBasicTimer m_progress;
};
