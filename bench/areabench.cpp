// SPDX-License-Identifier: GPL-3.0-or-later
// The receive area against how much it holds: the cost of one receive event (with the one paint it
// causes), memory per received byte, the time to read its whole text back, the slowest answer to a screen
// reader's text queries (each kind, at the start, middle and end) and the time to clear it;
// for the receive area and for the stock plain-text widget fed the way most Qt terminals feed it.
//
//   areabench --widget area|stock --mode hex|text|lines --received BYTES [--events N] [--limit CHARS]
//             [--fill-seconds S] [--idle-gap MS]
//
// hex: random bytes shown in hex (appendHex); text: text with no line break; lines: TextLines. BYTES
// counts what arrived on the line (GBK for text). --limit sets how many characters the area keeps.
// --fill-seconds stops filling the area after S seconds (it then holds less than BYTES: see filled_bytes).
// --idle-gap starts a hex run that came after a pause of MS or more on a row of its own (the context menu's
// choice); fed as fast as it is here, hardly any run does, which is the case to compare with none chosen.
//
// Prints one line of key=value figures for bench/run.sh; with AREABENCH_TRACE set, also each event's
// cost on standard error.

#include "bench/benchsupport.h"
#include "terminal/hexformat.h"
#include "terminal/receiveview/receivearea.h"
#include "window/windowfont.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QThreadPool>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int kWidth = 289; // the receive area's size in the window
constexpr int kHeight = 249;
constexpr int kEventSize = 1024; // bytes in hex, characters in text
constexpr qsizetype kFillSize = 1 << 16;
// Past this many characters the whole text is not read back: a QString of it would not fit beside
// everything else on a test machine.
constexpr qint64 kMaxReadBack = qint64(1) << 30;

// One piece of receive data: bytes in hex mode, text otherwise.
struct Piece
{
    QByteArray bytes;
    QString text;
};

// Hands out the receive data of one mode, piece by piece, in order, and counts what it handed out.
class Feed
{
public:
    explicit Feed(QString mode)
        : m_mode(std::move(mode))
    {
    }

    bool hex() const { return m_mode == u"hex"; }

    // `size` bytes in hex mode, `size` characters otherwise.
    Piece next(qsizetype size)
    {
        Piece piece;
        if (hex()) {
            piece.bytes = m_bytes.take(size);
            m_received += size;
            m_chars += 3 * size;
            return piece;
        }
        if (m_mode == u"text") {
            piece.text = unbrokenText(m_chars, size);
        } else {
            piece.text.reserve(size);
            for (qint64 at = m_chars; piece.text.size() < size;) {
                const QString line = TextLines::line(at / TextLines::kChars);
                const qsizetype column = at % TextLines::kChars;
                const qsizetype take = std::min<qsizetype>(TextLines::kChars - column, size - piece.text.size());
                piece.text += QStringView(line).sliced(column, take);
                at += take;
            }
        }
        m_received += gbkSize(piece.text);
        m_chars += size;
        return piece;
    }

    qint64 received() const { return m_received; }
    qint64 chars() const { return m_chars; }

    // Whether `shown` is exactly the last shown.size() characters handed out, as far as can be told
    // cheaply; `tail` is the text of the last events.
    bool isTail(const QString &shown, const QString &tail) const
    {
        if (hex())
            return isHexStreamTail(shown, m_received);
        if (m_mode == u"lines")
            return TextLines::isStreamTail(shown, m_chars);
        return shown.endsWith(tail);
    }

private:
    QString m_mode;
    ByteStream m_bytes;
    qint64 m_received = 0;
    qint64 m_chars = 0;
};

// Counts the paint events a widget and its children receive.
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
    const qint64 received = option("--received", QStringLiteral("102400")).toLongLong();
    const int events = option("--events", QStringLiteral("100")).toInt();
    const QString limit = option("--limit", QString());
    const qint64 idleGap = option("--idle-gap", QStringLiteral("0")).toLongLong();
    const double fillLimit = option("--fill-seconds", QStringLiteral("0")).toDouble();

    std::unique_ptr<QWidget> edit;
    std::function<void(const Piece &)> append;
    std::function<void()> clear;
    std::function<QString()> text;
    if (widget == u"stock") {
        auto *stock = new StockArea;
        edit.reset(stock);
        append = [stock](const Piece &p) { stock->appendChunk(p.text.isNull() ? renderHex(p.bytes) : p.text); };
        clear = [stock] { stock->clear(); };
        text = [stock] { return stock->toPlainText(); };
    } else {
        auto *area = new ReceiveArea;
        if (!limit.isEmpty())
            area->setMaximumCharacters(limit.toLongLong());
        area->setIdleGap(idleGap);
        edit.reset(area);
        append = [area](const Piece &p) {
            if (p.text.isNull())
                area->appendHex(p.bytes);
            else
                area->appendText(p.text);
        };
        clear = [area] { area->setText(QString()); };
        text = [area] { return area->text(); };
    }
    edit->setFont(windowFont());
    edit->resize(kWidth, kHeight);
    edit->show();
    QCoreApplication::processEvents();
    edit->repaint();
    const qint64 rssBefore = residentBytes();

    Feed feed(mode);
    QElapsedTimer fillTimer;
    fillTimer.start();
    if (widget == u"stock") {
        // The stock widget is filled in one go: piece by piece it would take hours.
        Piece all;
        while (feed.received() < received) {
            const Piece piece = feed.next(std::min<qint64>(kFillSize, received - feed.received()));
            if (feed.hex())
                all.bytes += piece.bytes;
            else
                all.text += piece.text;
        }
        append(all);
    } else {
        while (feed.received() < received && (fillLimit <= 0 || double(fillTimer.nsecsElapsed()) / 1e9 < fillLimit))
            append(feed.next(std::min<qint64>(kFillSize, received - feed.received())));
    }
    QCoreApplication::sendPostedEvents();
    edit->repaint();
    const double fillSeconds = double(fillTimer.nsecsElapsed()) / 1e9;
    const qint64 rssFilled = residentBytes();
    const qint64 filledBytes = feed.received();
    const qint64 filledChars = feed.chars();

    PaintCounter counter;
    int paints = 0;
    edit->installEventFilter(&counter);
    for (QWidget *child : edit->findChildren<QWidget *>())
        child->installEventFilter(&counter);
    QList<double> costs;
    QString tail;
    for (int i = 0; i < events; ++i) {
        const Piece more = feed.next(kEventSize);
        QElapsedTimer timer;
        timer.start();
        counter.paints = 0;
        append(more);
        // The update the append asked for is painted while the posted events are handled, as the event
        // loop would; paint by hand only if it asked for none, so each event pays for one paint.
        QCoreApplication::sendPostedEvents();
        if (counter.paints == 0)
            edit->repaint();
        costs.append(double(timer.nsecsElapsed()) / 1e6);
        paints += counter.paints;
        if (qEnvironmentVariableIsSet("AREABENCH_TRACE"))
            std::fprintf(stderr, "event %d: %.3f ms\n", i, costs.last());
        if (tail.size() > 1 << 20)
            tail.clear();
        tail += more.text.isNull() ? renderHex(more.bytes) : more.text;
    }

    // The text must be exactly the newest characters received: all of them unless the area keeps less.
    auto *area = qobject_cast<ReceiveArea *>(edit.get());
    qint64 kept = area ? area->characterCount() : 0;
    QString exact = QStringLiteral("-");
    double textMs = 0;
    if (kept <= kMaxReadBack) {
        QElapsedTimer textTimer;
        textTimer.start();
        const QString shown = text();
        textMs = double(textTimer.nsecsElapsed()) / 1e6;
        kept = shown.size();
        exact = feed.isTail(shown, tail) ? QStringLiteral("yes") : QStringLiteral("NO");
    }

    // What a screen reader asks, at the start, the middle and the end: the slowest answer.
    double queryMs = 0;
    if (QAccessibleInterface *iface = area ? QAccessible::queryAccessibleInterface(area) : nullptr) {
        QAccessibleTextInterface *t = iface->textInterface();
        const int count = t->characterCount();
        for (int offset : { 1, count / 2, std::max(count - 2, 0) }) {
            for (auto boundary : { QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
                     QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary }) {
                QElapsedTimer queryTimer;
                queryTimer.start();
                int start = 0;
                int end = 0;
                t->textAtOffset(offset, boundary, &start, &end);
                t->textBeforeOffset(offset, boundary, &start, &end);
                t->textAfterOffset(offset, boundary, &start, &end);
                t->text(0, count);
                queryMs = std::max(queryMs, double(queryTimer.nsecsElapsed()) / 1e6);
            }
        }
    }

    QElapsedTimer clearTimer;
    clearTimer.start();
    counter.paints = 0;
    clear();
    QCoreApplication::sendPostedEvents();
    if (counter.paints == 0)
        edit->repaint();
    const double clearMs = double(clearTimer.nsecsElapsed()) / 1e6;
    // A large clear frees its storage on the thread pool: what is left is read once that is done.
    QThreadPool::globalInstance()->waitForDone();
    const qint64 rssCleared = residentBytes();

    const double median = quantile(costs, 0.5);
    const double maximum = costs.isEmpty() ? 0 : costs.last();
    const double growth = double(rssFilled - rssBefore);
    std::printf("widget=%s mode=%s filled_bytes=%lld filled_chars=%lld received_chars=%lld kept_chars=%lld events=%d "
                "median_ms=%.3f "
                "max_ms=%.3f rss_growth_mb=%.0f per_byte=%.2f per_char=%.2f clear_ms=%.1f left_mb=%.1f fill_s=%.1f "
                "text_ms=%.0f paints_per_event=%.2f query_max_ms=%.1f exact=%s\n",
        qPrintable(widget), qPrintable(mode), static_cast<long long>(filledBytes), static_cast<long long>(filledChars),
        feed.chars(), kept, events, median, maximum, growth / 1e6, growth / double(filledBytes),
        growth / double(filledChars), clearMs, double(rssCleared - rssBefore) / 1e6, fillSeconds, textMs,
        events > 0 ? double(paints) / events : 0.0, queryMs, qPrintable(exact));
    return exact == u"NO" ? 1 : 0;
}
