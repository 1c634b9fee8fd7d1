// SPDX-License-Identifier: GPL-3.0-or-later
// A long capture: the real window drains a pty flood (the writer on the master, as fast as the window
// takes it) until it has received the given amount, then measures what a user leaving a capture running
// for days cares about: the peak resident memory, what the scratch file takes on disk per received byte,
// how soon the first row shows after Ctrl+Home, how long "清接收区" takes with the repaint that shows it
// and whether the old scratch file is gone with it, and whether the newest data is exact.
//
//   capturebench --slave PATH --mode hex|text --bytes N [--clears K]
//
// With --clears, "清接收区" is first clicked K times while the flood goes on, each time once the window
// has received N bytes more, and each click is timed to the end of the repaint that shows it.

#include "bench/benchsupport.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "terminal/receiveview/receivearea.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/optionbutton.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The unnamed scratch files this process holds in `folder`, with their blocks on disk in bytes.
QList<QPair<QString, qint64>> scratchFiles(const QString &folder)
{
    QList<QPair<QString, qint64>> found;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        struct stat st = {};
        if (!folder.isEmpty() && target.startsWith(folder + u'/') && target.endsWith(u" (deleted)")
            && ::stat(QFile::encodeName(fds.filePath(fd)).constData(), &st) == 0)
            found.append({ target, qint64(st.st_blocks) * 512 });
    }
    return found;
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
    const int clears = option("--clears", QStringLiteral("0")).toInt();

    PortMap::setSystemScanner([] { return QStringList(); });
    qputenv("ZELCOM_PORTS", slave.toLocal8Bit());
    std::unique_ptr<Form1> form = createForm1();
    form->show();
    QCoreApplication::processEvents();
    ReceiveArea &area = *form->Text1;
    const QString folder = area.store().scratchFolder();

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
    qint64 since = 0; // received before the last clear
    QStringList floodClears;
    qint64 floodHeld = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (received() - since < target)
            return;
        if (floodClears.size() < clears) {
            // The reader goes on meanwhile: the pty keeps the writer's bytes coming.
            floodHeld = std::max(floodHeld, area.store().size());
            QElapsedTimer step;
            step.start();
            form->Command3->click();
            area.viewport()->repaint();
            floodClears.append(QString::number(double(step.nsecsElapsed()) / 1e6, 'f', 1));
            since = received();
            return;
        }
        seconds = double(clock.nsecsElapsed()) / 1e9;
        app.quit();
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
    // The oldest data still held, dropped or not, is exact: it starts where the stream had got to.
    const qint64 n = std::min<qint64>(store.size(), hex ? 3 << 12 : 1 << 12);
    const QString first = store.text(0, n);
    const bool headExact
        = hex ? isHexStreamTail(first, (store.origin() + n) / 3) : TextLines::isStreamTail(first, store.origin() + n);

    const QList<QPair<QString, qint64>> filesBefore = scratchFiles(folder);
    step.start();
    form->Command3->click();
    area.viewport()->repaint();
    const double clearMs = double(step.nsecsElapsed()) / 1e6;
    const bool emptied = area.characterCount() == 0;
    // The old file goes with its chunks on a worker thread: its disk is given back once no descriptor
    // holds it any more.
    bool oldGone = folder.isEmpty();
    for (int i = 0; i < 200 && !oldGone; ++i) {
        oldGone = true;
        for (const auto &now : scratchFiles(folder)) {
            for (const auto &old : filesBefore)
                oldGone = oldGone && !(now.first == old.first && now.second == old.second);
        }
        if (!oldGone) {
            QThread::msleep(50);
            QCoreApplication::processEvents();
        }
    }

    std::printf("received_bytes=%lld seconds=%.1f mb_s=%.1f peak_rss_mb=%.0f disk_mb=%.0f disk_per_byte=%.3f "
                "home_ms=%.1f clear_ms=%.1f emptied=%s disk_back=%s scratch=%s exact=%s head_exact=%s "
                "flood_held_chars=%lld flood_clear_ms=%s\n",
        static_cast<long long>(bytes), seconds, double(bytes) / seconds / 1e6, double(peak) / 1e6, double(disk) / 1e6,
        double(disk) / double(std::max<qint64>(bytes, 1)), homeMs, clearMs, emptied ? "yes" : "NO",
        oldGone ? "yes" : "NO", folder.isEmpty() ? "none" : qPrintable(folder), exact ? "yes" : "NO",
        headExact ? "yes" : "NO", floodHeld,
        floodClears.isEmpty() ? "none" : qPrintable(floodClears.join(u',')));
    std::fflush(stdout);
    return 0;
}
