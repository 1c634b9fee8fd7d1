// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair: the program opens the slave path as its serial port; the test plays the
// device on the master, which sees exactly the bytes the program wrote and the line settings it set.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    // The device's end, non-blocking, for a test that writes from a thread of its own.
    int masterFd() const { return m_master; }

    // Sends bytes to the program; how many went, fewer only when the pty failed (hung up).
    qsizetype write(const QByteArray &bytes);

    // Reads what the program wrote: stops once `count` bytes arrived or `timeoutMs` passed.
    QByteArray read(qsizetype count, int timeoutMs = 2000);
    // Whether the program has written something not read yet; does not wait.
    bool hasInput() const;

    // Unplugs the device.
    void closeMaster();

    // The line settings the slave carries now.
    qint64 baud() const;
    // Leaves RTS/CTS and XON/XOFF flow control on, as another program may have left the line.
    void setFlowControl();
    // "baud stop-bits odd marked flow": odd is 1 when the odd flag is set (the pty clears the parity-enable flag but
    // keeps this one, which shows which parity was asked for); marked is 1 when bytes with a parity error would
    // come as "FF 00 x" (INPCK and PARMRK on, IGNPAR off); flow is "none", or which of "rts", "xon" and "xoff" are on.
    QString line() const;

private:
    int m_master = -1;
    QString m_slavePath;
};
