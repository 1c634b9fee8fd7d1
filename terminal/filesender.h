// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/fileslices.h"

#include <QBasicTimer>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

class MSComm;

// Sends a file's bytes raw through an open port as fast as the line takes them, from the window's thread
// without ever blocking it: slices come from FileSlices, and each write gives the device only what it
// accepts at once. The bytes go to the device directly rather than through Output's queue, so a cancel
// stops at once: nothing of the file is left waiting to go out after it.
class FileSender : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Sent,
        Cancelled,
        ReadFailed, // error(): the system's error number
        PortClosed, // closed, lost or opened again meanwhile
        WriteFailed, // error(): the system's error number
    };

    // Takes over `fileFd`. The port must be open.
    FileSender(MSComm &port, int fileFd, QObject *parent = nullptr);
    ~FileSender() override;

    void start();
    // Stops at once: no more of the file is written. Raises finished(Cancelled) unless already finished.
    void cancel();

    qint64 written() const { return m_written; }
    int error() const { return m_error; }
    bool isFinished() const { return m_finished; }

signals:
    // `bytes` more of the file have gone to the device.
    void progress(qint64 bytes);
    void finished(FileSender::Outcome outcome);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void step();
    void finish(Outcome outcome, int error = 0);

    MSComm &m_port;
    quint64 m_session;
    int m_fd = -1; // our own descriptor of the device, so a close of the port cannot hand its number to another file
    std::unique_ptr<FileSlices> m_slices;
    std::unique_ptr<QSocketNotifier> m_sliceReady;
    std::unique_ptr<QSocketNotifier> m_writable;
    QBasicTimer m_retry; // waits for Output's queue to empty, and notices a port closed meanwhile
    QByteArray m_slice;
    qsizetype m_offset = 0;
    bool m_atEnd = false;
    qint64 m_written = 0;
    int m_error = 0;
    bool m_finished = false;
};
