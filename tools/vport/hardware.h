// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// The serial hardware a user can open: what the port numbering finds under `classDir` (normally
// /sys/class/tty), less the devices the kernel uses as its console (named in `classDir`/console/active).
// On many machines ttyS0 is a real UART and also the console; typing into it would disturb the system,
// so it does not count as a device for the user.
QStringList freeSerialHardware(const QString &classDir);
