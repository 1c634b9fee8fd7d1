// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The one error type of the serial component: a code the caller can branch on and, where the system gave one,
// its error number. The window words the failure from these; the message is English for logs and never shown.
// Handlers that care catch it; the binding catches whatever is left, so it never reaches Qt's event loop.
class CommError
{
public:
    // Numbered as the serial control this component stands in for numbers its errors, so a code reads the same
    // to anyone who knows that control.
    enum Code {
        InvalidValue = 380, // a property was given a value outside its range
        PortInvalid = 8002, // no device stands behind this port number
        PortAlreadyOpen = 8005, // the operation needs a closed port
        PermissionDenied = 8010,
        DeviceBusy = 8011,
        PortNotOpen = 8012, // the operation needs an open port
        SettingsRefused = 8015, // the driver refused the line settings
        OutputFull = 8016, // the device does not take the data as fast as it is sent
        DeviceFailure = 8020, // any other failure of the device
        ControlRefused = 8021, // the device refused a flow control mode or a control line
    };

    CommError(Code code, QString message, int systemError = 0, int portError = 0)
        : m_code(code)
        , m_message(std::move(message))
        , m_systemError(systemError)
        , m_portError(portError)
    {
    }

    Code code() const { return m_code; }
    const QString &message() const { return m_message; }
    // The system's error number (errno) for the failure, 0 when it gave none.
    int systemError() const { return m_systemError; }
    // QSerialPort's error (QSerialPort::SerialPortError), 0 when there is none.
    int portError() const { return m_portError; }

private:
    Code m_code;
    QString m_message;
    int m_systemError;
    int m_portError;
};
