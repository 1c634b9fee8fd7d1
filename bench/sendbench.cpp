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
//
// One line of name=value figures; exit status 1 when the data on the wire was not exact.

#include "bench/benchsupport.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/sendline.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString mode = commandOption(app.arguments(), "--mode", QStringLiteral("paste"));
    if (mode == u"auto")
        return autoSend();
    if (mode == u"loss")
        return loss();
    return paste(commandOption(app.arguments(), "--text", QString()) == u"ascii");
}
