// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/memorybudget.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr qint64 kUnlimited = std::numeric_limits<qint64>::max();

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// A limit file's number; "max" and absurd values (v1 writes 2^63 rounded to a page) mean none.
qint64 limitIn(const QString &path)
{
    bool ok = false;
    const qint64 value = readFile(path).toLongLong(&ok);
    return ok && value > 0 && value < (qint64(1) << 60) ? value : kUnlimited;
}

// What the groups this process is in, and every group above them, still allow.
qint64 cgroupHeadroom(const QString &procRoot, const QString &cgroupRoot)
{
    qint64 headroom = kUnlimited;
    const auto look = [&](const QString &folder, const QString &limitName, const QString &usageName) {
        const qint64 limit = limitIn(folder + limitName);
        if (limit != kUnlimited)
            headroom = std::min(headroom, limit - readFile(folder + usageName).toLongLong());
    };
    for (const QByteArray &line : readFile(procRoot + QStringLiteral("/self/cgroup")).split('\n')) {
        // "0::/user.slice/..." for v2, "N:memory:/path" for v1's memory controller.
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const bool v2 = fields[1].isEmpty();
        if (!v2 && !fields[1].split(',').contains("memory"))
            continue;
        const QString root = v2 ? cgroupRoot : cgroupRoot + QStringLiteral("/memory");
        QString path = QString::fromUtf8(fields.mid(2).join(':'));
        while (true) {
            if (v2)
                look(root + path, QStringLiteral("/memory.max"), QStringLiteral("/memory.current"));
            else
                look(root + path, QStringLiteral("/memory.limit_in_bytes"), QStringLiteral("/memory.usage_in_bytes"));
            if (path.isEmpty() || path == u"/")
                break;
            path.truncate(path.lastIndexOf(u'/'));
        }
    }
    return headroom;
}

qint64 available(const QString &procRoot)
{
    for (const QByteArray &line : readFile(procRoot + QStringLiteral("/meminfo")).split('\n')) {
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return kUnlimited;
}

qint64 statusField(const QString &procRoot, const QByteArray &name)
{
    for (const QByteArray &line : readFile(procRoot + QStringLiteral("/self/status")).split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// What a resource limit still allows on top of `used`.
qint64 rlimitHeadroom(int resource, qint64 used)
{
    rlimit value = {};
    if (getrlimit(resource, &value) != 0 || value.rlim_cur == RLIM_INFINITY)
        return kUnlimited;
    return qint64(std::min<rlim_t>(value.rlim_cur, rlim_t(kUnlimited))) - used;
}

} // namespace

qint64 MemoryBudget::headroom(const QString &procRoot, const QString &cgroupRoot)
{
    qint64 room
        = std::min({ cgroupHeadroom(procRoot, cgroupRoot), rlimitHeadroom(RLIMIT_AS, statusField(procRoot, "VmSize:")),
            rlimitHeadroom(RLIMIT_DATA, statusField(procRoot, "VmData:")), available(procRoot) });
    if (room == kUnlimited) {
        const long pages = sysconf(_SC_PHYS_PAGES);
        room = pages > 0 ? qint64(pages) * sysconf(_SC_PAGESIZE) : qint64(1) << 31;
    }
    return std::max<qint64>(room, 0);
}
