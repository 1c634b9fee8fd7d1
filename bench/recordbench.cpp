// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a record keeps up: a record writer is handed a stream at a fixed rate, in batches the size the
// receive handler hands over, on the event loop as the window does; then whether it fell behind its bound,
// how long the last batch took to reach the file and the file to close (synced), and whether the file
// holds every byte handed over.
//
//   recordbench --file PATH --bytes N --rate BYTES_PER_SECOND [--batch BYTES]

#include "terminal/receiveview/recordwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

qint64 option(const QStringList &args, const QString &name, qint64 fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toLongLong() : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype fileAt = args.indexOf(QStringLiteral("--file"));
    if (fileAt < 0 || fileAt + 1 >= args.size()) {
        std::fprintf(stderr, "usage: recordbench --file PATH --bytes N --rate BYTES_PER_SECOND [--batch BYTES]\n");
        return 2;
    }
    const QString path = args[fileAt + 1];
    const qint64 total = option(args, QStringLiteral("--bytes"), qint64(1) << 30);
    const qint64 rate = option(args, QStringLiteral("--rate"), qint64(100) << 20);
    const qint64 batch = option(args, QStringLiteral("--batch"), qint64(2) << 20);
    QFile::remove(path);

    QByteArray block(batch, Qt::Uninitialized);
    for (qint64 i = 0; i < batch; ++i)
        block[i] = char(i % 251);
    RecordWriter writer;
    if (const int error = writer.open(path); error != 0) {
        std::fprintf(stderr, "cannot open %s: error %d\n", qPrintable(path), error);
        return 1;
    }
    bool fellBehind = false;
    QObject::connect(&writer, &RecordWriter::failed, [&](RecordWriter::Failure failure, int) {
        fellBehind = failure == RecordWriter::FellBehind;
        app.quit();
    });
    qint64 handed = 0;
    QElapsedTimer clock;
    qint64 lastHandedAt = 0;
    QTimer tick;
    tick.callOnTimeout([&] {
        // Hand over what the rate allows by now, one batch per turn of the loop at most.
        if (handed < total && handed + batch <= clock.nsecsElapsed() * rate / 1000000000) {
            writer.append(block.first(qsizetype(std::min(batch, total - handed))));
            handed += std::min(batch, total - handed);
            lastHandedAt = clock.elapsed();
        }
        if (handed >= total) {
            tick.stop();
            QObject::connect(&writer, &RecordWriter::finished, &app, &QCoreApplication::quit);
            writer.finish();
        }
    });
    clock.start();
    tick.start(0);
    app.exec();
    const qint64 done = clock.elapsed();

    const qint64 size = QFileInfo(path).size();
    std::printf("| offered MB/s | handed MB | fell behind | last batch to closed file ms | file MB | wall s |\n");
    std::printf("|---:|---:|---|---:|---:|---:|\n");
    std::printf("| %.0f | %.0f | %s | %lld | %.0f | %.1f |\n", double(rate) / 1e6, double(handed) / 1e6,
        fellBehind ? "yes" : "no", done - lastHandedAt, double(size) / 1e6, double(done) / 1000);
    QFile::remove(path);
    return fellBehind || size != handed ? 1 : 0;
}
