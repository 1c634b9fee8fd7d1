// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/mscomm.h"

#include "port/paritymarks.h"
#include "port/portmap.h"

#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

QSerialPort::Parity toParity(char letter)
{
    switch (letter) {
    case 'O':
        return QSerialPort::OddParity;
    case 'E':
        return QSerialPort::EvenParity;
    default:
        return QSerialPort::NoParity;
    }
}

// Unix98 pseudo-terminal slaves have majors 136 to 143.
bool isPseudoTerminal(int fd)
{
    struct stat st = {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

// Writes every field to the port, stopping at the first one the driver refuses; on a closed port Qt only keeps
// them for the open. A pseudo-terminal has no line: it keeps 8 data bits and no parity whatever it is told, and
// Qt reports that as a refusal. Nothing on a virtual line uses them, so there they stand.
bool writeLineSettings(QSerialPort &port, const LineSettings &s)
{
    const bool virtualLine = port.isOpen() && isPseudoTerminal(port.handle());
    // errno is cleared before each field, so after a refusal it holds the number of the call that failed, or 0
    // when Qt refused by itself; a probe that failed quietly in an earlier field does not count.
    const auto field = [](auto write) {
        errno = 0;
        return write();
    };
    return field([&] { return port.setBaudRate(s.baud); })
        && field([&] { return port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) || virtualLine; })
        && field([&] { return port.setParity(toParity(s.parity)) || virtualLine; })
        && field([&] { return port.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop); });
}

// Refuse output while this much is still queued for the device.
constexpr qint64 kOutputLimit = 1 << 20;

// One receive notification per frame at most (60 Hz): each one repaints the counter and the receive area, and
// a repaint costs a round trip to the display server, so a flood announced per read (some 7,500 a second from a
// pty) spent its time painting rather than reading.
constexpr qint64 kFrameMs = 16;

// QSerialPort reads on a notifier of its own from the moment it opens. The reader thread must be the only
// reader, or the stream would be split between two buffers; QSerialPort re-enables the notifier only when
// read from, which this component never does.
bool stopQtReading(QSerialPort &port)
{
    bool found = false;
    for (QSocketNotifier *notifier : port.findChildren<QSocketNotifier *>()) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == port.handle()) {
            notifier->setEnabled(false);
            found = true;
        }
    }
    return found;
}

} // namespace

MSComm::MSComm(QObject *parent)
    : QObject(parent)
{
    // A child, so a test can find the port and have it report the errors a vanishing device gives.
    m_port.setParent(this);
    connect(&m_port, &QSerialPort::errorOccurred, this, &MSComm::onError);
}

MSComm::~MSComm()
{
    // The reader stops before the descriptor it reads is closed.
    m_returnWatch.stop();
    stopReading();
    if (m_port.isOpen())
        m_port.close();
}

void MSComm::setCommPort(int port)
{
    if (m_port.isOpen())
        throw CommError(
            CommError::PortAlreadyOpen, QStringLiteral("The port number cannot change while the port is open"));
    if (port < 1 || port > 255)
        throw CommError(CommError::InvalidValue, QStringLiteral("Port number %1 is outside 1 to 255").arg(port));
    m_commPort = port;
    // Another port chosen: the one that went away is no longer awaited.
    stopWatching();
}

void MSComm::setSettings(const QString &settings)
{
    const auto parsed = parseLineSettings(settings);
    if (!parsed)
        throw CommError(CommError::InvalidValue, QStringLiteral("Invalid line settings \"%1\"").arg(settings));
    // The window rewrites the settings ten times a second; unchanged ones must cost no system call.
    if (*parsed != m_settings && m_port.isOpen())
        applySettings(*parsed);
    m_settings = *parsed;
    m_settingsText = settings;
}

// Applies every field or none: a field the driver refuses puts back the ones already changed.
void MSComm::applySettings(const LineSettings &s)
{
    const LineSettings old = m_settings;
    const bool ok = writeLineSettings(m_port, s);
    const int systemError = errno;
    const QSerialPort::SerialPortError portError = m_port.error();
    if (!ok)
        writeLineSettings(m_port, old);
    markParityErrors((ok ? s : old).parity != 'N');
    if (!ok)
        throw CommError(CommError::SettingsRefused,
            QStringLiteral("The device refused the line settings: %1").arg(m_port.errorString()), systemError,
            portError);
}

// Qt sets IGNPAR and clears INPCK whatever the parity, so a byte received with a parity error arrives as if it
// were good. With parity on, the driver marks such bytes instead (INPCK, PARMRK), and Input shows each as "?".
// Must run after every change Qt makes to the parity: Qt's setParity puts its own flags back.
void MSComm::markParityErrors(bool on)
{
    // What was read already was marked (or not) under the flags of its time.
    if (m_reader)
        takeFromDevice(m_reader->take());
    const int fd = m_port.handle();
    termios t {};
    if (on && ::tcgetattr(fd, &t) == 0) {
        t.c_iflag |= INPCK | PARMRK;
        t.c_iflag &= ~static_cast<tcflag_t>(IGNPAR | ISTRIP);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    // Decode only what the driver really marks: in an unmarked stream "FF FF" is two bytes.
    const bool marking = ::tcgetattr(fd, &t) == 0 && (t.c_iflag & PARMRK);
    if (!marking) {
        m_pending += m_marked;
        m_marked.clear();
    }
    m_marking = marking;
    syncDecoding();
}

void MSComm::setInputMode(InputModes mode)
{
    m_inputMode = mode;
    syncDecoding();
}

void MSComm::syncDecoding()
{
    if (m_reader)
        m_reader->setDecoding(m_inputMode == comInputModeText && !m_marking);
}

void MSComm::takeFromDevice(const QByteArray &bytes)
{
    if (!m_marking) {
        m_pending += bytes;
        return;
    }
    m_marked += bytes;
    m_pending += takeParityMarked(m_marked);
}

QString MSComm::deviceName() const
{
    return PortMap::deviceFor(m_commPort);
}

void MSComm::failOpen(CommError::Code code, int systemError)
{
    throw CommError(code, QStringLiteral("COM%1 (%2): %3").arg(m_commPort).arg(deviceName(), m_port.errorString()),
        systemError, m_port.error());
}

void MSComm::setPortOpen(bool open)
{
    if (!open) {
        // Closing a closed port is accepted: the window may close a port the port selection already closed.
        const bool wasOpen = m_port.isOpen();
        stopReading();
        if (m_port.isOpen())
            m_port.close();
        m_pending.clear();
        m_marked.clear();
        m_decoder.reset();
        m_lines = {};
        m_openDevice.clear();
        if (wasOpen)
            emit portStateChanged();
        stopWatching();
        return;
    }
    if (m_port.isOpen())
        throw CommError(CommError::PortAlreadyOpen, QStringLiteral("The port is already open"));

    const QString device = deviceName();
    if (device.isEmpty())
        throw CommError(CommError::PortInvalid, QStringLiteral("COM%1: no device").arg(m_commPort));

    m_port.setPortName(device);
    writeLineSettings(m_port, m_settings);
    m_port.setFlowControl(toFlowControl(m_handshaking));
    errno = 0;
    if (!m_port.open(QIODevice::ReadWrite)) {
        const int systemError = errno;
        switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            failOpen(CommError::PortInvalid, systemError);
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError:
            // Qt reports a refused access and a device another program holds alike; the file mode tells them apart.
            if (::access(device.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES)
                failOpen(CommError::PermissionDenied, EACCES);
            // Qt may find the device held through its lock file, which leaves errno from an unrelated probe.
            failOpen(CommError::DeviceBusy, EBUSY);
        default:
            failOpen(CommError::DeviceFailure, systemError);
        }
    }
    // Qt's open writes all the settings in one call and does not check that they took; written field by field,
    // a setting the device refuses is known, and the port is not left open with settings other than these.
    if (!writeLineSettings(m_port, m_settings)) {
        const int systemError = errno;
        const QSerialPort::SerialPortError portError = m_port.error();
        m_port.close();
        throw CommError(CommError::SettingsRefused,
            QStringLiteral("COM%1 (%2) refused the line settings").arg(m_commPort).arg(device), systemError, portError);
    }
    // Qt's open does not report a flow control the device refuses: set again, a refusal is known, and the port is
    // not left open without it.
    errno = 0;
    if (!m_port.setFlowControl(toFlowControl(m_handshaking))) {
        const int systemError = errno;
        m_port.close();
        throw CommError(CommError::ControlRefused,
            QStringLiteral("COM%1 (%2) refused the flow control").arg(m_commPort).arg(device), systemError);
    }
    m_pending.clear();
    m_marked.clear();
    m_decoder.reset();
    m_lossQueued = false;
    ++m_session;
    markParityErrors(m_settings.parity != 'N');
    // Lines the user chose go back as chosen; a device without them keeps none, which the lines' state shows.
    if (m_dtr)
        m_modemLines->set(m_port.handle(), TIOCM_DTR, *m_dtr);
    if (m_rts && m_handshaking != comRTS)
        m_modemLines->set(m_port.handle(), TIOCM_RTS, *m_rts);
    readLines();
    startReading();
    m_openDevice = device;
    // Known while the device is there: once it is gone, sysfs no longer says what it was. An adapter opened
    // again as it came back and went at once may be gone already; it is still the one awaited.
    if (auto identity = AdapterIdentity::of(device, PortMap::classDir()); identity || !m_reopening)
        m_identity = identity;
    m_lossError = 0;
    m_lostDevice.clear();
    m_returnWatch.stop();
    emit portStateChanged();
}

void MSComm::startReading()
{
    try {
        if (!stopQtReading(m_port))
            throw std::runtime_error("QSerialPort's read notifier was not found");
        // A device without control lines is not asked about them again and again.
        m_reader = std::make_unique<PortReader>(m_port.handle(), m_lines.error == 0 ? m_modemLines : nullptr);
    } catch (const std::exception &e) {
        m_port.close();
        throw CommError(CommError::DeviceFailure,
            QStringLiteral("COM%1 (%2): cannot read: %3")
                .arg(m_commPort)
                .arg(deviceName(), QString::fromLocal8Bit(e.what())));
    }
    syncDecoding();
    m_readerNews = std::make_unique<QSocketNotifier>(m_reader->notifier(), QSocketNotifier::Read);
    connect(m_readerNews.get(), &QSocketNotifier::activated, this, &MSComm::onReaderNews);
}

void MSComm::stopReading()
{
    m_readerNews.reset();
    m_reader.reset();
    m_frame.stop();
}

void MSComm::onReaderNews()
{
    m_reader->acknowledge();
    if (const PortReader::Lines seen = m_reader->lines(); seen != m_lines && m_lines.error == 0) {
        m_lines = seen;
        emit portStateChanged();
    }
    if (m_reader->failure() == 0) {
        onArrival();
        return;
    }
    // Closed from the event loop, not from inside the notifier's own signal.
    m_readerNews->setEnabled(false);
    QMetaObject::invokeMethod(
        this, [this, session = m_session] { handleLoss(session); }, Qt::QueuedConnection);
}

void MSComm::setOutput(const QString &text)
{
    setOutput(encodeGbk(text));
}

void MSComm::setOutput(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        throw CommError(CommError::PortNotOpen, QStringLiteral("The port is not open"));
    if (bytes.isEmpty())
        return;
    // A device slower than the sender (auto-send every millisecond at 9600 baud) would otherwise grow the
    // queue without end. The bound looks only at what is still queued, not at the new data: one send of any
    // size goes out whole once the line has caught up, and the queue never holds more than the bound plus
    // one send.
    if (m_port.bytesToWrite() >= kOutputLimit)
        throw CommError(CommError::OutputFull, QStringLiteral("The output buffer is full"));
    if (m_port.write(bytes) != bytes.size())
        throw CommError(CommError::DeviceFailure, QStringLiteral("Write failed: %1").arg(m_port.errorString()));
}

void MSComm::onArrival()
{
    const qint64 since = m_sinceNotify.isValid() ? m_sinceNotify.elapsed() : kFrameMs;
    if (since >= kFrameMs)
        notifyArrival();
    else if (!m_frame.isActive())
        m_frame.start(static_cast<int>(kFrameMs - since), Qt::PreciseTimer, this);
}

void MSComm::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_returnWatch.timerId()) {
        lookForReturn();
        return;
    }
    if (event->timerId() != m_frame.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_frame.stop();
    notifyArrival();
}

void MSComm::notifyArrival()
{
    // An arrival already taken by an Input in between, or left from a closed port, is not announced.
    const bool waiting = m_reader && m_reader->rearm();
    if (!waiting && m_pending.isEmpty())
        return;
    m_sinceNotify.start();
    m_commEvent = comEvReceive;
    emit OnComm();
    // What one Input could not take, a reader that waits for room, and input a handler left for later are
    // served the next frame.
    if ((m_reader && m_reader->waiting()) || std::exchange(m_remind, false))
        onArrival();
}

void MSComm::remindNextFrame()
{
    m_remind = true;
}

void MSComm::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    // A vanished device keeps a notifier firing (hundreds of thousands of errors a second) until the port is
    // closed: close once, from the event loop, and ignore the errors that come before that. The reader thread
    // reports its own loss the same way.
    if (m_lossQueued || !m_port.isOpen())
        return;
    m_lossQueued = true;
    QMetaObject::invokeMethod(
        this, [this, session = m_session] { handleLoss(session); }, Qt::QueuedConnection);
}

void MSComm::handleLoss(quint64 session)
{
    if (session != m_session || !m_port.isOpen())
        return;
    m_lossQueued = false;
    // A hang-up reads as EIO; so does a loss Qt saw first.
    m_lossError = m_reader && m_reader->failure() != 0 ? m_reader->failure() : EIO;
    m_lostDevice = m_openDevice;
    // Keep whatever arrived before the loss: what the reader took, then what the kernel still holds.
    if (m_reader) {
        m_reader->stop();
        takeFromDevice(m_reader->take());
        stopReading();
    }
    const int fd = m_port.handle();
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        takeFromDevice(QByteArray(chunk, n));
    }
    // A mark cut off by the loss is kept as it came.
    m_pending += m_marked;
    m_marked.clear();
    m_port.close();
    m_lines = {};
    m_openDevice.clear();
    // Only an adapter with an identity of its own is awaited: a pseudo-terminal's number goes to whatever
    // program asks next.
    if (m_reopenOnReturn && m_identity)
        m_returnWatch.start(kReturnScanMs, this);
    if (!m_pending.isEmpty()) {
        m_commEvent = comEvReceive;
        emit OnComm();
    }
    emit portLost();
    emit portStateChanged();
}
