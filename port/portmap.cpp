// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

PortMap::Scanner &scanner()
{
    static PortMap::Scanner s = [] { return PortMap::scanSysfs(QStringLiteral("/sys/class/tty")); };
    return s;
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

QStringList PortMap::scanSysfs(const QString &classDir)
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

    QStringList paths;
    for (const QString &name : usb + other)
        paths << QStringLiteral("/dev/") + name;
    return paths;
}

QStringList PortMap::devices()
{
    QStringList list;
    const QString configured = qEnvironmentVariable("ZELCOM_PORTS");
    for (const QString &path : configured.split(u':', Qt::SkipEmptyParts))
        list << path;
    for (const QString &path : scanner()())
        if (!list.contains(path))
            list << path;
    return list;
}

QString PortMap::deviceFor(int portNumber)
{
    const QStringList list = devices();
    if (portNumber < 1 || portNumber > list.size())
        return {};
    return list[portNumber - 1];
}
