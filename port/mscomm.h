// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The serial component: one port, chosen by number, opened and closed, with line settings, text or
// binary input and output, and a notification when input arrives. Built on QSerialPort; failures are
// thrown as CommError and never reach the event loop from here.
//
// Everything but reading happens on the caller's thread and is done when the call returns. Reading runs on a
// thread of its own (PortReader), so the device is drained however slowly the window paints; OnComm comes on
// the object's thread at most once a frame, and Input takes what was read since (up to 2 MiB at once).

#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/portreader.h"
#include "port/textcodec.h"

#include <QBasicTimer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <memory>
#include <variant>

class MSComm : public QObject
{
    Q_OBJECT

public:
    enum CommEvents {
        comEvReceive = 2,
    };
    enum InputModes {
        comInputModeText = 0,
        comInputModeBinary = 1,
    };
    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    int CommPort() const { return m_commPort; }
    void setCommPort(int port);

    QString Settings() const { return m_settingsText; }
    const LineSettings &lineSettings() const { return m_settings; }
    void setSettings(const QString &settings);

    bool PortOpen() const { return m_port.isOpen(); }
    void setPortOpen(bool open);

    int InputLen() const { return m_inputLen; }
    void setInputLen(int length);

    // Everything waiting (or at most InputLen bytes): text in text mode, bytes in binary mode.
    std::variant<QString, QByteArray> Input();

    void setOutput(const QString &text);
    void setOutput(const QByteArray &bytes);

    InputModes InputMode() const { return m_inputMode; }
    void setInputMode(InputModes mode) { m_inputMode = mode; }

    int CommEvent() const { return m_commEvent; }

    // The device behind the current port number ("" when none).
    QString deviceName() const;

signals:
    void OnComm();
    // The device went away while open (unplugged, hung up); the port has been closed.
    void portLost();
    // Each batch of bytes Input hands over, as they came (a byte received with a parity error as "?"), before
    // it is decoded or rendered: what a record of the raw stream keeps.
    void inputTaken(const QByteArray &bytes);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void onReaderNews();
    void onArrival();
    void notifyArrival();
    void onError(QSerialPort::SerialPortError error);
    void handleLoss(quint64 session);
    void startReading();
    void stopReading();
    void applySettings(const LineSettings &settings);
    void markParityErrors(bool on);
    void takeFromDevice(const QByteArray &bytes);
    [[noreturn]] void failOpen(CommError::Code code, int systemError = 0);

    QSerialPort m_port;
    int m_commPort = 1;
    LineSettings m_settings;
    QString m_settingsText = kDefaultLineSettings;
    int m_inputLen = 0;
    InputModes m_inputMode = comInputModeText;
    int m_commEvent = 0;
    QByteArray m_pending; // bytes taken from the device but not yet read with Input
    QByteArray m_marked; // while parity errors are marked: the start of a mark still waiting for its end
    bool m_marking = false;
    GbkDecoder m_decoder;
    bool m_lossQueued = false;
    // Counts the opens, so a loss reported for an earlier open cannot close this one.
    quint64 m_session = 0;
    std::unique_ptr<PortReader> m_reader; // while open
    std::unique_ptr<QSocketNotifier> m_readerNews;
    QElapsedTimer m_sinceNotify;
    QBasicTimer m_frame; // an arrival waiting for the next frame
};
