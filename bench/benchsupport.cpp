#include "bench/benchsupport.h"

#include <QFile>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

QByteArray ByteStream::take(qsizetype n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (char &b : bytes) {
        // xorshift64*
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        b = char((m_state * 0x2545F4914F6CDD1DULL) >> 56);
    }
    return bytes;
}

QString textLine(qint64 number)
{
    return QStringLiteral("第%1行 温度=%2.%3℃ 湿度=%4%% 状态 OK\r\n")
        .arg(number)
        .arg(18 + number % 13)
        .arg(number % 10)
        .arg(35 + number % 40);
}

QString unbrokenText(qint64 offset, qsizetype n)
{
    static const QString pattern = QStringLiteral("温度23.5℃,humidity=41%,串口ok;");
    QString out;
    out.reserve(n);
    qsizetype at = qsizetype(offset % pattern.size());
    while (out.size() < n) {
        const qsizetype take = std::min(n - out.size(), pattern.size() - at);
        out += QStringView(pattern).sliced(at, take);
        at = 0;
    }
    return out;
}

OneParagraphArea::OneParagraphArea(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setUndoRedoEnabled(false);
}

void OneParagraphArea::appendText(const QString &more)
{
    if (more.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool followEnd = bar->value() == bar->maximum();
    const int scroll = bar->value();
    const int anchor = textCursor().anchor();
    const int position = textCursor().position();
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(more);
    if (textCursor().anchor() != anchor || textCursor().position() != position) {
        QTextCursor restored(document());
        restored.setPosition(anchor);
        restored.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(restored);
    }
    bar->setValue(followEnd ? bar->maximum() : scroll);
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double quantile(QList<double> &values, double q)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = qsizetype(q * double(values.size() - 1) + 0.5);
    return values[std::clamp<qsizetype>(at, 0, values.size() - 1)];
}

QString commandOption(const QStringList &args, const char *name, const QString &fallback)
{
    const qsizetype at = args.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}
