// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchsupport.h"

#include "port/textcodec.h"
#include "terminal/hexformat.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

std::uint64_t ByteStream::nextWord()
{
    // xorshift64*, eight bytes a step: the writer must outrun any reader.
    m_state ^= m_state >> 12;
    m_state ^= m_state << 25;
    m_state ^= m_state >> 27;
    return m_state * 0x2545F4914F6CDD1DULL;
}

QByteArray ByteStream::take(qsizetype n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    char *p = bytes.data();
    char *const end = p + n;
    for (;;) {
        for (; p < end && m_left > 0; --m_left, m_word >>= 8)
            *p++ = char(m_word & 0xff);
        for (; end - p >= 8; p += 8) {
            const std::uint64_t word = nextWord();
            std::memcpy(p, &word, 8);
        }
        if (p == end)
            return bytes;
        m_word = nextWord();
        m_left = 8;
    }
}

void ByteStream::skip(qint64 n)
{
    for (; n > 0; n -= 1 << 20)
        take(std::min<qint64>(n, 1 << 20));
}

namespace {

// One line with '#' where the digits go: the line number, then two readings made from it.
struct LineTemplate
{
    QString text;
    QByteArray gbk;
    QList<qsizetype> textDigits;
    QList<qsizetype> gbkDigits;

    LineTemplate()
    {
        text = QStringLiteral("第##########行 温度=##.#℃ 湿度=##% 状态正常 ");
        static const QString filler = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
        text += QStringView(filler).first(TextLines::kChars - 1 - text.size());
        text += u'\n';
        gbk = encodeGbk(text);
        for (qsizetype i = 0; i < text.size(); ++i)
            if (text[i] == u'#')
                textDigits.append(i);
        // '#' never occurs as the second byte of a GBK character (those are 0x40 and up).
        for (qsizetype i = 0; i < gbk.size(); ++i)
            if (gbk[i] == '#')
                gbkDigits.append(i);
        Q_ASSERT(text.size() == TextLines::kChars && textDigits.size() == gbkDigits.size());
    }

    // The digits of line `number`, in the order of the '#'.
    static std::array<char, 15> digits(qint64 number)
    {
        std::array<char, 15> out {};
        qint64 n = number;
        for (int i = 9; i >= 0; --i, n /= 10)
            out[size_t(i)] = char('0' + n % 10);
        const int temperature = 18 + int(number % 13);
        const int tenth = int(number % 10);
        const int humidity = 35 + int(number % 40);
        out[10] = char('0' + temperature / 10);
        out[11] = char('0' + temperature % 10);
        out[12] = char('0' + tenth);
        out[13] = char('0' + humidity / 10);
        out[14] = char('0' + humidity % 10);
        return out;
    }
};

const LineTemplate &lineTemplate()
{
    static const LineTemplate t;
    return t;
}

} // namespace

QString TextLines::line(qint64 number)
{
    const LineTemplate &t = lineTemplate();
    QString out = t.text;
    const auto d = LineTemplate::digits(number);
    for (size_t i = 0; i < d.size(); ++i)
        out[t.textDigits[qsizetype(i)]] = QLatin1Char(d[i]);
    return out;
}

QByteArray TextLines::gbk(qint64 first, qint64 count)
{
    const LineTemplate &t = lineTemplate();
    QByteArray out(count * t.gbk.size(), Qt::Uninitialized);
    char *p = out.data();
    for (qint64 n = first; n < first + count; ++n, p += t.gbk.size()) {
        std::copy(t.gbk.cbegin(), t.gbk.cend(), p);
        const auto d = LineTemplate::digits(n);
        for (size_t i = 0; i < d.size(); ++i)
            p[t.gbkDigits[qsizetype(i)]] = d[i];
    }
    return out;
}

int TextLines::gbkBytes()
{
    return int(lineTemplate().gbk.size());
}

qint64 TextLines::gbkBytesOf(qint64 chars)
{
    return chars / kChars * gbkBytes() + gbkSize(QStringView(lineTemplate().text).first(chars % kChars));
}

bool TextLines::isStreamTail(QStringView shown, qint64 end)
{
    qint64 at = end - shown.size();
    if (at < 0)
        return false;
    qsizetype done = 0;
    while (done < shown.size()) {
        const QString whole = line(at / kChars);
        const qsizetype column = at % kChars;
        const qsizetype take = std::min<qsizetype>(kChars - column, shown.size() - done);
        if (shown.sliced(done, take) != QStringView(whole).sliced(column, take))
            return false;
        done += take;
        at += take;
    }
    return true;
}

bool isHexStreamTail(QStringView shown, qint64 end)
{
    if (shown.size() % 3 != 0 || end < shown.size() / 3)
        return false;
    ByteStream stream;
    stream.skip(end - shown.size() / 3);
    for (qsizetype done = 0; done < shown.size();) {
        const QString hex = renderHex(stream.take(std::min<qsizetype>(1 << 20, (shown.size() - done) / 3)));
        if (shown.sliced(done, hex.size()) != hex)
            return false;
        done += hex.size();
    }
    return true;
}

QString unbrokenText(qint64 offset, qsizetype n)
{
    static const QString pattern = QStringLiteral("温度23.5℃,humidity=41%,串口ok;");
    QString out;
    out.reserve(n);
    qsizetype at = offset % pattern.size();
    while (out.size() < n) {
        const qsizetype take = std::min(n - out.size(), pattern.size() - at);
        out += QStringView(pattern).sliced(at, take);
        at = 0;
    }
    return out;
}

qint64 gbkSize(QStringView text)
{
    qint64 bytes = 0;
    for (const QChar c : text)
        bytes += c.unicode() < 0x80 ? 1 : 2;
    return bytes;
}

StockArea::StockArea(QWidget *parent)
    : QPlainTextEdit(parent)
{
    // The receive area has no scroll bars: neither has this, so both lay out the same width.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void StockArea::appendChunk(const QString &chunk)
{
    moveCursor(QTextCursor::End);
    insertPlainText(chunk);
}

namespace {

AccessibleCounts counts;

void countEvent(QAccessibleEvent *event)
{
    ++counts.events;
    QString text;
    if (event->type() == QAccessible::TextInserted)
        text = static_cast<QAccessibleTextInsertEvent *>(event)->textInserted();
    else if (event->type() == QAccessible::TextRemoved)
        text = static_cast<QAccessibleTextRemoveEvent *>(event)->textRemoved();
    counts.characters += text.size();
}

} // namespace

bool activateAccessibility()
{
    QAccessible::installUpdateHandler(countEvent);
    QAccessible::setActive(true);
    QElapsedTimer waited;
    waited.start();
    while (!QAccessible::isActive() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return QAccessible::isActive();
}

AccessibleCounts accessibleCounts()
{
    return counts;
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

qint64 peakResidentBytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
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

void tellWriter(const QString &slave, char signal)
{
    const int fd = open(slave.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY);
    if (fd < 0)
        return;
    if (write(fd, &signal, 1) != 1)
        std::perror("signal");
    close(fd);
}
