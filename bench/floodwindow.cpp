// The window under a flood: starts the real window with COM1 on the given pty slave, selects hex or
// character display, opens the port, tells the writer on the master to start, and measures what a user
// would feel: whether every byte is counted and shown, how late a 10 ms timer fires, and the processor
// time the window takes. With --stock the received data goes to the one-paragraph widget the receive
// area replaced, through the same steps as the receive handler.
//
//   floodwindow --slave PATH --mode hex|text --seconds S [--stock]

#include "bench/benchsupport.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "terminal/counter.h"
#include "terminal/hexformat.h"
#include "terminal/receivearea.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/optionbutton.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

void tellWriter(const QString &slave, char signal)
{
    const int fd = open(slave.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY);
    if (fd < 0)
        return;
    if (write(fd, &signal, 1) != 1)
        std::perror("signal");
    close(fd);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const QString &fallback) { return commandOption(args, name, fallback); };
    const QString slave = option("--slave", QString());
    const bool hex = option("--mode", QStringLiteral("hex")) == u"hex";
    const double seconds = option("--seconds", QStringLiteral("60")).toDouble();
    const bool stock = args.contains(QStringLiteral("--stock"));

    PortMap::setSystemScanner([] { return QStringList(); });
    qputenv("ZELCOM_PORTS", slave.toLocal8Bit());
    std::unique_ptr<Form1> form = createForm1();
    form->show();
    QCoreApplication::processEvents();

    OneParagraphArea *old = nullptr;
    if (stock) {
        old = new OneParagraphArea(form->Text1->parentWidget());
        old->setGeometry(form->Text1->geometry());
        old->setFont(form->Text1->font());
        form->Text1->hide();
        old->show();
        MSComm *comm = form->MSComm1;
        QObject::disconnect(comm, &MSComm::OnComm, nullptr, nullptr);
        QObject::connect(comm, &MSComm::OnComm, old, [&form, comm, old] {
            if (comm->CommEvent() != MSComm::comEvReceive)
                return;
            comm->setInputLen(0);
            const auto input = comm->Input();
            if (const auto *bytes = std::get_if<QByteArray>(&input)) {
                form->Label10->setText(addToCounter(form->Label10->text(), bytes->size()));
                old->appendText(renderHex(*bytes));
            } else {
                const QString &text = std::get<QString>(input);
                form->Label10->setText(addToCounter(form->Label10->text(), text.size()));
                old->appendText(text);
            }
        });
    }
    if (hex)
        form->Option1->click();
    form->Command5->click();
    if (!form->MSComm1->PortOpen()) {
        std::fprintf(stderr, "floodwindow: the port did not open\n");
        return 1;
    }

    QList<double> lateness;
    QElapsedTimer clock;
    QElapsedTimer sinceProbe;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        lateness.append(std::max(0.0, double(sinceProbe.nsecsElapsed()) / 1e6 - 10.0));
        sinceProbe.start();
    });

    // Done once the writer has stopped and nothing more arrives, or when the window is hopelessly behind.
    const double cap = seconds + 30;
    QString lastCount;
    double lastChange = 0;
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e9;
        if (form->Label10->text() != lastCount) {
            lastCount = form->Label10->text();
            lastChange = now;
        }
        if ((now > seconds && now - lastChange > 2) || now > cap)
            app.quit();
    });

    const double cpuStart = cpuSeconds();
    clock.start();
    sinceProbe.start();
    probe.start();
    watch.start();
    tellWriter(slave, 'G');
    app.exec();
    probe.stop();
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    const qint64 rss = residentBytes();

    const qint64 counted = form->Label10->text().toLongLong();
    const QString shown = stock ? old->toPlainText() : form->Text1->text();
    QString verdict;
    if (hex) {
        verdict = shown == renderHex(ByteStream().take(counted)) ? QStringLiteral("yes") : QStringLiteral("NO");
    } else {
        QString expected;
        for (qint64 line = 0; expected.size() < counted; ++line)
            expected += textLine(line);
        expected.truncate(counted);
        if (shown == expected)
            verdict = QStringLiteral("yes");
        else if (expected.contains(u'\r') && !shown.contains(u'\r'))
            verdict = QStringLiteral("NO: every CR lost");
        else
            verdict = QStringLiteral("NO");
    }
    const double p50 = quantile(lateness, 0.5);
    const double p99 = quantile(lateness, 0.99);
    const double worst = lateness.isEmpty() ? 0 : lateness.last();
    std::printf("counted=%lld shown_chars=%lld probe_p50_ms=%.1f probe_p99_ms=%.1f probe_max_ms=%.0f "
                "cpu_pct=%.0f rss_mb=%.0f window_seconds=%.1f exact=%s\n",
        static_cast<long long>(counted), static_cast<long long>(shown.size()), p50, p99, worst, 100 * cpu / wall,
        double(rss) / 1e6, wall, qPrintable(verdict));
    std::fflush(stdout);
    tellWriter(slave, 'Q');
    return 0;
}
