// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QBasicTimer>
#include <QFile>
#include <QObject>
#include <QSaveFile>
#include <QStringEncoder>

class ReceiveStore;

// Writes a stretch of the receive store to a file as UTF-8, exactly as the area shows it, a slice per
// turn of the event loop: a capture of any size streams out with no memory growth, and the window goes
// on receiving meanwhile. The file appears only once it is whole; a failed or cancelled save leaves none. A
// character device named as the file is written into as it stands.
class CaptureWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kSliceChars = 1 << 20;

    enum Outcome {
        Saved,
        Cancelled,
        WriteFailed, // errorString() says why
        DataGone, // the oldest data made way past what was still to be saved
        Edited, // the text changed under the save
    };

    CaptureWriter(
        const ReceiveStore &store, qint64 from, qint64 to, QObject *parent = nullptr, qint64 sliceChars = kSliceChars);
    // False, with errorString(), when the file cannot be started.
    bool start(const QString &path);
    void cancel();

    qint64 total() const { return m_to - m_from; }
    qint64 done() const { return m_next - m_from; }
    QString errorString() const { return m_error; }
    // The system's error number for the failure, 0 when it gave none.
    int systemError() const { return m_systemError; }

signals:
    void progressed(qint64 done, qint64 total);
    void finished(CaptureWriter::Outcome outcome);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void finish(Outcome outcome);

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
    QBasicTimer m_timer;
    QString m_error;
    int m_systemError = 0;
};
