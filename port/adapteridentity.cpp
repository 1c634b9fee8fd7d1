// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/adapteridentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QString readTrimmed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(256)).trimmed();
}

// The ttys with a device behind them; consoles, virtual terminals and pseudo-terminals have none.
QStringList hardwareTtys(const QDir &classDir)
{
    QStringList found;
    for (const QString &name : classDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System))
        if (QFileInfo::exists(classDir.filePath(name + QStringLiteral("/device"))))
            found << name;
    return found;
}

std::optional<AdapterIdentity> fromSysfs(const QString &ttyDir)
{
    const QString device = QFileInfo(ttyDir + QStringLiteral("/device")).canonicalFilePath();
    if (device.isEmpty())
        return std::nullopt;
    // The USB device is the first folder above that has a vendor number; the interface is the one below it.
    QDir dir(device);
    QString below;
    for (int up = 0; up < 6; ++up) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor")))) {
            const qsizetype colon = below.lastIndexOf(u':');
            return AdapterIdentity { readTrimmed(dir.filePath(QStringLiteral("idVendor"))),
                readTrimmed(dir.filePath(QStringLiteral("idProduct"))),
                readTrimmed(dir.filePath(QStringLiteral("serial"))), dir.dirName(),
                colon < 0 ? QString() : below.mid(colon + 1) };
        }
        below = dir.dirName();
        if (!dir.cdUp())
            break;
    }
    return std::nullopt;
}

} // namespace

std::optional<AdapterIdentity> AdapterIdentity::of(const QString &devicePath, const QString &classDir)
{
    struct stat st = {};
    if (::stat(devicePath.toLocal8Bit().constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return std::nullopt;
    const QString number = QStringLiteral("%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    const QDir dir(classDir);
    const QStringList ttys = hardwareTtys(dir);
    for (const QString &name : ttys) {
        if (readTrimmed(dir.filePath(name + QStringLiteral("/dev"))) != number)
            continue;
        auto identity = fromSysfs(dir.filePath(name));
        if (identity && !identity->serial.isEmpty()) {
            for (const QString &other : ttys) {
                const auto twin = other == name ? std::nullopt : fromSysfs(dir.filePath(other));
                if (twin && twin->vendor == identity->vendor && twin->product == identity->product
                    && twin->serial == identity->serial && twin->interface == identity->interface)
                    identity->serialShared = true;
            }
        }
        return identity;
    }
    return std::nullopt;
}

bool AdapterIdentity::sameAdapter(const AdapterIdentity &other) const
{
    if (vendor != other.vendor || product != other.product || interface != other.interface || serial != other.serial)
        return false;
    // Without a serial number of its own only the USB port tells two adapters of one kind apart.
    return (!serial.isEmpty() && !serialShared) || usbPath == other.usbPath;
}

QString AdapterIdentity::findIn(const QString &classDir, const QString &devDir) const
{
    const QDir dir(classDir);
    QStringList same;
    QStringList samePort;
    for (const QString &name : hardwareTtys(dir)) {
        const auto identity = fromSysfs(dir.filePath(name));
        if (!identity || !sameAdapter(*identity))
            continue;
        same << name;
        if (identity->usbPath == usbPath)
            samePort << name;
    }
    if (same.size() == 1)
        return devDir + u'/' + same.front();
    // Two adapters with one serial number plugged in now: only the one on the same port will do.
    return samePort.size() == 1 ? devDir + u'/' + samePort.front() : QString();
}
