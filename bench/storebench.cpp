// SPDX-License-Identifier: GPL-3.0-or-later
// The capture past its disk budget: a receive store with its scratch file in a given folder (a small file
// system of its own, so that the budget is reached) is fed far more than the budget as the receive
// handler feeds it, taking nothing while the disk is behind. Measured on the scratch file itself (its
// blocks on disk, through this process's descriptor) against what the store holds, at every step; then
// whether the oldest and the newest data still held are exact, the peak resident memory, and how long a
// clear takes and whether the old file's disk goes with it.
//
//   storebench --folder DIR --mode hex|hexruns|text|shortlines --bytes N [--times on]
//
// With --times on, the times of arrival are kept beside the text as the receive area keeps them (in the
// same scratch file), and the figures end with the disk and memory they take. In shortlines mode each
// line (21 characters) arrives in a read of its own, every 10 ms or so by a clock of the bench's own, as
// from a device logging slowly for a long time: the case where times cost the most per character. In
// hexruns mode each frame of 16 bytes arrives in a read of its own after a pause of 20 to 99 ms, so that
// each begins a hex run that keeps its pause.
//
// Built with ZELCOM_BENCH_BEFORE for a revision whose store has no behind(): there the store itself waits
// for the disk.

#include "bench/benchsupport.h"
#include "terminal/capture/receivestore.h"
#ifndef ZELCOM_BENCH_BEFORE
#include "terminal/receiveview/linetimes.h"
#endif

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <limits>
#include <sys/stat.h>

namespace {

// The unnamed scratch files this process holds in `folder`: descriptor path -> blocks on disk in bytes.
QList<QPair<QString, qint64>> scratchFiles(const QString &folder)
{
    QList<QPair<QString, qint64>> found;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        struct stat st = {};
        if (target.startsWith(folder + u'/') && target.endsWith(u" (deleted)")
            && ::stat(QFile::encodeName(fds.filePath(fd)).constData(), &st) == 0)
            found.append({ target, qint64(st.st_blocks) * 512 });
    }
    return found;
}

qint64 fileBytes(const QString &folder)
{
    qint64 bytes = 0;
    for (const auto &file : scratchFiles(folder))
        bytes += file.second;
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const QString &fallback) { return commandOption(args, name, fallback); };
    const QString folder = QDir::cleanPath(option("--folder", QString()));
    const QString mode = option("--mode", QStringLiteral("hex"));
    const bool hexRuns = mode == u"hexruns";
    const bool hex = mode == u"hex" || hexRuns;
    const bool shortLines = mode == u"shortlines";
    const qint64 target = option("--bytes", QStringLiteral("1000000000")).toLongLong();

    ReceiveStore::Options o;
    o.scratch = ScratchFile::Place {};
    o.scratch->folder = folder;
#ifndef ZELCOM_BENCH_BEFORE
    // The disk is used however little room it has: its budget is what is measured here.
    o.memoryHeadroom = 0;
#endif
    ReceiveStore store(o);
    if (store.scratchFolder().isEmpty()) {
        std::fprintf(stderr, "storebench: no scratch file in %s\n", qPrintable(folder));
        return 1;
    }
#ifndef ZELCOM_BENCH_BEFORE
    const bool withTimes = option("--times", QStringLiteral("off")) == u"on";
    LineTimes times;
    times.setFile(store.scratchFile());
    qint64 timeLines = 0;
    const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
    // Before each append, as the receive area does.
    const auto stamp = [&](const auto &data, qint64 ms) {
        if (!withTimes)
            return;
        if constexpr (std::is_same_v<std::decay_t<decltype(data)>, QString>)
            times.text(data, store.origin() + store.size(), ms);
        else
            times.hex(data, store.origin() + store.size(), ms);
    };
    const auto dropped = [&](qint64 characters) {
        if (withTimes && characters > 0)
            times.dropBefore(store.origin());
    };
#else
    const auto stamp = [](const auto &, qint64) {};
    const auto dropped = [](qint64) {};
    const qint64 startMs = 0;
#endif

    // Past the budget, the file against what the store holds (as received bytes: UTF-16 text is counted
    // at two bytes a character), at each of these steps.
    const qint64 step = std::max<qint64>(target / 64, 1 << 20);
    qint64 received = 0; // bytes, or characters of text
    qint64 nextLook = step;
    qint64 nextLine = 0;
    qint64 runMs = 0;
    ByteStream stream;
    double worstFilePerHeld = 0;
    qint64 worstOver = std::numeric_limits<qint64>::min();
    qint64 fileMax = 0;
    qint64 heldAtWorst = 0;
    qint64 leastHeld = std::numeric_limits<qint64>::max();
    bool pastBudget = false;
    QElapsedTimer clock;
    clock.start();
    double waitedMs = 0;
    while (received < target) {
#ifndef ZELCOM_BENCH_BEFORE
        // As the receive handler does: nothing is taken while the disk is behind.
        if (store.behind()) {
            QElapsedTimer wait;
            wait.start();
            while (store.behind())
                QThread::usleep(200);
            waitedMs += double(wait.nsecsElapsed()) / 1e6;
        }
#endif
        if (hex) {
            const QByteArray bytes = stream.take(hexRuns ? 16 : 64 << 10);
            if (hexRuns)
                runMs += 20 + qint64(quint64(nextLine++) * 2654435761u % 80);
            stamp(bytes, hexRuns ? startMs + runMs : QDateTime::currentMSecsSinceEpoch());
            dropped(store.appendHex(bytes));
            received += bytes.size();
        } else if (shortLines) {
            const QString text = QStringLiteral("T=23.5 H=40 #%1\n").arg(nextLine % 10000000, 7, 10, QLatin1Char('0'));
            // Every 10 ms, give or take a few.
            stamp(text, startMs + nextLine * 10 + qint64(quint64(nextLine) * 2654435761u % 7) - 3);
            ++nextLine;
            dropped(store.appendText(text));
            received += text.size();
        } else {
            QString text;
            for (int i = 0; i < 512; ++i)
                text += TextLines::line(nextLine++);
            stamp(text, QDateTime::currentMSecsSinceEpoch());
            dropped(store.appendText(text));
            received += text.size();
        }
        if (received >= nextLook) {
            nextLook += step;
            pastBudget = pastBudget || store.origin() > 0;
            const qint64 file = fileBytes(folder);
            const qint64 held = hex ? store.size() / 3 : store.size() * 2;
            fileMax = std::max(fileMax, file);
            if (pastBudget && file - held > worstOver) {
                worstOver = file - held;
                heldAtWorst = held;
            }
            if (pastBudget)
                leastHeld = std::min(leastHeld, held);
            if (pastBudget)
                worstFilePerHeld = std::max(worstFilePerHeld, double(file) / double(std::max<qint64>(held, 1)));
        }
    }
    const double feedSeconds = double(clock.nsecsElapsed()) / 1e9;
    store.flush();
#ifndef ZELCOM_BENCH_BEFORE
    times.times().flush();
    // The lines whose times are held: every line fed once nothing has made way.
    timeLines = (shortLines || hexRuns) && store.origin() == 0 ? nextLine : -1;
    const qint64 timesDisk = times.times().diskBytes();
    const qint64 timesMemory = times.times().memoryBytes();
#endif
    const qint64 file = fileBytes(folder);
    const qint64 held = hex ? store.size() / 3 : store.size() * 2;

    // What must remain after drops: the oldest held and the newest, exact against the stream.
    const qint64 n = std::min<qint64>(store.size(), hex ? 3 << 16 : 1 << 16);
    const bool headExact = shortLines ? true
        : hex                         ? isHexStreamTail(store.text(0, n), (store.origin() + n) / 3)
                                      : TextLines::isStreamTail(store.text(0, n), store.origin() + n);
    const bool tailExact = shortLines ? true
        : hex                         ? isHexStreamTail(store.text(store.size() - n, store.size()), received)
                                      : TextLines::isStreamTail(store.text(store.size() - n, store.size()), received);
    const bool lineStart = hex || shortLines || store.origin() % TextLines::kChars == 0;
    const qint64 peak = peakResidentBytes();

    const auto before = scratchFiles(folder);
    QElapsedTimer clearClock;
    clearClock.start();
#ifndef ZELCOM_BENCH_BEFORE
    // As the receive area clears: the times let go of the old file first, then the store closes it.
    times.clear();
#endif
    store.clear();
#ifndef ZELCOM_BENCH_BEFORE
    times.setFile(store.scratchFile());
#endif
    const double clearMs = double(clearClock.nsecsElapsed()) / 1e6;
    // The old file is gone once no descriptor holds it: then all its blocks are the file system's again.
    bool oldGone = false;
    QElapsedTimer goneClock;
    goneClock.start();
    while (!oldGone && goneClock.elapsed() < 20000) {
        oldGone = true;
        for (const auto &now : scratchFiles(folder)) {
            for (const auto &old : before)
                oldGone = oldGone && !(now.first == old.first && now.second == old.second && now.second > 0);
        }
        if (!oldGone)
            QThread::msleep(10);
    }
    const double goneMs = double(goneClock.nsecsElapsed()) / 1e6;

    std::printf(
        "received=%lld feed_s=%.1f waited_ms=%.0f past_budget=%s held_mb=%.1f file_mb=%.1f file_max_mb=%.1f "
        "worst_file_per_held=%.3f worst_file_minus_held_mb=%.2f held_at_worst_mb=%.1f least_held_mb=%.1f head_exact=%s "
        "line_start=%s tail_exact=%s peak_rss_mb=%.0f clear_ms=%.2f old_file_gone=%s gone_ms=%.0f\n",
        received, feedSeconds, waitedMs, pastBudget ? "yes" : "no", double(held) / 1e6, double(file) / 1e6,
        double(fileMax) / 1e6, worstFilePerHeld, double(worstOver) / 1e6, double(heldAtWorst) / 1e6,
        pastBudget ? double(leastHeld) / 1e6 : 0.0, headExact ? "yes" : "NO", lineStart ? "yes" : "NO",
        tailExact ? "yes" : "NO", double(peak) / 1e6, clearMs, oldGone ? "yes" : "NO", goneMs);
#ifndef ZELCOM_BENCH_BEFORE
    if (withTimes)
        std::printf("times=on feed_m_per_s=%.2f times_disk_bytes=%lld times_memory_bytes=%lld lines=%lld "
                    "times_disk_bytes_per_line=%.3f\n",
            double(received) / 1e6 / feedSeconds, timesDisk, timesMemory, timeLines,
            timeLines > 0 ? double(timesDisk) / double(timeLines) : -1.0);
    else
        std::printf("times=off feed_m_per_s=%.2f\n", double(received) / 1e6 / feedSeconds);
#endif
    return 0;
}
