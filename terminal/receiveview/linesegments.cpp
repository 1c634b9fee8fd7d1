// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/linesegments.h"

#include "terminal/capture/textunits.h"
#include "terminal/receiveview/linetimes.h"

#include <QTextLayout>

LineSegments::LineSegments(const ReceiveStore &store)
    : m_store(store)
{
}

QTextOption LineSegments::textOption()
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

void LineSegments::setWidth(const QFont &font, qreal width)
{
    m_font = font;
    m_width = width;
    m_chars = 0;
}

void LineSegments::setIdleBreaks(const LineTimes *times, qint64 gapMs)
{
    m_times = gapMs > 0 ? times : nullptr;
    m_gapMs = gapMs;
}

std::optional<qint64> LineSegments::idleStart(qint64 from, qint64 to, bool last) const
{
    if (!m_times || from >= to)
        return std::nullopt;
    const qint64 origin = m_store.origin();
    const auto at = m_times->idleStartIn(from + origin, to + origin, m_gapMs, last);
    return at ? std::optional(*at - origin) : std::nullopt;
}

qint64 LineSegments::chars() const
{
    if (m_chars > 0)
        return m_chars;
    m_chars = kChars;
    // A hex dump is one endless line: where its rows hold the same number of tokens, segments of whole
    // rows leave no short row at their boundaries. Let the layout say how many tokens fit.
    QString sample;
    for (qint64 i = 0; i < kChars; ++i)
        sample += QChar(TextUnits::hexTokenChar(quint8((i / TextUnits::kHexTokenChars * 37) & 0xff), i));
    QTextLayout layout(sample, m_font);
    layout.setTextOption(textOption());
    const qreal width = m_width;
    int row = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const bool full = line.textStart() + line.textLength() < sample.size();
        if (full && (row == 0 || line.textLength() != row)) {
            if (row != 0) {
                layout.endLayout();
                return m_chars; // rows of different lengths: nothing to align to
            }
            row = line.textLength();
        }
    }
    layout.endLayout();
    if (row > 0 && TextUnits::isHexTokenStart(row))
        m_chars = std::max<qint64>(kChars / row, 1) * row;
    return m_chars;
}

qint64 LineSegments::boundary(qint64 line, qint64 k) const
{
    const qint64 at = line + k * chars();
    return k > 0 ? TextUnits::outOfUnit(m_store, at) : at;
}

LineSegments::Segment LineSegments::segment(qint64 line, qint64 k) const
{
    Segment s;
    s.line = line;
    s.k = k;
    s.start = boundary(line, k);
    const qint64 next = boundary(line, k + 1);
    const qint64 cut = idleStart(s.start + 1, std::min(next, m_store.size()), false).value_or(next);
    s.end = m_store.lineEnd(s.start, cut);
    s.idleEnd = cut < next && s.end == cut;
    s.lastOfLine = !s.idleEnd && (s.end < next || s.end == m_store.size() || m_store.breakLength(s.end) > 0);
    return s;
}

LineSegments::Segment LineSegments::at(qint64 position) const
{
    position = std::clamp<qint64>(position, 0, m_store.size());
    qint64 line = m_store.lineStart(position);
    line = idleStart(line + 1, std::min(position + 1, m_store.size()), true).value_or(line);
    qint64 k = (position - line) / chars();
    if (k > 0 && boundary(line, k) > position)
        --k;
    Segment s = segment(line, k);
    // A line whose length is a multiple of the segment ends in the last full segment, not an empty one.
    if (k > 0 && s.start >= s.end)
        s = segment(line, k - 1);
    return s;
}

bool LineSegments::next(Segment &s) const
{
    if (s.idleEnd) {
        s = segment(s.end, 0);
        return true;
    }
    if (!s.lastOfLine) {
        s = segment(s.line, s.k + 1);
        return true;
    }
    if (s.end >= m_store.size())
        return false;
    s = segment(s.end + m_store.breakLength(s.end), 0);
    return true;
}

bool LineSegments::previous(Segment &s) const
{
    if (s.k > 0) {
        s = segment(s.line, s.k - 1);
        return true;
    }
    if (s.line == 0)
        return false;
    s = at(TextUnits::previousCharacter(m_store, s.line));
    return true;
}
