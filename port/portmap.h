// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <functional>

// Port numbers to devices. COM1, COM2, ... stand for the paths listed in ZELCOM_PORTS (colon-separated),
// in that order, followed by the serial devices found on the system: USB adapters first, then the
// other hardware ports, each group in natural order. A device is listed once however many paths lead to
// it (a /dev/serial/by-id link and its node), under the first of them; the kernel's console never is.
class PortMap
{
public:
    using Scanner = std::function<QStringList()>;

    // The port list shows COM1 to COM16.
    static constexpr int kListedPorts = 16;

    // The system scan can be replaced, so tests never see (or open) the machine's real ports; an empty
    // scanner puts back the scan of the system folders below.
    static void setSystemScanner(Scanner scanner);

    // Where the system is read: the tty class in sysfs (normally /sys/class/tty) and the folder of the device
    // nodes (normally /dev). Tests point both at a fake tree.
    static void setSystemRoots(const QString &classDir, const QString &devDir);
    static QString classDir();
    static QString devDir();

    // All devices, COM1 first.
    static QStringList devices();

    // The device behind a port number, or an empty string when there is none.
    static QString deviceFor(int portNumber);

    // The port number of the device a path leads to (through any link), or 0 when it has none.
    static int portNumberOf(const QString &path);

    // The hardware serial devices under a sysfs tty class folder, as paths in `devDir`; the console left out.
    static QStringList scanSysfs(const QString &classDir, const QString &devDir = QStringLiteral("/dev"));

    // The device nodes the kernel uses as its console (named in `classDir`/console/active, "tty0 ttyS0").
    // On many machines ttyS0 is a real UART and also the console: typing into it would disturb the system.
    static QStringList kernelConsoles(const QString &classDir, const QString &devDir = QStringLiteral("/dev"));

    // Natural order of device names: ttyUSB2 before ttyUSB10.
    static bool naturalLess(const QString &a, const QString &b);

    // The path a device is known by whatever link leads to it: the link's target, or the path itself when it
    // does not exist.
    static QString canonical(const QString &path);
};
