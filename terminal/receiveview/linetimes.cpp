// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/linetimes.h"

#include "terminal/capture/textunits.h"

LineTimes::LineTimes(const ArrivalTimes::Options &options)
    : m_times(options)
{
}

void LineTimes::text(QStringView text, qint64 absolute, qint64 ms)
{
    if (text.isEmpty())
        return;
    m_map.appending(absolute, m_arrived);
    qsizetype i = 0;
    if (m_last == Display::Text && m_afterCr && text.front() == u'\n')
        i = 1;
    bool start = m_startPending || m_last != Display::Text;
    // From break to break: searching for each kind of break is much faster than looking at every character.
    qsizetype nextCr = text.indexOf(u'\r', i);
    qsizetype nextLf = text.indexOf(u'\n', i);
    for (;;) {
        if (start && i < text.size()) {
            m_times.add(m_arrived + i, ms);
            start = false;
        }
        const qsizetype brk = nextCr < 0 ? nextLf : nextLf < 0 ? nextCr : std::min(nextCr, nextLf);
        if (brk < 0)
            break;
        i = brk + 1;
        if (text[brk] == u'\r' && i < text.size() && text[i] == u'\n')
            ++i;
        start = true;
        if (nextCr >= 0 && nextCr < i)
            nextCr = text.indexOf(u'\r', i);
        if (nextLf >= 0 && nextLf < i)
            nextLf = text.indexOf(u'\n', i);
    }
    m_startPending = start;
    m_afterCr = text.back() == u'\r';
    m_last = Display::Text;
    m_lastMs = ms;
    m_arrived += text.size();
}

void LineTimes::hex(QByteArrayView bytes, qint64 absolute, qint64 ms)
{
    if (bytes.isEmpty())
        return;
    m_map.appending(absolute, m_arrived);
    const qint64 idle = m_last == Display::Hex ? ms - m_lastMs : 0;
    if (m_startPending || m_last != Display::Hex || idle >= kRunGapMs)
        m_times.add(m_arrived, ms, idle >= kRunGapMs ? idle : 0);
    const qsizetype last = bytes.size() - 1;
    for (qsizetype i = bytes.indexOf('\n'); i >= 0 && i < last; i = bytes.indexOf('\n', i + 1))
        m_times.add(m_arrived + (i + 1) * TextUnits::kHexTokenChars, ms);
    m_startPending = bytes.back() == '\n';
    m_afterCr = false;
    m_last = Display::Hex;
    m_lastMs = ms;
    m_arrived += bytes.size() * TextUnits::kHexTokenChars;
}

void LineTimes::dropBefore(qint64 origin)
{
    const qint64 first = m_map.firstArrivalFrom(origin);
    m_times.dropBefore(first < 0 ? m_arrived : first);
    m_map.dropBefore(origin);
}

void LineTimes::clear()
{
    m_times.clear();
    m_map.clear();
    m_arrived = 0;
    m_last = Display::None;
    m_startPending = true;
    m_afterCr = false;
}

std::optional<ArrivalTimes::Stamp> LineTimes::firstIn(qint64 from, qint64 to) const
{
    for (const ArrivalMap::Range &range : m_map.arrivalRanges(from, to)) {
        if (auto stamp = m_times.firstIn(range.from, range.to)) {
            stamp->at += range.absolute - range.from;
            return stamp;
        }
    }
    return std::nullopt;
}

std::optional<qint64> LineTimes::idleStartIn(qint64 from, qint64 to, qint64 gapMs, bool last) const
{
    const auto ranges = m_map.arrivalRanges(from, to);
    for (qsizetype i = 0; i < ranges.size(); ++i) {
        const ArrivalMap::Range &range = ranges[last ? ranges.size() - 1 - i : i];
        if (auto at = m_times.idleStartIn(range.from, range.to, gapMs, last))
            return *at + range.absolute - range.from;
    }
    return std::nullopt;
}

QString LineTimes::stamped(QStringView text, qint64 absolute, StampFormat format, QChar &last) const
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    const qint64 end = absolute + text.size();
    qint64 copied = absolute;
    for (auto stamp = firstIn(absolute, end); stamp; stamp = firstIn(stamp->at + 1, end)) {
        const QStringView before = text.mid(copied - absolute, stamp->at - copied);
        out += before;
        if (!before.isEmpty())
            last = before.back();
        if (!last.isNull() && !TextUnits::isLineBreak(last))
            out += u'\n';
        out += formatStamp(*stamp, format);
        out += u' ';
        last = u' ';
        copied = stamp->at;
    }
    const QStringView rest = text.mid(copied - absolute);
    out += rest;
    if (!rest.isEmpty())
        last = rest.back();
    return out;
}
