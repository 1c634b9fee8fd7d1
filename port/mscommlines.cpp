// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component's control lines (flow control, DTR and RTS, the lines' state) and an adapter's return.
#include "port/mscomm.h"

#include "port/portmap.h"

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

QSerialPort::FlowControl MSComm::toFlowControl(HandshakeConstants mode)
{
    switch (mode) {
    case MSComm::comRTS:
        return QSerialPort::HardwareControl;
    case MSComm::comXOnXoff:
        return QSerialPort::SoftwareControl;
    default:
        return QSerialPort::NoFlowControl;
    }
}

void MSComm::setHandshaking(HandshakeConstants mode)
{
    if (m_port.isOpen() && mode != m_handshaking)
        applyFlowControl(mode);
    m_handshaking = mode;
    emit portStateChanged();
}

// All or nothing: a mode the driver refuses puts back the one it had.
void MSComm::applyFlowControl(HandshakeConstants mode)
{
    errno = 0;
    if (m_port.setFlowControl(toFlowControl(mode)))
        return;
    const int systemError = errno;
    const QSerialPort::SerialPortError portError = m_port.error();
    m_port.setFlowControl(toFlowControl(m_handshaking));
    throw CommError(CommError::ControlRefused,
        QStringLiteral("The device refused the flow control: %1").arg(m_port.errorString()), systemError, portError);
}

void MSComm::setDTREnable(bool on)
{
    setLine(TIOCM_DTR, on, m_dtr);
}

void MSComm::setRTSEnable(bool on)
{
    setLine(TIOCM_RTS, on, m_rts);
}

void MSComm::setLine(int bit, bool on, std::optional<bool> &chosen)
{
    if (m_port.isOpen()) {
        if (const int error = m_modemLines->set(m_port.handle(), bit, on); error != 0)
            throw CommError(CommError::ControlRefused,
                QStringLiteral("The device refused a control line: %1").arg(QString::fromLocal8Bit(strerror(error))),
                error);
    }
    chosen = on;
    if (m_port.isOpen())
        readLines();
}

// The lines as the device has them now, told when they changed.
void MSComm::readLines()
{
    PortReader::Lines seen;
    seen.error = m_modemLines->get(m_port.handle(), seen.bits);
    if (seen.error != 0)
        seen.bits = 0;
    if (seen == m_lines)
        return;
    m_lines = seen;
    emit portStateChanged();
}

void MSComm::setReopenOnReturn(bool on)
{
    m_reopenOnReturn = on;
    if (!on)
        stopWatching();
}

void MSComm::stopWatching()
{
    if (!m_returnWatch.isActive())
        return;
    m_returnWatch.stop();
    emit portStateChanged();
}

// A look at the system every kReturnScanMs while the adapter is away: whatever the adapter does meanwhile
// (ten plugs a second), this is all the work there is, and an open that fails is tried again next time without
// a word.
void MSComm::lookForReturn()
{
    const QString node = m_identity ? m_identity->findIn(PortMap::classDir(), PortMap::devDir()) : QString();
    if (node.isEmpty())
        return;
    // The port number follows the adapter; one the port list cannot show is of no use to the window.
    const int number = PortMap::portNumberOf(node);
    if (number < 1 || number > PortMap::kListedPorts)
        return;
    const int before = m_commPort;
    m_commPort = number;
    m_reopening = true;
    try {
        setPortOpen(true);
    } catch (const CommError &) {
        // Not ready yet (the system may still be setting its permissions): next time.
        m_reopening = false;
        m_commPort = before;
        return;
    }
    m_reopening = false;
    emit portReturned();
}
