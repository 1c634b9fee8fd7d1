// SPDX-License-Identifier: GPL-3.0-or-later
// The send path, timed: the real window with COM1 on a fresh pty whose master this program drains.
//
//   sendbench --mode paste [--text ascii]
//       pastes 1 Mi characters (Chinese and Latin mixed, or AT command lines) into the send area (Ctrl+V,
//       then a repaint), types one more character there, and sends it with "手动发送": how long each
//       takes, and how long until the last byte reached the master
//   sendbench --mode auto
//       auto-send for 500 ms at a 20 ms period (how many sends), then for 300 ms at a 1 ms period with 10
//       characters (how many bytes)
//   sendbench --mode loss
//       the processor time the component takes in the second after its device went away
//   sendbench --mode file [--size BYTES]
//       sends a file of random bytes (200 MB unless told) with "发送文件…" to a master that checks every
//       byte as it comes: the rate, how late a 10 ms timer on the window's thread ran at worst, and how far
//       the resident memory rose above what it was before the send (sampled every 10 ms)
//
// One line of name=value figures; exit status 1 when the data on the wire was not exact.

#include "bench/benchsupport.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "terminal/sendfile.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/sendline.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

// The device end of a pty: reads whatever the program wrote while its event loop turns. Not the tests'
// PtyPair: that one waits in 5 ms steps, which would hold back a 1 ms auto-send timer (a fifth of the bytes in a run).
struct Master
{
    Master()
    {
        char name[256] = {};
        int slave = -1;
        if (::openpty(&fd, &slave, name, nullptr, nullptr) == 0) {
            ::close(slave);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            slavePath = QString::fromLocal8Bit(name);
        }
    }
    ~Master() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    QByteArray read(qsizetype count, int timeoutMs)
    {
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        char chunk[65536];
        while (out.size() < count && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, 1) <= 0)
                continue;
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0)
                out.append(chunk, n);
        }
        return out;
    }

    int fd = -1;
    QString slavePath;
};

double msSince(const QElapsedTimer &clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

std::unique_ptr<Form1> openWindow(const Master &master)
{
    PortMap::setSystemScanner([] { return QStringList(); });
    qputenv("ZELCOM_PORTS", master.slavePath.toLocal8Bit());
    std::unique_ptr<Form1> form = createForm1();
    form->show();
    QCoreApplication::processEvents();
    form->Command5->click();
    return form;
}

int paste(bool ascii)
{
    Master master;
    std::unique_ptr<Form1> form = openWindow(master);
    const QString text = ascii ? QStringLiteral("AT+READ=1\r\n").repeated(SendLine::kCapacity / 11)
                               : unbrokenText(0, SendLine::kCapacity - 1);
    QGuiApplication::clipboard()->setText(text);

    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(form->Text2, Qt::Key_V, Qt::ControlModifier);
    form->Text2->repaint();
    const double pasteMs = msSince(clock);

    clock.restart();
    QTest::keyClick(form->Text2, Qt::Key_Z);
    form->Text2->repaint();
    const double typeMs = msSince(clock);

    const QByteArray wire = encodeGbk(form->Text2->text());
    clock.restart();
    form->Command6->click();
    const double sendMs = msSince(clock);
    const QByteArray arrived = master.read(wire.size(), 60'000);
    const double wireMs = msSince(clock);

    const bool exact = arrived == wire && form->Label11->text() == QString::number(text.size() + 1);
    std::printf("chars=%lld bytes=%lld paste_ms=%.1f type_ms=%.1f send_ms=%.1f on_wire_ms=%.1f exact=%s\n",
        text.size() + 1, wire.size(), pasteMs, typeMs, sendMs, wireMs, exact ? "yes" : "no");
    return exact ? 0 : 1;
}

int autoSend()
{
    Master master;
    std::unique_ptr<Form1> form = openWindow(master);
    const auto run = [&](const QString &text, const QString &period, int ms) {
        form->Text2->setText(text);
        form->Text3->setText(period);
        form->Command7->click();
        const qsizetype n = master.read(std::numeric_limits<qsizetype>::max(), ms).size();
        form->Command7->click();
        master.read(std::numeric_limits<qsizetype>::max(), 50);
        return n;
    };
    const qsizetype sends = run(QStringLiteral("x"), QStringLiteral("20"), 500);
    const qsizetype bytes = run(QStringLiteral("0123456789"), QStringLiteral("1"), 300);
    std::printf("sends_in_500ms_at_20ms=%lld bytes_in_300ms_at_1ms=%lld\n", static_cast<long long>(sends),
        static_cast<long long>(bytes));
    return 0;
}

int loss()
{
    Master master;
    PortMap::setSystemScanner([] { return QStringList(); });
    qputenv("ZELCOM_PORTS", master.slavePath.toLocal8Bit());
    MSComm comm;
    comm.setPortOpen(true);
    QSignalSpy lost(&comm, &MSComm::portLost);
    master.close();
    lost.wait(2000);
    const double before = cpuSeconds();
    QTest::qWait(1000);
    std::printf("cpu_s_in_second_after_loss=%.3f closed=%s\n", cpuSeconds() - before, comm.PortOpen() ? "no" : "yes");
    return comm.PortOpen() ? 1 : 0;
}

QString fileToSend;

int file(qint64 size)
{
    QTemporaryDir dir;
    fileToSend = dir.filePath(QStringLiteral("send.bin"));
    {
        QFile out(fileToSend);
        ByteStream stream;
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 left = size; left > 0; left -= 1 << 20)
            out.write(stream.take(std::min<qint64>(left, 1 << 20)));
    }
    chooseFileToSend = [](QWidget *) { return fileToSend; };
    Master master;
    std::unique_ptr<Form1> form = openWindow(master);
    master.read(0, 100);

    // The window's thread: how late a 10 ms timer runs, and the resident memory meanwhile.
    const qint64 rssBefore = residentBytes();
    qint64 rssMax = rssBefore;
    double lateMax = 0;
    QElapsedTimer tick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        lateMax = std::max(lateMax, msSince(tick) - 10);
        tick.restart();
        rssMax = std::max(rssMax, residentBytes());
    });
    tick.start();
    probe.start(10);

    QElapsedTimer clock;
    clock.start();
    form->Text2->findChild<QAction *>(QStringLiteral("SendFile"))->trigger();
    ByteStream expected;
    qint64 received = 0;
    bool exact = true;
    char chunk[65536];
    while (received < size && clock.elapsed() < 600'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        pollfd p { master.fd, POLLIN, 0 };
        if (::poll(&p, 1, 1) <= 0)
            continue;
        const ssize_t n = ::read(master.fd, chunk, sizeof chunk);
        if (n <= 0)
            continue;
        exact = exact && expected.take(n) == QByteArray::fromRawData(chunk, n);
        received += n;
    }
    const double seconds = msSince(clock) / 1000;
    probe.stop();
    QCoreApplication::processEvents();
    exact = exact && received == size && form->Label11->text() == QString::number(size);
    std::printf("bytes=%lld seconds=%.2f mb_per_s=%.1f probe_late_max_ms=%.1f rss_rise_mb=%.1f exact=%s\n", received,
        seconds, static_cast<double>(received) / 1e6 / seconds, lateMax, static_cast<double>(rssMax - rssBefore) / 1e6,
        exact ? "yes" : "no");
    return exact ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString mode = commandOption(app.arguments(), "--mode", QStringLiteral("paste"));
    if (mode == u"auto")
        return autoSend();
    if (mode == u"loss")
        return loss();
    if (mode == u"file")
        return file(commandOption(app.arguments(), "--size", QStringLiteral("200000000")).toLongLong());
    return paste(commandOption(app.arguments(), "--text", QString()) == u"ascii");
}
