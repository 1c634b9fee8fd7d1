// Plays a device that floods the line: opens a pseudo-terminal, prints its slave path, waits for the
// receiving side to say "G", then writes at a fixed rate for a fixed time and reports what it wrote and
// how long the line held it back. Keeps the slave open until the receiving side says "Q", so the end of
// the flood is not a hang-up.
//
//   floodwriter --mode hex|text [--rate BYTES_PER_S] [--seconds S]

#include "bench/benchsupport.h"
#include "port/textcodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

bool waitFor(int fd, char wanted, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, 200) <= 0)
            continue;
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n == 1 && c == wanted)
            return true;
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const QString &fallback) { return commandOption(args, name, fallback); };
    const bool hex = option("--mode", QStringLiteral("hex")) == u"hex";
    const double rate = option("--rate", QStringLiteral("2097152")).toDouble();
    const double seconds = option("--seconds", QStringLiteral("60")).toDouble();

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty");
        return 1;
    }
    const char *slavePath = ptsname(master);
    const int slave = open(slavePath, O_RDWR | O_NOCTTY);
    std::printf("slave=%s\n", slavePath);
    std::fflush(stdout);
    if (!waitFor(master, 'G', 60000)) {
        std::fprintf(stderr, "floodwriter: no start signal\n");
        return 1;
    }

    ByteStream bytes;
    qint64 line = 0;
    QByteArray pending;
    qint64 written = 0;
    qint64 charsWritten = 0;
    qint64 charsPending = 0;
    double maxBlockedMs = 0;
    double blockedSince = -1;
    QElapsedTimer clock;
    clock.start();
    const auto elapsed = [&] { return double(clock.nsecsElapsed()) / 1e9; };
    for (;;) {
        const double now = elapsed();
        if (now >= seconds && (hex || pending.isEmpty()))
            break;
        const qint64 due = now >= seconds ? written + pending.size() : qint64(rate * now);
        if (written >= due) {
            usleep(1000);
            continue;
        }
        if (pending.isEmpty()) {
            if (hex) {
                pending = bytes.take(16384);
            } else {
                // Whole lines only, so the text ends on a line when the time is up.
                QString text;
                for (int i = 0; i < 256; ++i)
                    text += textLine(line++);
                pending = encodeGbk(text);
                charsPending = text.size();
            }
        }
        const qint64 chunk = std::min<qint64>(due - written, pending.size());
        const ssize_t n = write(master, pending.constData(), size_t(chunk));
        if (n > 0) {
            if (blockedSince >= 0)
                maxBlockedMs = std::max(maxBlockedMs, (elapsed() - blockedSince) * 1000);
            blockedSince = -1;
            written += n;
            pending.remove(0, n);
            if (pending.isEmpty()) {
                charsWritten += charsPending;
                charsPending = 0;
            }
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            std::perror("write");
            break;
        }
        // The line is full: the receiving side is behind. Measure how long it holds the writer back.
        if (blockedSince < 0)
            blockedSince = elapsed();
        pollfd p { master, POLLOUT, 0 };
        poll(&p, 1, 100);
    }
    const double took = elapsed();
    if (blockedSince >= 0)
        maxBlockedMs = std::max(maxBlockedMs, (took - blockedSince) * 1000);
    if (hex)
        charsWritten = 3 * written;
    std::printf("written_bytes=%lld written_chars=%lld target_bytes=%lld writer_seconds=%.1f max_blocked_ms=%.0f\n",
        static_cast<long long>(written), static_cast<long long>(charsWritten), static_cast<long long>(rate * seconds),
        took, maxBlockedMs);
    std::fflush(stdout);
    waitFor(master, 'Q', 600000);
    close(slave);
    close(master);
    return 0;
}
