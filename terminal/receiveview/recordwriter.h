// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Appends what arrives to a file the user chose, on a thread of its own, so a slow disk never holds up the
// window. Each batch goes to the kernel as soon as the thread wakes for it (well within a second), so a
// program that is killed loses nothing the kernel was given; only a power loss can take what the disk has
// not yet stored, and the file is synced once, when the record ends. The file is only ever appended to.
//
// What waits for the disk is bounded: past the bound the record stops and says so rather than grow without
// end or make the window wait.
class RecordWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kBacklogBytes = qint64(32) << 20;

    enum Failure {
        WriteFailed, // the error says why
        FellBehind, // more than the bound waited for the disk
    };
    Q_ENUM(Failure)

    explicit RecordWriter(QObject *parent = nullptr, qint64 backlogBytes = kBacklogBytes);
    // Writes what still waits, then closes the file.
    ~RecordWriter() override;

    // Opens the file for appending (creating it if need be) and starts the writing thread; the system's error
    // number when it cannot, else 0.
    int open(const QString &path);
    // On the window's thread; ignored once failed or finishing.
    void append(const QByteArray &bytes);
    // What was appended is written and the file synced and closed on the writing thread; finished() follows.
    void finish();

signals:
    // Once; nothing more is written, and what was written stays.
    void failed(RecordWriter::Failure failure, int error);
    void finished();

private:
    void write();
    void fail(Failure failure, int error);

    const qint64 m_bound;
    int m_fd = -1;
    bool m_stopped = false; // failed or finishing: appends are ignored
    bool m_failed = false;

    // Shared with the writing thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_waiting;
    qint64 m_backlog = 0; // bytes handed over and not yet written
    bool m_ending = false;
    std::thread m_writer;
};
