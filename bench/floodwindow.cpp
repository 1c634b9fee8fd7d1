// SPDX-License-Identifier: GPL-3.0-or-later
// The window under a flood: starts the real window with COM1 on the given pty slave, selects hex or
// character display, opens the port, tells the writer on the master to start, and measures what a user
// would feel: whether every byte is counted and shown, how late a 10 ms timer fires, how soon a click on
// "清接收区" takes effect, and the processor time and memory the window takes. With --stock the received
// data goes instead to the stock plain-text widget, fed as most Qt terminals feed it (the caret to the
// end, then insert), through the same steps as the receive handler.
//
//   floodwindow --slave PATH --mode hex|text --seconds S [--stock] [--accessible] [--click-every S]
//
// --accessible makes the widgets build accessibility events as under a screen reader: run it through
// bench/accessible.sh, where the platform's accessibility can truly be active; the output says whether it
// was (accessible_active) and how many events and characters the window sent. --click-every
// clicks "清接收区" every S seconds of the flood; the text checked at the end is then what arrived
// after the last click.

#include "bench/benchsupport.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "terminal/counter.h"
#include "terminal/hexformat.h"
#include "terminal/receiveview/receivearea.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/optionbutton.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

// Calls `onRelease` when a mouse button is released over the watched widget, before it handles it.
class ReleaseWatch : public QObject
{
public:
    std::function<void()> onRelease;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease && onRelease)
            onRelease();
        return QObject::eventFilter(watched, event);
    }
};

// A left click as the window system delivers it: queued behind whatever the event loop has to do.
void postClick(QWidget *button)
{
    const QPointF at = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(at);
    QCoreApplication::postEvent(
        button, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        button, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
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
    const double clickEvery = option("--click-every", QStringLiteral("0")).toDouble();
    const bool stock = args.contains(QStringLiteral("--stock"));
    const bool accessible = args.contains(QStringLiteral("--accessible")) && activateAccessibility();

    PortMap::setSystemScanner([] { return QStringList(); });
    qputenv("ZELCOM_PORTS", slave.toLocal8Bit());
    std::unique_ptr<Form1> form = createForm1();
    form->show();
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    double lastReceive = 0;
    qint64 receiveEvents = 0;
    MSComm *comm = form->MSComm1;
    StockArea *plain = nullptr;
    if (stock) {
        plain = new StockArea(form->Text1->parentWidget());
        plain->setGeometry(form->Text1->geometry());
        plain->setFont(form->Text1->font());
        form->Text1->hide();
        plain->show();
        QObject::disconnect(comm, &MSComm::OnComm, nullptr, nullptr);
        QObject::connect(comm, &MSComm::OnComm, plain, [&form, comm, plain] {
            if (comm->CommEvent() != MSComm::comEvReceive)
                return;
            comm->setInputLen(0);
            const auto input = comm->Input();
            if (const auto *bytes = std::get_if<QByteArray>(&input)) {
                form->Label10->setText(addToCounter(form->Label10->text(), bytes->size()));
                plain->appendChunk(renderHex(*bytes));
            } else {
                const QString &text = std::get<QString>(input);
                form->Label10->setText(addToCounter(form->Label10->text(), text.size()));
                plain->appendChunk(text);
            }
        });
        QObject::connect(form->Command3, &QPushButton::clicked, plain, &QPlainTextEdit::clear);
    }
    QObject::connect(comm, &MSComm::OnComm, [&] {
        lastReceive = double(clock.nsecsElapsed()) / 1e9;
        ++receiveEvents;
    });
    const auto isEmpty = [&] { return stock ? plain->document()->isEmpty() : form->Text1->characterCount() == 0; };
    if (hex)
        form->Option1->click();
    form->Command5->click();
    if (!comm->PortOpen()) {
        std::fprintf(stderr, "floodwindow: the port did not open\n");
        return 1;
    }

    QList<double> lateness;
    QElapsedTimer sinceProbe;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        lateness.append(std::max(0.0, double(sinceProbe.nsecsElapsed()) / 1e6 - 10.0));
        sinceProbe.start();
    });

    // Clicks on "清接收区": how long the click waits and the clear takes, and whether the area is empty
    // right after it.
    QList<double> clearMs;
    QList<double> effectMs;
    int clicks = 0;
    int notEmpty = 0;
    double posted = 0;
    double released = 0;
    ReleaseWatch watchRelease;
    watchRelease.onRelease = [&] { released = double(clock.nsecsElapsed()) / 1e6; };
    form->Command3->installEventFilter(&watchRelease);
    QObject::connect(form->Command3, &QPushButton::clicked, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        clearMs.append(now - released);
        if (isEmpty())
            effectMs.append(now - posted);
        else
            ++notEmpty;
    });
    QTimer clicker;
    clicker.setInterval(int(clickEvery * 1000));
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        // None in the last second, so the text checked at the end is more than a few events.
        if (double(clock.nsecsElapsed()) / 1e9 > seconds - 1)
            return;
        ++clicks;
        posted = double(clock.nsecsElapsed()) / 1e6;
        postClick(form->Command3);
    });

    // Done once the writer has stopped and nothing more arrives, or when the window is hopelessly behind.
    const double cap = seconds + 30;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e9;
        if ((now > seconds && now - lastReceive > 1) || now > cap)
            app.quit();
    });

    const double cpuStart = cpuSeconds();
    clock.start();
    sinceProbe.start();
    probe.start();
    watch.start();
    if (clickEvery > 0)
        clicker.start();
    tellWriter(slave, 'G');
    app.exec();
    probe.stop();
    const double cpu = cpuSeconds() - cpuStart;
    const qint64 peak = peakResidentBytes();

    const qint64 counted = form->Label10->text().toLongLong();
    const QString shown = stock ? plain->toPlainText() : form->Text1->text();
    bool exact = hex ? isHexStreamTail(shown, counted) : TextLines::isStreamTail(shown, counted);
    if (clicks == 0)
        exact = exact && shown.size() == (hex ? 3 * counted : counted);
    const qint64 bytes = hex ? counted : TextLines::gbkBytesOf(counted);
    const double p50 = quantile(lateness, 0.5);
    const double p99 = quantile(lateness, 0.99);
    const double worst = lateness.isEmpty() ? 0 : lateness.last();
    const double clearMedian = quantile(clearMs, 0.5);
    const double clearWorst = clearMs.isEmpty() ? 0 : clearMs.last();
    const double effectMedian = quantile(effectMs, 0.5);
    const double effectWorst = effectMs.isEmpty() ? 0 : effectMs.last();
    std::printf(
        "counted=%lld received_bytes=%lld receive_events=%lld shown_chars=%lld receive_seconds=%.2f probe_p50_ms=%.1f "
        "probe_p99_ms=%.1f probe_max_ms=%.0f clicks=%d clicked=%lld clear_p50_ms=%.1f clear_max_ms=%.1f "
        "effect_p50_ms=%.1f effect_max_ms=%.1f not_emptied=%d cpu_pct=%.0f peak_rss_mb=%.0f "
        "exact=%s accessible_active=%d accessible_events=%lld accessible_chars=%lld a11y_active=%s\n",
        static_cast<long long>(counted), static_cast<long long>(bytes), receiveEvents, shown.size(), lastReceive, p50,
        p99, worst, clicks, clearMs.size(), clearMedian, clearWorst, effectMedian, effectWorst, notEmpty,
        100 * cpu / std::max(lastReceive, 0.001), double(peak) / 1e6, exact ? "yes" : "NO", accessible ? 1 : 0,
        accessibleCounts().events, accessibleCounts().characters, QAccessible::isActive() ? "yes" : "no");
    std::fflush(stdout);
    tellWriter(slave, 'Q');
    return 0;
}
