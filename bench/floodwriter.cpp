// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a device that floods the line: opens a pseudo-terminal, prints its slave path, waits for the
// receiving side to say "G", then writes for a fixed time and reports what it wrote. With --rate it
// writes at that many bytes a second and reports how long the line held it back; with --rate 0 it
// writes as fast as the reader takes the data (large buffers, written as soon as the line has room). Keeps the slave
// open until the receiving side says "Q", so the end of the flood is not a hang-up.
//
//   floodwriter --mode hex|text [--rate BYTES_PER_S] [--seconds S]
//
// Hex mode writes ByteStream() bytes; text mode writes TextLines in GBK, whole lines only.

#include "bench/benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qsizetype kMaxRateChunk = 1 << 20;

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

// The data of one mode, in order, in pieces of about `bytes`.
class Source
{
public:
    explicit Source(bool hex)
        : m_hex(hex)
    {
    }
    QByteArray next(qsizetype bytes)
    {
        if (m_hex)
            return m_bytes.take(bytes);
        const qint64 lines = std::max<qint64>(1, bytes / TextLines::gbkBytes());
        m_line += lines;
        return TextLines::gbk(m_line - lines, lines);
    }

private:
    bool m_hex;
    ByteStream m_bytes;
    qint64 m_line = 0;
};

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
    // Raw from the start, so nothing is echoed back or cooked whoever reads the slave.
    termios raw {};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    std::printf("slave=%s\n", slavePath);
    std::fflush(stdout);
    if (!waitFor(master, 'G', 60000)) {
        std::fprintf(stderr, "floodwriter: no start signal\n");
        return 1;
    }

    Source source(hex);
    QByteArray pending;
    qint64 written = 0;
    double maxBlockedMs = 0;
    double blockedSince = -1;
    QElapsedTimer clock;
    clock.start();
    const auto elapsed = [&] { return double(clock.nsecsElapsed()) / 1e9; };
    if (rate <= 0) {
        // Large buffers, each written as soon as the line has room; the writer stops on time however slow
        // the reader (text on a line boundary, at most one line later).
        QByteArray chunk;
        qsizetype done = 0;
        for (;;) {
            if (elapsed() >= seconds && (hex || written % TextLines::gbkBytes() == 0))
                break;
            if (done == chunk.size()) {
                chunk = source.next(kMaxRateChunk);
                done = 0;
            }
            pollfd p { master, POLLOUT, 0 };
            if (poll(&p, 1, 100) <= 0)
                continue;
            const qsizetype room
                = elapsed() >= seconds ? TextLines::gbkBytes() - written % TextLines::gbkBytes() : chunk.size() - done;
            const ssize_t n = write(master, chunk.constData() + done, size_t(std::min(room, chunk.size() - done)));
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::perror("write");
                return 1;
            }
            done += std::max<ssize_t>(n, 0);
            written += std::max<ssize_t>(n, 0);
        }
    } else {
        for (;;) {
            const double now = elapsed();
            if (now >= seconds && (hex || pending.isEmpty()))
                break;
            const qint64 due = now >= seconds ? written + pending.size() : qint64(rate * now);
            if (written >= due) {
                usleep(1000);
                continue;
            }
            if (pending.isEmpty())
                pending = source.next(16384);
            const qint64 chunk = std::min<qint64>(due - written, pending.size());
            const ssize_t n = write(master, pending.constData(), size_t(chunk));
            if (n > 0) {
                if (blockedSince >= 0)
                    maxBlockedMs = std::max(maxBlockedMs, (elapsed() - blockedSince) * 1000);
                blockedSince = -1;
                written += n;
                pending.remove(0, n);
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
    }
    const double took = elapsed();
    if (blockedSince >= 0)
        maxBlockedMs = std::max(maxBlockedMs, (took - blockedSince) * 1000);
    const qint64 chars = hex ? 3 * written : written / TextLines::gbkBytes() * TextLines::kChars;
    std::printf("written_bytes=%lld written_chars=%lld target_bytes=%lld writer_seconds=%.2f max_blocked_ms=%.0f\n",
        written, static_cast<long long>(chars), static_cast<long long>(rate * seconds), took, maxBlockedMs);
    std::fflush(stdout);
    waitFor(master, 'Q', 600000);
    close(slave);
    close(master);
    return 0;
}
