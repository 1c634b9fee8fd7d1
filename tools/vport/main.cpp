// SPDX-License-Identifier: GPL-3.0-or-later
// zelcom-vport: a virtual serial device for trying the terminal without an adapter, and for tests and
// benchmarks. Prints the path of its pseudo-terminal on the first line of standard output.

#include "tools/vport/hardware.h"
#include "tools/vport/options.h"
#include "tools/vport/virtualdevice.h"

#include <QStringList>
#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onStopSignal(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QString error;
    const auto options = parseVportOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "zelcom-vport: %s\n\n%s", qPrintable(error), kVportUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kVportUsage, stdout);
        return 0;
    }
    if (options->listHardware) {
        for (const QString &path : freeSerialHardware(QStringLiteral("/sys/class/tty")))
            std::printf("%s\n", qPrintable(path));
        return 0;
    }

    // The stop signals stay blocked except while the device waits, so none is lost between a check of
    // the flag and the wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&stopSignals, s);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : { SIGINT, SIGTERM, SIGHUP })
        sigaction(s, &action, nullptr);
    // Whoever read the path may close the pipe; that is no reason to stop.
    std::signal(SIGPIPE, SIG_IGN);

    VirtualDevice device(*options);
    if (!device.create(error)) {
        std::fprintf(stderr, "zelcom-vport: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(device.path()));
    std::fflush(stdout);
    device.run(waitMask, g_stop);
    return 0;
}
