// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

PortMap::Scanner &scanner()
{
    static PortMap::Scanner s;
    return s;
}

struct Roots
{
    QString classDir = QStringLiteral("/sys/class/tty");
    QString devDir = QStringLiteral("/dev");
};

Roots &roots()
{
    static Roots r;
    return r;
}

std::pair<QString, qint64> splitNumber(const QString &name)
{
    qsizetype i = name.size();
    while (i > 0 && name[i - 1].isDigit())
        --i;
    const QString digits = name.mid(i);
    bool ok = false;
    const qint64 number = digits.size() <= 18 ? digits.toLongLong(&ok) : 0;
    return { name.left(i), ok ? number : -1 };
}

} // namespace

void PortMap::setSystemScanner(Scanner s)
{
    scanner() = std::move(s);
}

void PortMap::setSystemRoots(const QString &classDir, const QString &devDir)
{
    roots() = { classDir, devDir };
}

QString PortMap::classDir()
{
    return roots().classDir;
}

QString PortMap::devDir()
{
    return roots().devDir;
}

QString PortMap::canonical(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? QDir::cleanPath(path) : target;
}

QStringList PortMap::kernelConsoles(const QString &classDir, const QString &devDir)
{
    QStringList consoles;
    QFile active(classDir + QStringLiteral("/console/active"));
    if (active.open(QIODevice::ReadOnly)) {
        const QString names = QString::fromLocal8Bit(active.readAll());
        for (const QString &name : names.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
            consoles << devDir + u'/' + name;
    }
    return consoles;
}

bool PortMap::naturalLess(const QString &a, const QString &b)
{
    const auto [prefixA, numberA] = splitNumber(a);
    const auto [prefixB, numberB] = splitNumber(b);
    if (prefixA != prefixB)
        return prefixA < prefixB;
    if (numberA != numberB)
        return numberA < numberB;
    return a < b;
}

QStringList PortMap::scanSysfs(const QString &classDir, const QString &devDir)
{
    QStringList usb;
    QStringList other;
    const QDir dir(classDir);
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names) {
        // Only ttys with a device behind them are hardware; consoles and virtual terminals have none.
        if (!QFileInfo::exists(dir.filePath(name + QStringLiteral("/device"))))
            continue;
        if (name.startsWith(QStringLiteral("ttyUSB")) || name.startsWith(QStringLiteral("ttyACM"))) {
            usb << name;
            continue;
        }
        if (name.startsWith(QStringLiteral("ttyS"))) {
            // The 8250 driver registers ttyS0..ttyS31 whether or not a UART answers; type 0 means none does.
            QFile type(dir.filePath(name + QStringLiteral("/type")));
            if (!type.open(QIODevice::ReadOnly) || type.readAll().trimmed().toInt() == 0)
                continue;
        }
        other << name;
    }
    std::sort(usb.begin(), usb.end(), naturalLess);
    std::sort(other.begin(), other.end(), naturalLess);

    const QStringList consoles = kernelConsoles(classDir, devDir);
    QStringList paths;
    for (const QString &name : usb + other)
        if (const QString path = devDir + u'/' + name; !consoles.contains(path))
            paths << path;
    return paths;
}

QStringList PortMap::devices()
{
    // Paths compare by what they lead to: a by-id link in ZELCOM_PORTS and the node the scan finds are one
    // device, and a link to the console is the console.
    QStringList consoles;
    for (const QString &console : kernelConsoles(classDir(), devDir()))
        consoles << canonical(console);
    QStringList list;
    QStringList seen;
    const auto add = [&](const QString &path) {
        const QString device = canonical(path);
        if (seen.contains(device) || consoles.contains(device))
            return;
        seen << device;
        list << path;
    };
    const QString configured = qEnvironmentVariable("ZELCOM_PORTS");
    for (const QString &path : configured.split(u':', Qt::SkipEmptyParts))
        add(path);
    for (const QString &path : scanner() ? scanner()() : scanSysfs(classDir(), devDir()))
        add(path);
    return list;
}

QString PortMap::deviceFor(int portNumber)
{
    const QStringList list = devices();
    if (portNumber < 1 || portNumber > list.size())
        return {};
    return list[portNumber - 1];
}

int PortMap::portNumberOf(const QString &path)
{
    const QString device = canonical(path);
    const QStringList list = devices();
    for (qsizetype i = 0; i < list.size(); ++i)
        if (canonical(list[i]) == device)
            return static_cast<int>(i) + 1;
    return 0;
}
