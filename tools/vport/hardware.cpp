// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/vport/hardware.h"

#include "port/portmap.h"

#include <QFile>
#include <QRegularExpression>

QStringList freeSerialHardware(const QString &classDir)
{
    QStringList consoles;
    QFile active(classDir + QStringLiteral("/console/active"));
    if (active.open(QIODevice::ReadOnly)) {
        const QString names = QString::fromLocal8Bit(active.readAll());
        for (const QString &name : names.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
            consoles << QStringLiteral("/dev/") + name;
    }
    QStringList free;
    for (const QString &path : PortMap::scanSysfs(classDir))
        if (!consoles.contains(path))
            free << path;
    return free;
}
