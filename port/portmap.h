// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <functional>

// Port numbers to devices. COM1, COM2, ... stand for the paths listed in ZELCOM_PORTS (colon-separated),
// in that order, followed by the serial devices found on the system: USB adapters first, then the
// other hardware ports, each group in natural order.
class PortMap
{
public:
    using Scanner = std::function<QStringList()>;

    // The port list shows COM1 to COM16.
    static constexpr int kListedPorts = 16;

    // The system scan can be replaced, so tests never see (or open) the machine's real ports.
    static void setSystemScanner(Scanner scanner);

    // All devices, COM1 first.
    static QStringList devices();

    // The device behind a port number, or an empty string when there is none.
    static QString deviceFor(int portNumber);

    // The hardware serial devices under a sysfs tty class folder (normally /sys/class/tty), as /dev paths.
    static QStringList scanSysfs(const QString &classDir);

    // Natural order of device names: ttyUSB2 before ttyUSB10.
    static bool naturalLess(const QString &a, const QString &b);
};
