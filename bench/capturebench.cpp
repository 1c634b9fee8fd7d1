// SPDX-License-Identifier: GPL-3.0-or-later
// A long capture: the real window drains a pty flood (the writer on the master, as fast as the window
// takes it) until it has received the given amount, then measures what a user leaving a capture running
// for days cares about: the peak resident memory, what the scratch file takes on disk per received byte,
// how soon the first row shows after Ctrl+Home, how long "清接收区" takes and whether it gives the disk
// back, and whether the newest data is exact.
//
//   capturebench --slave PATH --mode hex|text --bytes N

#include "bench/benchsupport.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "terminal/receiveview/receivearea.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/optionbutton.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

qint64 freeBytes(const QString &folder)
{
    struct statvfs fs = {};
    return statvfs(folder.toLocal8Bit().constData(), &fs) == 0 ? qint64(fs.f_bavail) * qint64(fs.f_frsize) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const QString &fallback) { return commandOption(args, name, fallback); };
    const QString slave = option("--slave", QString());
    const bool hex = option("--mode", QStringLiteral("hex")) == u"hex";
    const qint64 target = option("--bytes", QStringLiteral("1000000000")).toLongLong();

    PortMap::setSystemScanner([] { return QStringList(); });
    qputenv("ZELCOM_PORTS", slave.toLocal8Bit());
    std::unique_ptr<Form1> form = createForm1();
    form->show();
    QCoreApplication::processEvents();
    ReceiveArea &area = *form->Text1;
    const QString folder = area.store().scratchFolder();
    const qint64 freeBefore = freeBytes(folder.isEmpty() ? QStringLiteral("/") : folder);

    if (hex)
        form->Option1->click();
    form->Command5->click();
    if (!form->MSComm1->PortOpen()) {
        std::fprintf(stderr, "capturebench: the port did not open\n");
        return 1;
    }
    const auto received = [&] {
        const qint64 counted = form->Label10->text().toLongLong();
        return hex ? counted : TextLines::gbkBytesOf(counted);
    };
    QElapsedTimer clock;
    double seconds = 0;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (received() >= target) {
            seconds = double(clock.nsecsElapsed()) / 1e9;
            app.quit();
        }
    });
    clock.start();
    watch.start();
    tellWriter(slave, 'G');
    app.exec();
    // The capture ends here: the port closes, whatever the writer still has for it stays on the line.
    form->Command5->click();
    tellWriter(slave, 'Q');
    QCoreApplication::processEvents();
    const qint64 bytes = received();
    const qint64 counted = form->Label10->text().toLongLong();
    const ReceiveStore &store = area.store();
    const qint64 held = store.size();
    // Whole hex tokens only: the tail must start on a token.
    const QString tail = store.text(held - (hex ? 3 << 18 : 1 << 20), held);
    const bool exact = hex ? isHexStreamTail(tail, counted) : TextLines::isStreamTail(tail, counted);
    const qint64 peak = peakResidentBytes();
    const qint64 disk = store.diskBytes();

    // Ctrl+Home: from the key to the first row painted, read back from the disk.
    area.setFocus();
    QElapsedTimer step;
    step.start();
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier);
    QCoreApplication::sendEvent(&area, &home);
    area.viewport()->repaint();
    const double homeMs = double(step.nsecsElapsed()) / 1e6;
    const QString first = store.text(0, 240);
    const bool headExact = store.origin() > 0
        || (hex ? first ==
                    [] {
                        QString h;
                        for (char b : ByteStream().take(80))
                            h += QString::asprintf("%02X ", unsigned(quint8(b)));
                        return h;
                    }()
                : first == TextLines::line(0) + TextLines::line(1) + TextLines::line(2));

    step.start();
    form->Command3->click();
    const double clearMs = double(step.nsecsElapsed()) / 1e6;
    const bool emptied = area.characterCount() == 0;
    // The old file goes with its chunks on a worker thread.
    qint64 freeAfter = 0;
    for (int i = 0; i < 100; ++i) {
        QThread::msleep(100);
        QCoreApplication::processEvents();
        freeAfter = freeBytes(folder.isEmpty() ? QStringLiteral("/") : folder);
        if (freeBefore - freeAfter < (qint64(64) << 20))
            break;
    }

    std::printf("received_bytes=%lld seconds=%.1f mb_s=%.1f peak_rss_mb=%.0f disk_mb=%.0f disk_per_byte=%.3f "
                "home_ms=%.1f clear_ms=%.1f emptied=%s disk_back=%s scratch=%s exact=%s head_exact=%s\n",
        static_cast<long long>(bytes), seconds, double(bytes) / seconds / 1e6, double(peak) / 1e6, double(disk) / 1e6,
        double(disk) / double(std::max<qint64>(bytes, 1)), homeMs, clearMs, emptied ? "yes" : "NO",
        freeBefore - freeAfter < (qint64(64) << 20) ? "yes" : "NO", folder.isEmpty() ? "none" : qPrintable(folder),
        exact ? "yes" : "NO", headExact ? "yes" : "NO");
    std::fflush(stdout);
    return 0;
}
