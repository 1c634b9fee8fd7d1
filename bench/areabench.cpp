// Cost of one receive event (with the one paint it causes) against how much the receive area already
// holds, its memory per character, the time to read its whole text back and the time to clear it; for
// the receive area and for the one-paragraph widget it replaced.
//
//   areabench --widget area|stock --mode hex|text|lines --held CHARS [--events N] [--limit CHARS]
//
// --limit sets how much the receive area keeps before it drops the oldest lines.
//
// Prints one line of key=value figures for bench/run.sh; with AREABENCH_TRACE set, also each event's cost
// on standard error.

#include "bench/benchsupport.h"
#include "terminal/hexformat.h"
#include "terminal/receivearea.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int kWidth = 289; // the receive area's size in the window
constexpr int kHeight = 249;
constexpr int kEventBytes = 1024;
constexpr qsizetype kFillChunk = 1 << 16;

// Hands out the receive data of one mode, piece by piece, in order.
class Feed
{
public:
    explicit Feed(QString mode)
        : m_mode(std::move(mode))
    {
    }

    // One receive event's text: 1024 bytes as hex, or 1024 characters of text.
    QString event() { return next(m_mode == u"hex" ? kEventBytes : 1024); }

    QString next(qsizetype chars)
    {
        if (m_mode == u"hex")
            return renderHex(m_bytes.take(std::max<qsizetype>(chars / 3, 1)));
        if (m_mode == u"text") {
            QString out = unbrokenText(m_offset, chars);
            m_offset += chars;
            return out;
        }
        QString out;
        while (out.size() < chars)
            out += textLine(m_line++);
        return out;
    }

private:
    QString m_mode;
    ByteStream m_bytes;
    qint64 m_offset = 0;
    qint64 m_line = 0;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const QString &fallback) { return commandOption(args, name, fallback); };
    const QString widget = option("--widget", QStringLiteral("area"));
    const QString mode = option("--mode", QStringLiteral("hex"));
    const qint64 held = option("--held", QStringLiteral("102400")).toLongLong();
    const int events = option("--events", QStringLiteral("100")).toInt();
    const qint64 limit = option("--limit", QString::number(ReceiveStore::defaultMaximum())).toLongLong();

    std::unique_ptr<QAbstractScrollArea> edit;
    std::function<void(const QString &)> append;
    std::function<void()> clear;
    if (widget == u"stock") {
        auto *stock = new OneParagraphArea;
        edit.reset(stock);
        append = [stock](const QString &more) { stock->appendText(more); };
        clear = [stock] { stock->setPlainText(QString()); };
    } else {
        auto *area = new ReceiveArea;
        area->setMaximumCharacters(limit);
        edit.reset(area);
        append = [area](const QString &more) { area->appendText(more); };
        clear = [area] { area->setText(QString()); };
    }
    edit->setFont(windowFont());
    edit->resize(kWidth, kHeight);
    edit->show();
    QCoreApplication::processEvents();
    edit->viewport()->repaint();
    const qint64 rssBefore = residentBytes();

    Feed feed(mode);
    QElapsedTimer fillTimer;
    fillTimer.start();
    qint64 filled = 0;
    if (widget == u"stock") {
        // The old widget is filled in one go: appending piece by piece would take hours.
        QString all;
        all.reserve(held);
        while (all.size() < held)
            all += feed.next(std::min<qsizetype>(kFillChunk, held - all.size()));
        filled = all.size();
        append(all);
    } else {
        while (filled < held) {
            const QString piece = feed.next(std::min<qsizetype>(kFillChunk, held - filled));
            append(piece);
            filled += piece.size();
        }
    }
    QCoreApplication::sendPostedEvents();
    edit->viewport()->repaint();
    const double fillSeconds = double(fillTimer.nsecsElapsed()) / 1e9;
    const qint64 rssFilled = residentBytes();

    PaintCounter counter;
    int paints = 0;
    edit->viewport()->installEventFilter(&counter);
    QList<double> costs;
    QString appended;
    for (int i = 0; i < events; ++i) {
        const QString more = feed.event();
        QElapsedTimer timer;
        timer.start();
        counter.paints = 0;
        append(more);
        // The update the append asked for is painted while the posted events are handled, as the event
        // loop would; paint by hand only if it asked for none, so each event pays for one paint.
        QCoreApplication::sendPostedEvents();
        if (counter.paints == 0)
            edit->viewport()->repaint();
        costs.append(double(timer.nsecsElapsed()) / 1e6);
        paints += counter.paints;
        if (qEnvironmentVariableIsSet("AREABENCH_TRACE"))
            std::fprintf(stderr, "event %d: %.1f ms\n", i, costs.last());
        if (appended.size() < 1 << 20)
            appended += more;
        else
            appended.clear(); // only the tail is checked below
        filled += more.size();
    }

    // The text must still end with exactly what was appended.
    bool exact = true;
    double textMs = 0;
    if (auto *area = qobject_cast<ReceiveArea *>(edit.get())) {
        QElapsedTimer textTimer;
        textTimer.start();
        const QString text = area->text();
        textMs = double(textTimer.nsecsElapsed()) / 1e6;
        exact = text.size() == filled && text.endsWith(appended);
    }

    QElapsedTimer clearTimer;
    clearTimer.start();
    counter.paints = 0;
    clear();
    QCoreApplication::sendPostedEvents();
    if (counter.paints == 0)
        edit->viewport()->repaint();
    const double clearMs = double(clearTimer.nsecsElapsed()) / 1e6;
    const qint64 rssCleared = residentBytes();

    const double median = quantile(costs, 0.5);
    const double maximum = costs.isEmpty() ? 0 : costs.last();
    std::printf("widget=%s mode=%s held=%lld events=%d median_ms=%.3f max_ms=%.3f bytes_per_char=%.2f "
                "clear_ms=%.1f left_mb=%.1f fill_s=%.1f text_ms=%.0f paints_per_event=%.2f exact=%d\n",
        qPrintable(widget), qPrintable(mode), static_cast<long long>(held), events, median, maximum,
        double(rssFilled - rssBefore) / double(held), clearMs, double(rssCleared - rssBefore) / 1e6, fillSeconds,
        textMs, events > 0 ? double(paints) / events : 0.0, exact ? 1 : 0);
    return exact ? 0 : 1;
}
