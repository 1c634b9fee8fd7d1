// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// What makes a USB serial adapter the same adapter when it comes back under another ttyUSB number: its
// vendor and product, its serial number where it has one (then it may come back on any USB port), else
// the USB port it sits on, and which of its interfaces the tty is (a two-port adapter has two). Read from
// sysfs: `classDir`/ttyUSBn/device leads into the USB device that carries these. A device without a USB
// device above it (a pseudo-terminal, a built-in UART) has no identity of its own.
struct AdapterIdentity
{
    QString vendor;
    QString product;
    QString serial;
    QString usbPath; // "1-1.2": bus 1, port 1, then port 2 of the hub there
    QString interface; // "1.0": configuration 1, interface 0
    // Another adapter plugged in at the same time had the same serial number (it happens with cheap ones): then
    // only the USB port tells them apart.
    bool serialShared = false;

    // The identity of the device a path leads to (through any link), found by its device number.
    static std::optional<AdapterIdentity> of(const QString &devicePath, const QString &classDir);

    // The node in `devDir` of the tty that is this adapter now; "" when it is not there, or when more than one
    // tty could be it (adapters that share a serial number): another adapter is never taken for this one.
    QString findIn(const QString &classDir, const QString &devDir) const;

    bool sameAdapter(const AdapterIdentity &other) const;
};
