#pragma once

#include <QString>

// The one error type of the serial component: a numeric code the caller can branch on and a
// message for people. Handlers that care catch it; the binding catches whatever is left, so it never
// reaches Qt's event loop.
class CommError
{
public:
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
    };

    CommError(Code code, QString message)
        : m_code(code)
        , m_message(std::move(message))
    {
    }

    Code code() const { return m_code; }
    const QString &message() const { return m_message; }

private:
    Code m_code;
    QString m_message;
};
