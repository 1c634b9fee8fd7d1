// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/hexdump.h"

#include <QBasicTimer>
#include <QFile>
#include <QObject>
#include <QSaveFile>
#include <QStringEncoder>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class LineTimes;
class ReceiveStore;

// Writes a stretch of the receive store to a file as UTF-8, exactly as the area shows it: the window's
// thread reads and encodes a slice per turn of its event loop, and a thread of the writer's own writes the
// slices and makes the file whole (fsync, rename), so a slow disk never holds up the window. A capture of
// any size streams out with no memory growth (at most two slices wait for the disk), and the window goes
// on receiving meanwhile. The file appears only once it is whole; a failed or cancelled save leaves none,
// and finished() comes once nothing of it is left. A character device named as the file is written into as
// it stands.
class CaptureWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kSliceChars = 1 << 20;

    enum Outcome {
        Saved,
        Cancelled,
        WriteFailed, // error() says why
        DataGone, // the oldest data made way past what was still to be saved
        Edited, // the text changed under the save
    };

    CaptureWriter(
        const ReceiveStore &store, qint64 from, qint64 to, QObject *parent = nullptr, qint64 sliceChars = kSliceChars);
    ~CaptureWriter() override;
    // Writes the stretch as a dump of 16 bytes a row (HexDump) instead of as shown; before start.
    void setHexDump(bool on) { m_dump = on; }
    // Writes each line with the date and time it began to arrive before it (LineTimes::stamped); before
    // start. The times must outlive the writer.
    void setTimes(const LineTimes *times) { m_times = times; }
    // Returns at once (false only when already started): the file is made on the writing thread, and one
    // that cannot be made ends the save with finished(WriteFailed) and error().
    bool start(const QString &path);
    void cancel();
    // Tests hold the open here to play a slow folder; before start.
    void setBeforeOpen(std::function<void()> hook) { m_beforeOpen = std::move(hook); }

    qint64 total() const { return m_to - m_from; }
    qint64 done() const { return m_next - m_from; }
    // The system's error number (errno) for the failed open, write or rename; the window words it.
    int error() const { return m_error; }

signals:
    void progressed(qint64 done, qint64 total);
    void finished(CaptureWriter::Outcome outcome);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // On the window's thread: ends the save early; finished() follows once the file is dropped.
    void stop(Outcome outcome);
    // On the window's thread, told by the writing thread: room for another slice, or the end.
    void fromWriter();
    // The writing thread: makes the file (errno says why not), writes the slices, and says it is done.
    bool open(const QString &path);
    void write();
    void finishWriting(int error);

    const ReceiveStore &m_store;
    // Absolute positions (counted from the last clear), so that the oldest data making way moves nothing.
    const qint64 m_from;
    const qint64 m_to;
    qint64 m_next;
    const quint64 m_edits;
    const qint64 m_slice;
    QSaveFile m_file;
    QFile m_device; // in place of m_file when the path names a device
    QFileDevice *m_out = &m_file;
    QStringEncoder m_encoder { QStringEncoder::Utf8 };
    bool m_dump = false;
    HexDump m_hexDump;
    const LineTimes *m_times = nullptr;
    QChar m_lastWritten;
    QBasicTimer m_timer;
    int m_error = 0;
    Outcome m_outcome = Saved; // once m_ending: what the save comes to unless the disk fails first
    bool m_ending = false;
    bool m_finished = false;
    std::function<void()> m_beforeOpen;

    // Shared with the writing thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_slices;
    bool m_last = false; // every slice is handed over: make the file whole
    bool m_drop = false; // leave no file
    bool m_written = false; // the writing thread is done with the file
    bool m_failed = false;
    int m_writeError = 0;
    std::thread m_writer;
};
