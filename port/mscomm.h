// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The serial component: one port, chosen by number, opened and closed, with line settings, text or
// binary input and output, and a notification when input arrives. Built on QSerialPort; failures are
// thrown as CommError and never reach the event loop from here.
//
// Everything but reading happens on the caller's thread and is done when the call returns. Reading runs on a
// thread of its own (PortReader), so the device is drained however slowly the window paints; OnComm comes on
// the object's thread at most once a frame, and Input takes what was read since (up to 2 MiB at once). In text
// mode the reading thread also decodes, so Input hands over text it did not have to decode itself.

#include "port/adapteridentity.h"
#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/modemlines.h"
#include "port/portreader.h"
#include "port/textcodec.h"

#include <QBasicTimer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
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
    enum HandshakeConstants {
        comNone = 0,
        comXOnXoff = 1,
        comRTS = 2,
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
    // The same as Input, in the pieces it was read in: a caller that keeps them one by one copies each byte
    // once, where a joined Input is copied again.
    std::variant<QStringList, QByteArrayList> InputPieces();

    // From an OnComm handler that leaves what waits for now: OnComm comes again next frame.
    void remindNextFrame();

    void setOutput(const QString &text);
    void setOutput(const QByteArray &bytes);

    InputModes InputMode() const { return m_inputMode; }
    void setInputMode(InputModes mode);

    int CommEvent() const { return m_commEvent; }

    // The device behind the current port number ("" when none).
    QString deviceName() const;

    // For a writer that goes to the device around Output (a file, sent as the line takes it): the open
    // descriptor (-1 while closed), a number that changes with every open, and what Output still holds.
    int handle() const { return m_port.isOpen() ? m_port.handle() : -1; }
    quint64 session() const { return m_session; }
    qint64 OutBufferCount() const { return m_port.bytesToWrite(); }
    // Flow control, applied at once while open and at every open. All or nothing: a mode the device refuses
    // (CommError::ControlRefused) leaves the one it had.
    HandshakeConstants Handshaking() const { return m_handshaking; }
    void setHandshaking(HandshakeConstants mode);

    // DTR and RTS: raised or dropped at once while open, and again at every open once chosen; until then, as
    // the driver leaves them at open. A device that refuses throws CommError::ControlRefused.
    void setDTREnable(bool on);
    void setRTSEnable(bool on);

    // The control lines of the open port (TIOCM bits), followed from the reader thread; `error` says why there
    // are none (a pseudo-terminal: EINVAL or ENOTTY). Nothing while closed.
    PortReader::Lines controlLines() const { return m_lines; }
    // The calls that reach the lines; a test puts a fake here before opening.
    void setModemLines(std::shared_ptr<ModemLines> lines) { m_modemLines = std::move(lines); }

    // An adapter that went away while open is opened again when it is back, under whatever port number it
    // has then (on by default). Closing the port, choosing another number or switching this off ends the wait.
    bool reopenOnReturn() const { return m_reopenOnReturn; }
    void setReopenOnReturn(bool on);
    bool waitingForReturn() const { return m_returnWatch.isActive(); }
    // Whether the device last opened has an identity of its own to be recognised by when it comes back.
    bool recognisable() const { return m_identity.has_value(); }
    // How often the system is looked at for it while waiting.
    static constexpr int kReturnScanMs = 250;

    // Why the port was lost (the system's error number; EIO for a hang-up) and the device it was, until it is
    // opened again; 0 and "" when it was not.
    int lossError() const { return m_lossError; }
    QString lostDevice() const { return m_lostDevice; }

signals:
    void OnComm();
    // The device went away while open (unplugged, hung up); the port has been closed.
    void portLost();
    // The adapter that went away is back and open again, as port number CommPort().
    void portReturned();
    // What the port shows of itself has changed: open or closed, lost, waiting for its return, flow control,
    // the control lines.
    void portStateChanged();
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
    // Whether the reader thread decodes what it reads: in text mode, with no parity marks to take out first.
    void syncDecoding();
    [[noreturn]] void failOpen(CommError::Code code, int systemError = 0);
    static QSerialPort::FlowControl toFlowControl(HandshakeConstants mode);
    void applyFlowControl(HandshakeConstants mode);
    void setLine(int bit, bool on, std::optional<bool> &chosen);
    void readLines();
    void stopWatching();
    void lookForReturn();

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

    HandshakeConstants m_handshaking = comNone;
    std::optional<bool> m_dtr; // chosen by the user; nothing while the driver's choice stands
    std::optional<bool> m_rts;
    std::shared_ptr<ModemLines> m_modemLines = ModemLines::system();
    PortReader::Lines m_lines;

    QString m_openDevice; // the path opened, while open
    std::optional<AdapterIdentity> m_identity; // of the device last opened, if it has one
    bool m_reopenOnReturn = true;
    bool m_reopening = false; // while the adapter that came back is being opened
    QBasicTimer m_returnWatch;
    int m_lossError = 0;
    QString m_lostDevice;
    bool m_remind = false; // a handler left input for the next frame
};
