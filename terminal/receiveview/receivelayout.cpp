// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivelayout.h"

#include <QFontMetricsF>
#include <QTextLayout>

namespace {

// Layouts kept between paints: a few screenfuls.
constexpr size_t kKeepLayouts = 256;

} // namespace

ReceiveLayout::ReceiveLayout(const ReceiveStore &store)
    : m_store(store)
    , m_segments(store)
{
}

ReceiveLayout::~ReceiveLayout() = default;

void ReceiveLayout::setGeometry(const QFont &font, qreal width, qreal height)
{
    m_height = height;
    if (font == m_font && width == m_width)
        return;
    m_font = font;
    m_width = width;
    forget();
}

void ReceiveLayout::setIdleBreaks(const LineTimes *times, qint64 gapMs)
{
    m_segments.setIdleBreaks(times, gapMs);
    forget();
}

void ReceiveLayout::setPreedit(const QString &text, qint64 at)
{
    m_preedit = text;
    m_preeditAt = at;
}

void ReceiveLayout::follow()
{
    m_follow = true;
}

void ReceiveLayout::forget()
{
    m_layouts.clear();
    m_segments.setWidth(m_font, std::max<qreal>(m_width - 2 * kMargin, 1));
    // The segments may now be cut elsewhere: keep the same text at the top.
    if (!m_follow)
        m_top = { m_segments.at(m_top.segment.start), 0 };
}

void ReceiveLayout::trim() const
{
    if (m_layouts.size() > kKeepLayouts)
        m_layouts.clear();
}

void ReceiveLayout::afterDrop(qint64 dropped)
{
    if (m_follow)
        return;
    // Keep the top row's first character at the top. A long line cut at its front is cut into segments
    // anew, so the row is found by its character; its layout from before the drop is still right for those
    // absolute positions.
    qint64 start = m_top.segment.start;
    const auto laid = m_layouts.find(start + m_store.origin() - dropped);
    if (laid != m_layouts.end() && laid->second.edits == m_store.editCount()
        && m_top.row < laid->second.layout->lineCount())
        start += laid->second.layout->lineAt(m_top.row).textStart();
    // A hidden area is not painted, and nothing else would bound the layouts kept for each drop.
    trim();
    m_top = rowOf(std::max<qint64>(start - dropped, 0));
}

void ReceiveLayout::afterEdit(qint64 from, qint64 to, qint64 inserted, qint64 dropped)
{
    // An edit shifts what follows it; the top row keeps its text in view.
    if (!m_follow && m_top.segment.start > from) {
        const qint64 top = std::max(from, m_top.segment.start - (to - from)) + inserted;
        m_top = { m_segments.at(std::max<qint64>(top - dropped, 0)), 0 };
    } else if (dropped > 0) {
        afterDrop(dropped);
    }
}

ReceiveLayout::Segment ReceiveLayout::segmentAt(qint64 position) const
{
    return m_segments.at(position);
}

QTextLayout *ReceiveLayout::layoutOf(const Segment &s) const
{
    const qint64 key = s.start + m_store.origin();
    const qint64 absoluteEnd = s.end + m_store.origin();
    QString preedit;
    qint64 preeditAt = 0;
    if (!m_preedit.isEmpty() && m_preeditAt >= s.start && m_preeditAt <= s.end
        && m_segments.at(m_preeditAt).start == s.start) {
        preedit = m_preedit;
        preeditAt = m_preeditAt - s.start;
    }
    auto found = m_layouts.find(key);
    if (found != m_layouts.end() && found->second.absoluteEnd == absoluteEnd
        && found->second.edits == m_store.editCount() && found->second.preedit == preedit
        && (preedit.isEmpty() || found->second.layout->preeditAreaPosition() == preeditAt))
        return found->second.layout.get();

    auto layout = std::make_unique<QTextLayout>(m_store.text(s.start, s.end), m_font);
    layout->setTextOption(LineSegments::textOption());
    layout->setCacheEnabled(true);
    if (!preedit.isEmpty()) {
        layout->setPreeditArea(int(preeditAt), preedit);
        QTextLayout::FormatRange underline;
        underline.start = int(preeditAt);
        underline.length = int(preedit.size());
        underline.format.setFontUnderline(true);
        layout->setFormats({ underline });
    }
    const qreal width = std::max<qreal>(m_width - 2 * kMargin, 1);
    qreal y = 0;
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout->endLayout();
    QTextLayout *raw = layout.get();
    m_layouts[key] = Laid { absoluteEnd, m_store.editCount(), preedit, std::move(layout) };
    return raw;
}

// --- Rows ----------------------------------------------------------------------------------------------

bool ReceiveLayout::nextRow(Row &r) const
{
    if (r.row + 1 < layoutOf(r.segment)->lineCount()) {
        ++r.row;
        return true;
    }
    Segment s = r.segment;
    if (!m_segments.next(s))
        return false;
    r = { s, 0 };
    return true;
}

bool ReceiveLayout::previousRow(Row &r) const
{
    if (r.row > 0) {
        --r.row;
        return true;
    }
    Segment s = r.segment;
    if (!m_segments.previous(s))
        return false;
    r = { s, std::max(layoutOf(s)->lineCount() - 1, 0) };
    return true;
}

qreal ReceiveLayout::rowHeight(const Row &r) const
{
    QTextLayout *layout = layoutOf(r.segment);
    return r.row < layout->lineCount() ? layout->lineAt(r.row).height() : QFontMetricsF(m_font).height();
}

ReceiveLayout::Row ReceiveLayout::rowOf(qint64 position) const
{
    const Segment s = m_segments.at(position);
    QTextLayout *layout = layoutOf(s);
    const QTextLine line = layout->lineForTextPosition(int(std::clamp<qint64>(position - s.start, 0, s.end - s.start)));
    return { s, line.isValid() ? line.lineNumber() : std::max(layout->lineCount() - 1, 0) };
}

bool ReceiveLayout::before(const Row &a, const Row &b) const
{
    return a.segment.start < b.segment.start || (a.segment.start == b.segment.start && a.row < b.row);
}

std::pair<qint64, qint64> ReceiveLayout::rowRange(qint64 position) const
{
    trim();
    Row r = rowOf(position);
    const QTextLine line = layoutOf(r.segment)->lineAt(r.row);
    const qint64 start = r.segment.start + line.textStart();
    if (!nextRow(r))
        return { start, m_store.size() };
    return { start, r.row == 0 ? r.segment.start : r.segment.start + layoutOf(r.segment)->lineAt(r.row).textStart() };
}

ReceiveLayout::Row ReceiveLayout::topRow() const
{
    if (!m_follow) {
        // The top segment may have grown since (appends), or been cut at the front; its line start holds.
        Row top = m_top;
        top.segment = m_store.isLineStart(top.segment.line) ? m_segments.segment(top.segment.line, top.segment.k)
                                                            : m_segments.at(top.segment.start);
        top.row = std::clamp(top.row, 0, std::max(layoutOf(top.segment)->lineCount() - 1, 0));
        return top;
    }
    const Segment last = m_segments.at(m_store.size());
    Row top { last, std::max(layoutOf(last)->lineCount() - 1, 0) };
    qreal used = rowHeight(top);
    for (Row up = top; previousRow(up);) {
        used += rowHeight(up);
        if (used > usableHeight())
            break;
        top = up;
    }
    return top;
}

bool ReceiveLayout::reachesEnd(Row r) const
{
    qreal used = 0;
    for (;;) {
        used += rowHeight(r);
        if (used > usableHeight())
            return false;
        if (!nextRow(r))
            return true;
    }
}

QList<ReceiveLayout::ScreenRow> ReceiveLayout::screenRows() const
{
    trim();
    QList<ScreenRow> rows;
    Row r = topRow();
    qreal y = kMargin;
    do {
        rows.append({ r.segment, layoutOf(r.segment), r.row, y });
        y += rowHeight(r);
    } while (y < m_height && nextRow(r));
    return rows;
}

int ReceiveLayout::pageRows() const
{
    return std::max(int(screenRows().size()) - 1, 1);
}

void ReceiveLayout::scrollRows(int rows)
{
    trim();
    Row top = topRow();
    for (int i = 0; i < std::abs(rows); ++i) {
        if (!(rows > 0 ? nextRow(top) : previousRow(top)))
            break;
    }
    m_top = top;
    // Scrolled down as far as the end: follow it again.
    m_follow = reachesEnd(top);
}

void ReceiveLayout::ensureVisible(qint64 position)
{
    trim();
    const Row caret = rowOf(position);
    const Row top = topRow();
    if (before(caret, top)) {
        m_top = caret;
        m_follow = reachesEnd(caret);
        return;
    }
    qreal used = 0;
    for (Row r = top;;) {
        used += rowHeight(r);
        if (used > usableHeight())
            break;
        if (r.segment.start == caret.segment.start && r.row == caret.row)
            return;
        if (!nextRow(r))
            return;
    }
    Row first = caret;
    used = rowHeight(caret);
    for (Row up = caret; previousRow(up);) {
        used += rowHeight(up);
        if (used > usableHeight())
            break;
        first = up;
    }
    m_top = first;
    m_follow = reachesEnd(first);
}

// --- Positions and pixels ------------------------------------------------------------------------------

qint64 ReceiveLayout::rowEdge(qint64 position, bool end) const
{
    const Row r = rowOf(position);
    const QTextLine line = layoutOf(r.segment)->lineAt(r.row);
    const qint64 start = r.segment.start + line.textStart();
    if (!end)
        return start;
    qint64 at = start + line.textLength();
    const bool lastRow = r.row + 1 == layoutOf(r.segment)->lineCount() && r.segment.lastOfLine;
    // The end of a wrapped row is the start of the next one: stay before the blank it wrapped at.
    if (!lastRow && at > start && m_store.at(at - 1).isSpace())
        --at;
    return at;
}

qint64 ReceiveLayout::verticalMove(qint64 position, int rows) const
{
    Row r = rowOf(position);
    const QTextLine from = layoutOf(r.segment)->lineAt(r.row);
    const qreal x
        = from.cursorToX(int(std::clamp<qint64>(position - r.segment.start, 0, r.segment.end - r.segment.start)));
    for (int i = 0; i < std::abs(rows); ++i) {
        if (!(rows > 0 ? nextRow(r) : previousRow(r)))
            return rows > 0 ? m_store.size() : 0;
    }
    return r.segment.start + layoutOf(r.segment)->lineAt(r.row).xToCursor(x);
}

QRectF ReceiveLayout::characterRect(qint64 position) const
{
    const Segment s = m_segments.at(position);
    const int offset = int(std::clamp<qint64>(position - s.start, 0, s.end - s.start));
    for (const ScreenRow &row : screenRows()) {
        if (row.segment.start != s.start)
            continue;
        const QTextLine line = row.layout->lineAt(row.row);
        const int lineEnd = line.textStart() + line.textLength();
        const bool lastRow = row.row + 1 == row.layout->lineCount();
        if (offset < line.textStart() || offset > lineEnd || (offset == lineEnd && !lastRow))
            continue;
        const qreal x = line.cursorToX(offset);
        const qreal next = offset < lineEnd ? line.cursorToX(offset + 1) : x + 1;
        return QRectF(kMargin + x, row.top, std::max<qreal>(next - x, 1), line.height());
    }
    return {};
}

qint64 ReceiveLayout::positionAt(QPointF point) const
{
    const QList<ScreenRow> rows = screenRows();
    const ScreenRow *hit = &rows.first();
    for (const ScreenRow &row : rows) {
        if (row.top <= point.y())
            hit = &row;
    }
    const QTextLine line = hit->layout->lineAt(hit->row);
    qint64 offset = line.xToCursor(point.x() - kMargin);
    // Pre-edit text shown in the row is not part of the text.
    const int preeditAt = hit->layout->preeditAreaPosition();
    if (preeditAt >= 0 && offset > preeditAt)
        offset = std::max<qint64>(offset - hit->layout->preeditAreaText().size(), preeditAt);
    return hit->segment.start + offset;
}
