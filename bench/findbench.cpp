// SPDX-License-Identifier: GPL-3.0-or-later
// Find over a large capture held mostly in the scratch file: a receive store is fed text lines or random
// bytes (as the receive handler feeds it, taking nothing while the disk is behind), everything full is
// written out, then the finder looks for what was appended last, from the start, so it reads the whole
// capture back. Prints the speed in GB received a second, and the resident memory before and at its
// highest during the find (sampled every 20 ms).
//
//   findbench --mode text|hex --bytes N [--folder DIR] [--any-case] [--cold] [--repeat N]
//   findbench --window
//
// --cold empties the page cache before the find (root only), so the scratch file is read from the disk.
// --repeat finds N times over the same capture and prints the median of each figure.
// --window finds in a receive area through its find box, as a user does, and prints what the status line
// said; bench/findreader.sh runs it so on an accessibility bus with a screen reader listening.

#include "bench/benchsupport.h"
#include "terminal/capture/receivestore.h"
#include "terminal/receiveview/finder.h"
#include "terminal/receiveview/receivearea.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

int findInWindow(QApplication &app)
{
    // The bridge comes up once the accessibility bus answers.
    QElapsedTimer waited;
    waited.start();
    while (!QAccessible::isActive() && waited.elapsed() < 5000)
        app.processEvents(QEventLoop::AllEvents, 50);
    QWidget window;
    window.setWindowTitle(QStringLiteral("findbench"));
    auto *area = new ReceiveArea(&window);
    area->setGeometry(0, 0, 400, 300);
    window.resize(400, 300);
    QString text;
    for (int line = 1; line <= 10000; ++line)
        text += line == 7777 ? QStringLiteral("ERROR 42\r\n") : TextLines::line(line);
    area->appendText(text);
    window.show();
    area->setFocus();
    area->openFind();
    auto *box = window.findChild<QDialog *>(QStringLiteral("FindBox"));
    auto *status = box->findChild<QLabel *>(QStringLiteral("FindStatus"));
    box->findChild<QLineEdit *>(QStringLiteral("FindText"))->setText(QStringLiteral("ERROR 42"));
    // Time for a reader to look at the window before the find.
    QTimer::singleShot(1500, box->findChild<QPushButton *>(QStringLiteral("FindNext")), &QPushButton::click);
    QTimer::singleShot(4000, &app, &QApplication::quit);
    app.exec();
    std::printf("accessible=%d status=\"%s\" name=\"%s\" selection=%lld-%lld\n", int(QAccessible::isActive()),
        qPrintable(status->text()), qPrintable(status->accessibleName()), area->selectionStart(), area->selectionEnd());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--window")))
        return findInWindow(app);
    const auto option = [&](const char *name, const QString &fallback) { return commandOption(args, name, fallback); };
    const bool hex = option("--mode", QStringLiteral("text")) == u"hex";
    const qint64 target = option("--bytes", QStringLiteral("2000000000")).toLongLong();
    const bool anyCase = args.contains(QStringLiteral("--any-case"));

    ReceiveStore::Options o;
    o.scratch = ScratchFile::Place {};
    o.scratch->folder = option("--folder", QString());
    o.memoryHeadroom = 0;
    ReceiveStore store(o);
    if (store.scratchFolder().isEmpty()) {
        std::fprintf(stderr, "findbench: no scratch file\n");
        return 1;
    }

    // Received bytes: GBK for text, as the line delivers it.
    qint64 received = 0;
    qint64 nextLine = 0;
    ByteStream stream;
    QElapsedTimer clock;
    clock.start();
    while (received < target) {
        while (store.behind())
            QThread::usleep(200);
        if (hex) {
            const QByteArray bytes = stream.take(64 << 10);
            store.appendHex(bytes);
            received += bytes.size();
        } else {
            QString text;
            for (int i = 0; i < 512; ++i)
                text += TextLines::line(nextLine++);
            store.appendText(text);
            received = TextLines::gbkBytesOf(store.origin() + store.size());
        }
    }
    // What is sought, once, at the very end: eight bytes that random data holds by chance once in 2^64
    // places, or a text the lines never hold.
    const QString needle = hex ? QStringLiteral("DE AD BE EF 01 23 45 67") : QStringLiteral("NEEDLE-Zq");
    if (hex)
        store.appendHex(QByteArray::fromHex("DEADBEEF01234567"));
    else
        store.appendText(needle);
    store.flush();
    const double feedSeconds = double(clock.nsecsElapsed()) / 1e9;
    bool cold = false;
    const auto dropCache = [&] {
        if (!args.contains(QStringLiteral("--cold")))
            return;
        ::sync();
        QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
        cold = drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2;
        drop.close();
    };
    const qint64 expected = store.size() - (hex ? needle.size() + 1 : needle.size());

    Finder finder(store);
    const qint64 before = residentBytes();
    qint64 during = before;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { during = std::max(during, residentBytes()); });
    sampler.start(20);
    qint64 at = -2;
    QObject::connect(&finder, &Finder::found, [&](qint64 from) {
        at = from;
        app.quit();
    });
    QObject::connect(&finder, &Finder::notFound, [&] {
        at = -1;
        app.quit();
    });
    // Each find alone, the median of each figure: on a shared machine one find can be held up by chance.
    const int repeat = std::max(1, option("--repeat", QStringLiteral("1")).toInt());
    std::vector<double> startsMs, wall, processor;
    bool right = true;
    for (int i = 0; i < repeat; ++i) {
        at = -2;
        dropCache();
        clock.restart();
        const double cpuBefore = cpuSeconds();
        finder.start(needle, hex, anyCase ? Qt::CaseInsensitive : Qt::CaseSensitive, 0, true);
        // What the window's thread spends on it: the snapshot of what is held.
        startsMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        app.exec();
        wall.push_back(double(clock.nsecsElapsed()) / 1e9);
        // Processor time of the whole process meanwhile: the finder, the threads opening blocks ahead of
        // it, and the idle event loop. On a busy machine the speed follows the share of processor it gets.
        processor.push_back(cpuSeconds() - cpuBefore);
        right = right && at == expected;
    }
    during = std::max(during, residentBytes());
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double startMs = median(startsMs);
    const double seconds = median(wall);
    const double cpu = median(processor);
    if (!right)
        at = -2;

    std::printf(
        "| %s%s%s | %.2f GB received (%.2f GB in the scratch file, fed in %.0f s) | %s | %.1f ms | %.2f s | %.2f GB/s "
        "| %.2f GB | %.0f MiB | %.0f MiB |\n",
        hex ? "hex" : "text", anyCase ? ", any case" : "", cold ? ", from the disk" : ", from the page cache",
        double(received) / 1e9, double(store.diskBytes()) / 1e9, feedSeconds,
        at == expected ? "found at the end" : "WRONG PLACE", startMs, seconds, double(received) / 1e9 / seconds,
        double(received) / 1e9 / cpu, double(before) / 1048576.0, double(during) / 1048576.0);
    return at == expected ? 0 : 1;
}
