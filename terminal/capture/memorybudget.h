// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What this process may really hold in memory: the least of its cgroup's limit (v2 memory.max, v1
// memory.limit_in_bytes), its address-space and data limits, and what the system has available. Desktops
// run applications in cgroups with an out-of-memory killer; the physical memory is not what a program
// may use.
namespace MemoryBudget {

// Bytes the process may still take; `procRoot` and `cgroupRoot` are there for tests.
qint64 headroom(
    const QString &procRoot = QStringLiteral("/proc"), const QString &cgroupRoot = QStringLiteral("/sys/fs/cgroup"));

} // namespace MemoryBudget
