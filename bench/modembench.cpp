// SPDX-License-Identifier: GPL-3.0-or-later
// What watching the control lines and waiting for an adapter cost and how soon they tell: prints one line of
// figures per measure (bench/modem.sh makes the table).
//   modembench lines   from a control line changing to the port telling the window, over a real pty whose
//                      lines are played by a fake; and the processor time of an open port that sits idle
//   modembench scan    one look for a returning adapter over the machine's /sys/class/tty

#include "port/adapteridentity.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "tests/support/fakemodemlines.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

double cpuMs()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms
        = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

// CPU milliseconds per second of an open port left idle for `ms`.
double idleCpu(MSComm &comm, int ms)
{
    comm.setPortOpen(true);
    const double before = cpuMs();
    runFor(ms);
    const double used = cpuMs() - before;
    comm.setPortOpen(false);
    return used * 1000.0 / ms;
}

int lines()
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    ::close(slave);
    PortMap::setSystemScanner([] { return QStringList(); });
    qputenv("ZELCOM_PORTS", name);
    auto fake = std::make_shared<FakeModemLines>();
    MSComm comm;
    comm.setModemLines(fake);
    comm.setPortOpen(true);
    QElapsedTimer clock;
    std::vector<double> delays;
    QObject::connect(&comm, &MSComm::portStateChanged, &comm, [&] {
        if (clock.isValid())
            delays.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        clock.invalidate();
    });
    // Changes at uneven moments, so they fall anywhere in the watch's period.
    for (int i = 0; i < 60; ++i) {
        runFor(70 + (i * 37) % 61);
        clock.start();
        fake->setBits(fake->bits() ^ TIOCM_CTS);
        QEventLoop wait;
        QTimer::singleShot(1000, &wait, &QEventLoop::quit);
        QObject::connect(&comm, &MSComm::portStateChanged, &wait, &QEventLoop::quit);
        wait.exec();
    }
    comm.setPortOpen(false);
    const double watched = idleCpu(comm, 5000);
    MSComm bare; // a pty's own lines: none, so nothing is watched
    const double unwatched = idleCpu(bare, 5000);
    ::close(master);
    std::printf("changes=%zu told_p50_ms=%.1f told_p99_ms=%.1f told_max_ms=%.1f idle_cpu_ms_per_s_watching=%.2f "
                "idle_cpu_ms_per_s_without_lines=%.2f\n",
        delays.size(), percentile(delays, 0.5), percentile(delays, 0.99), percentile(delays, 1.0), watched, unwatched);
    return delays.size() == 60 ? 0 : 1;
}

int scan()
{
    const QString classDir = QStringLiteral("/sys/class/tty");
    // An adapter that is not there: every look reads the whole folder, the worst case while waiting.
    const AdapterIdentity absent { QStringLiteral("ffff"), QStringLiteral("ffff"), QStringLiteral("none"),
        QStringLiteral("9-9"), QStringLiteral("1.0") };
    std::vector<double> times;
    const double before = cpuMs();
    for (int i = 0; i < 400; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (!absent.findIn(classDir, QStringLiteral("/dev")).isEmpty())
            return 1;
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    const double cpuPerLook = (cpuMs() - before) / 400.0;
    const auto entries = QDir(classDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System).size();
    std::printf("tty_entries=%lld look_p50_ms=%.3f look_max_ms=%.3f cpu_ms_per_s_while_waiting=%.2f\n",
        static_cast<long long>(entries), percentile(times, 0.5), percentile(times, 1.0),
        cpuPerLook * 1000.0 / MSComm::kReturnScanMs);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 2 && args[1] == QLatin1String("lines"))
        return lines();
    if (args.size() == 2 && args[1] == QLatin1String("scan"))
        return scan();
    std::fprintf(stderr, "usage: modembench lines|scan\n");
    return 2;
}
