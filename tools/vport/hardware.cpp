// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/vport/hardware.h"

#include "port/portmap.h"

QStringList freeSerialHardware(const QString &classDir)
{
    // The window's own scan, which already leaves the console out: what counts here is what it offers.
    return PortMap::scanSysfs(classDir);
}
