// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivearea.h"

#include "terminal/receiveview/receiveaccessible.h"
#include "terminal/receiveview/savedialog.h"
#include "window/texts.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QTextLayout>

#include <climits>

namespace {

// Space between the frame and the text, as in the stock text boxes.
constexpr qreal kMargin = 4;

// Received data is shown this often at most (a screen refresh).
constexpr int kPaintMs = 16;

// Layouts kept between paints: a few screenfuls.
constexpr size_t kKeepLayouts = 256;

// A screen reader hears of appended text at most this often, and at most this much of it at once: the
// bridge copies every event it is sent, and a flood would otherwise flood the reader too.
constexpr int kAccessibleNoticeMs = 100;
constexpr qint64 kAccessibleNoticeChars = 1 << 12;
// Edits and selections longer than this are passed on cut short.
constexpr qint64 kAccessibleChars = 1 << 16;

int accessibleOffset(qint64 position)
{
    return int(std::min<qint64>(position, INT_MAX));
}

QAccessibleInterface *receiveAccessible(const QString &, QObject *object)
{
    if (auto *area = qobject_cast<ReceiveArea *>(object))
        return new ReceiveAccessible(area);
    return nullptr;
}

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

} // namespace

ReceiveArea::ReceiveArea(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    m_option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(receiveAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

ReceiveArea::~ReceiveArea() = default;

QString ReceiveArea::text() const
{
    return m_store.text(0, m_store.size());
}

qint64 ReceiveArea::characterCount() const
{
    return m_store.size();
}

QString ReceiveArea::textBetween(qint64 from, qint64 to) const
{
    return m_store.text(from, to);
}

void ReceiveArea::setMaximumCharacters(qint64 characters)
{
    m_store.setMaximum(characters);
}

void ReceiveArea::setText(const QString &text)
{
    const qint64 before = m_store.size();
    const QString removed = QAccessible::isActive() && before <= kAccessibleChars ? this->text() : QString();
    m_store.clear();
    forgetLayouts();
    m_caret = m_anchor = 0;
    m_follow = true;
    m_preedit.clear();
    m_accessibleFrom = -1;
    m_store.appendText(text);
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, removed, text.left(kAccessibleChars));
        QAccessible::updateAccessibility(&event);
    }
    viewport()->update();
}

void ReceiveArea::appendText(QStringView text)
{
    if (text.isEmpty())
        return;
    const qint64 from = m_store.size();
    afterAppend(from, m_store.appendText(text));
}

void ReceiveArea::appendHex(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 from = m_store.size();
    afterAppend(from, m_store.appendHex(bytes));
}

void ReceiveArea::afterAppend(qint64 from, qint64 dropped)
{
    if (dropped > 0)
        adjustForDrop(dropped);
    if (QAccessible::isActive()) {
        if (m_accessibleFrom < 0)
            m_accessibleFrom = std::max<qint64>(from - dropped, 0);
        if (!m_accessibleTimer.isActive())
            m_accessibleTimer.start(kAccessibleNoticeMs, this);
    }
    // A flood brings an append every turn of the event loop, and a paint after each would cost more than
    // the appends themselves: received data is painted at most once per kPaintMs.
    if (!m_paintTimer.isActive())
        m_paintTimer.start(kPaintMs, this);
}

void ReceiveArea::adjustForDrop(qint64 dropped)
{
    const auto shift = [dropped](qint64 &position) { position = std::max<qint64>(position - dropped, 0); };
    shift(m_caret);
    shift(m_anchor);
    if (m_accessibleFrom >= 0)
        shift(m_accessibleFrom);
    if (!m_follow) {
        // Keep the top row's first character at the top. A long line cut at its front is cut into segments
        // anew, so the row is found by its character; its layout from before the drop is still right for
        // those absolute positions.
        qint64 start = m_top.segment.start;
        const auto laid = m_layouts.find(start + m_store.origin() - dropped);
        if (laid != m_layouts.end() && laid->second.edits == m_store.editCount()
            && m_top.row < laid->second.layout->lineCount())
            start += laid->second.layout->lineAt(m_top.row).textStart();
        shift(start);
        // A hidden area is not painted, and nothing else would bound the layouts kept for each drop.
        if (m_layouts.size() > kKeepLayouts)
            m_layouts.clear();
        m_top = rowOf(start);
    }
}

void ReceiveArea::forgetLayouts()
{
    m_layouts.clear();
    m_segmentChars = 0;
    // The segments may now be cut elsewhere: keep the same text at the top.
    if (!m_follow)
        m_top = { segmentAt(m_top.segment.start), 0 };
}

// --- Segments and rows ---------------------------------------------------------------------------------

qint64 ReceiveArea::segmentChars() const
{
    if (m_segmentChars > 0)
        return m_segmentChars;
    m_segmentChars = kSegmentChars;
    // A hex dump is one endless line: where its rows hold the same number of "AB " tokens, segments of
    // whole rows leave no short row at their boundaries. Let the layout say how many tokens fit.
    QString sample;
    for (int i = 0; i < kSegmentChars / 3; ++i)
        sample += QString::asprintf("%02X ", (i * 37) & 0xff);
    QTextLayout layout(sample, font(), viewport());
    layout.setTextOption(m_option);
    const qreal width = std::max<qreal>(viewport()->width() - 2 * kMargin, 1);
    int row = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const bool full = line.textStart() + line.textLength() < sample.size();
        if (full && (row == 0 || line.textLength() != row)) {
            if (row != 0) {
                layout.endLayout();
                return m_segmentChars; // rows of different lengths: nothing to align to
            }
            row = line.textLength();
        }
    }
    layout.endLayout();
    if (row > 0 && row % 3 == 0)
        m_segmentChars = std::max<qint64>(kSegmentChars / row, 1) * row;
    return m_segmentChars;
}

qint64 ReceiveArea::boundary(qint64 line, qint64 k) const
{
    qint64 at = line + k * segmentChars();
    if (k > 0 && at < m_store.size() && m_store.at(at - 1).isHighSurrogate() && m_store.at(at).isLowSurrogate())
        ++at;
    return at;
}

ReceiveArea::Segment ReceiveArea::segment(qint64 line, qint64 k) const
{
    Segment s;
    s.line = line;
    s.k = k;
    s.start = boundary(line, k);
    const qint64 next = boundary(line, k + 1);
    s.end = m_store.lineEnd(s.start, next);
    s.lastOfLine = s.end < next || s.end == m_store.size() || m_store.breakLength(s.end) > 0;
    return s;
}

ReceiveArea::Segment ReceiveArea::segmentAt(qint64 position) const
{
    position = std::clamp<qint64>(position, 0, m_store.size());
    const qint64 line = m_store.lineStart(position);
    qint64 k = (position - line) / segmentChars();
    if (k > 0 && boundary(line, k) > position)
        --k;
    Segment s = segment(line, k);
    // A line whose length is a multiple of the segment ends in the last full segment, not an empty one.
    if (k > 0 && s.start >= s.end)
        s = segment(line, k - 1);
    return s;
}

bool ReceiveArea::nextSegment(Segment &s) const
{
    if (!s.lastOfLine) {
        s = segment(s.line, s.k + 1);
        return true;
    }
    if (s.end >= m_store.size())
        return false;
    s = segment(s.end + m_store.breakLength(s.end), 0);
    return true;
}

bool ReceiveArea::previousSegment(Segment &s) const
{
    if (s.k > 0) {
        s = segment(s.line, s.k - 1);
        return true;
    }
    if (s.line == 0)
        return false;
    qint64 end = s.line - 1;
    if (end > 0 && m_store.at(end) == u'\n' && m_store.at(end - 1) == u'\r')
        --end;
    s = segmentAt(end);
    return true;
}

QTextLayout *ReceiveArea::layoutOf(const Segment &s) const
{
    const qint64 key = s.start + m_store.origin();
    const qint64 absoluteEnd = s.end + m_store.origin();
    QString preedit;
    qint64 preeditAt = 0;
    if (!m_preedit.isEmpty() && m_caret >= s.start && m_caret <= s.end && segmentAt(m_caret).start == s.start) {
        preedit = m_preedit;
        preeditAt = m_caret - s.start;
    }
    auto found = m_layouts.find(key);
    if (found != m_layouts.end() && found->second.absoluteEnd == absoluteEnd
        && found->second.edits == m_store.editCount() && found->second.preedit == preedit
        && (preedit.isEmpty() || found->second.layout->preeditAreaPosition() == preeditAt))
        return found->second.layout.get();

    auto layout = std::make_unique<QTextLayout>(m_store.text(s.start, s.end), font(), viewport());
    layout->setTextOption(m_option);
    layout->setCacheEnabled(true);
    if (!preedit.isEmpty()) {
        layout->setPreeditArea(int(preeditAt), preedit);
        QTextLayout::FormatRange underline;
        underline.start = int(preeditAt);
        underline.length = int(preedit.size());
        underline.format.setFontUnderline(true);
        layout->setFormats({ underline });
    }
    const qreal width = std::max<qreal>(viewport()->width() - 2 * kMargin, 1);
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

bool ReceiveArea::nextRow(Row &r) const
{
    if (r.row + 1 < layoutOf(r.segment)->lineCount()) {
        ++r.row;
        return true;
    }
    Segment s = r.segment;
    if (!nextSegment(s))
        return false;
    r = { s, 0 };
    return true;
}

bool ReceiveArea::previousRow(Row &r) const
{
    if (r.row > 0) {
        --r.row;
        return true;
    }
    Segment s = r.segment;
    if (!previousSegment(s))
        return false;
    r = { s, std::max(layoutOf(s)->lineCount() - 1, 0) };
    return true;
}

qreal ReceiveArea::rowHeight(const Row &r) const
{
    QTextLayout *layout = layoutOf(r.segment);
    return r.row < layout->lineCount() ? layout->lineAt(r.row).height() : QFontMetricsF(font()).height();
}

ReceiveArea::Row ReceiveArea::rowOf(qint64 position) const
{
    const Segment s = segmentAt(position);
    QTextLayout *layout = layoutOf(s);
    const QTextLine line = layout->lineForTextPosition(int(std::clamp<qint64>(position - s.start, 0, s.end - s.start)));
    return { s, line.isValid() ? line.lineNumber() : std::max(layout->lineCount() - 1, 0) };
}

bool ReceiveArea::before(const Row &a, const Row &b) const
{
    return a.segment.start < b.segment.start || (a.segment.start == b.segment.start && a.row < b.row);
}

qreal ReceiveArea::usableHeight() const
{
    return viewport()->height() - 2 * kMargin;
}

ReceiveArea::Row ReceiveArea::topRow() const
{
    if (!m_follow) {
        // The top segment may have grown since (appends), or been cut at the front; its line start holds.
        Row top = m_top;
        top.segment = m_store.isLineStart(top.segment.line) ? segment(top.segment.line, top.segment.k)
                                                            : segmentAt(top.segment.start);
        top.row = std::clamp(top.row, 0, std::max(layoutOf(top.segment)->lineCount() - 1, 0));
        return top;
    }
    const Segment last = segmentAt(m_store.size());
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

bool ReceiveArea::reachesEnd(Row r) const
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

QList<ReceiveArea::ScreenRow> ReceiveArea::screenRows() const
{
    if (m_layouts.size() > kKeepLayouts)
        m_layouts.clear();
    QList<ScreenRow> rows;
    Row r = topRow();
    qreal y = kMargin;
    do {
        QTextLayout *layout = layoutOf(r.segment);
        rows.append({ r.segment, layout, r.row, y });
        y += rowHeight(r);
    } while (y < viewport()->height() && nextRow(r));
    return rows;
}

// --- Painting and geometry -----------------------------------------------------------------------------

void ReceiveArea::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const QList<ScreenRow> rows = screenRows();
    const qint64 caretSegment = hasFocus() && m_caretShown ? segmentAt(m_caret).start : -1;
    const QRectF clip = viewport()->rect();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        // Each segment once, from its first row on screen; the clip leaves out the rows off screen.
        if (i > 0 && rows[i].segment.start == rows[i - 1].segment.start)
            continue;
        const ScreenRow &row = rows[i];
        const QPointF origin(kMargin, row.top - row.layout->lineAt(row.row).y());
        QList<QTextLayout::FormatRange> selections;
        const qint64 from = std::max(selectionStart(), row.segment.start);
        const qint64 to = std::min(selectionEnd(), row.segment.end);
        if (from < to) {
            QTextLayout::FormatRange selected;
            selected.start = int(from - row.segment.start);
            selected.length = int(to - from);
            selected.format.setBackground(palette().brush(QPalette::Highlight));
            selected.format.setForeground(palette().brush(QPalette::HighlightedText));
            selections.append(selected);
        }
        row.layout->draw(&painter, origin, selections, clip);
        if (row.segment.start == caretSegment) {
            const int at = int(m_caret - row.segment.start) + (m_preedit.isEmpty() ? 0 : m_preeditCursor);
            row.layout->drawCursor(&painter, origin, at, 1);
        }
    }
}

QRect ReceiveArea::characterRect(qint64 position) const
{
    const Segment s = segmentAt(position);
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
        return QRectF(kMargin + x, row.top, std::max<qreal>(next - x, 1), line.height()).toAlignedRect();
    }
    return {};
}

qint64 ReceiveArea::positionAt(QPointF point) const
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

void ReceiveArea::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    forgetLayouts();
}

void ReceiveArea::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        forgetLayouts();
    viewport()->update();
}

// --- Scrolling and the caret ---------------------------------------------------------------------------

void ReceiveArea::scrollRows(int rows)
{
    if (m_layouts.size() > kKeepLayouts)
        m_layouts.clear();
    Row top = topRow();
    for (int i = 0; i < std::abs(rows); ++i) {
        if (!(rows > 0 ? nextRow(top) : previousRow(top)))
            break;
    }
    m_top = top;
    // Scrolled down as far as the end: follow it again.
    m_follow = reachesEnd(top);
    viewport()->update();
}

void ReceiveArea::ensureCaretVisible()
{
    const Row caret = rowOf(m_caret);
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

qint64 ReceiveArea::nextCharacter(qint64 position) const
{
    if (position >= m_store.size())
        return m_store.size();
    if (const int length = m_store.breakLength(position))
        return position + length;
    if (m_store.at(position).isHighSurrogate() && m_store.at(position + 1).isLowSurrogate())
        return position + 2;
    return position + 1;
}

qint64 ReceiveArea::previousCharacter(qint64 position) const
{
    if (position <= 1)
        return 0;
    const QChar last = m_store.at(position - 1);
    const QChar before = m_store.at(position - 2);
    if ((last == u'\n' && before == u'\r') || (last.isLowSurrogate() && before.isHighSurrogate()))
        return position - 2;
    return position - 1;
}

qint64 ReceiveArea::rowEdge(qint64 position, bool end) const
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

qint64 ReceiveArea::verticalMove(qint64 position, int rows) const
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

void ReceiveArea::moveCaret(qint64 position, bool select)
{
    m_caret = std::clamp<qint64>(position, 0, m_store.size());
    if (!select)
        m_anchor = m_caret;
    restartBlink();
    ensureCaretVisible();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent event(this, accessibleOffset(m_caret));
        QAccessible::updateAccessibility(&event);
    }
    // An input method places its candidate window at the caret: it has to be told the caret moved.
    updateMicroFocus();
    viewport()->update();
}

void ReceiveArea::setSelection(qint64 anchor, qint64 caret)
{
    m_anchor = std::clamp<qint64>(anchor, 0, m_store.size());
    moveCaret(caret, true);
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent event(this, accessibleOffset(selectionStart()), accessibleOffset(selectionEnd()));
        QAccessible::updateAccessibility(&event);
    }
}

void ReceiveArea::selectWord(qint64 position)
{
    const Segment s = segmentAt(position);
    const QString text = m_store.text(s.start, s.end);
    qsizetype from = std::clamp<qint64>(position - s.start, 0, text.size());
    qsizetype to = from;
    while (from > 0 && isWordCharacter(text[from - 1]))
        --from;
    while (to < text.size() && isWordCharacter(text[to]))
        ++to;
    if (from == to && to < text.size())
        ++to;
    setSelection(s.start + from, s.start + to);
}

// --- Editing -------------------------------------------------------------------------------------------

void ReceiveArea::replace(qint64 from, qint64 to, QStringView text)
{
    from = std::clamp<qint64>(from, 0, m_store.size());
    to = std::clamp<qint64>(to, 0, m_store.size());
    if (from > to)
        std::swap(from, to);
    if (QAccessible::isActive()) {
        notifyAccessibleInsert();
        if (from < to) {
            QAccessibleTextRemoveEvent event(
                this, accessibleOffset(from), textBetween(from, std::min(to, from + kAccessibleChars)));
            QAccessible::updateAccessibility(&event);
        }
    }
    // An edit shifts what follows it; the top row keeps its text in view.
    const bool topMoves = !m_follow && m_top.segment.start > from;
    const qint64 top = std::max(from, m_top.segment.start - (to - from)) + text.size();
    m_store.remove(from, to);
    const qint64 dropped = m_store.insert(from, text);
    if (dropped > 0)
        adjustForDrop(dropped);
    if (topMoves)
        m_top = { segmentAt(std::max<qint64>(top - dropped, 0)), 0 };
    if (QAccessible::isActive() && !text.isEmpty()) {
        QAccessibleTextInsertEvent event(
            this, accessibleOffset(std::max<qint64>(from - dropped, 0)), text.left(kAccessibleChars).toString());
        QAccessible::updateAccessibility(&event);
    }
    moveCaret(std::max<qint64>(from + text.size() - dropped, 0), false);
}

void ReceiveArea::insertAtCaret(QStringView text)
{
    replace(selectionStart(), selectionEnd(), text);
}

bool ReceiveArea::copy()
{
    if (selectionStart() == selectionEnd() || !mayCopy(this, selectionEnd() - selectionStart()))
        return false;
    QApplication::clipboard()->setText(textBetween(selectionStart(), selectionEnd()));
    return true;
}

void ReceiveArea::cut()
{
    if (copy())
        replace(selectionStart(), selectionEnd(), {});
}

void ReceiveArea::paste()
{
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty())
        insertAtCaret(text);
}

void ReceiveArea::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::SelectAll))
        return setSelection(0, m_store.size());
    if (event->matches(QKeySequence::Copy))
        return void(copy());
    if (event->matches(QKeySequence::Cut))
        return cut();
    if (event->matches(QKeySequence::Paste))
        return paste();

    const bool select = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const bool selection = selectionStart() < selectionEnd();
    const int page = std::max(int(screenRows().size()) - 1, 1);
    switch (event->key()) {
    case Qt::Key_Left:
        return moveCaret(selection && !select ? selectionStart() : previousCharacter(m_caret), select);
    case Qt::Key_Right:
        return moveCaret(selection && !select ? selectionEnd() : nextCharacter(m_caret), select);
    case Qt::Key_Up:
        return moveCaret(verticalMove(m_caret, -1), select);
    case Qt::Key_Down:
        return moveCaret(verticalMove(m_caret, 1), select);
    case Qt::Key_Home:
        return moveCaret(control ? 0 : rowEdge(m_caret, false), select);
    case Qt::Key_End:
        return moveCaret(control ? m_store.size() : rowEdge(m_caret, true), select);
    case Qt::Key_PageUp:
        scrollRows(-page);
        return moveCaret(verticalMove(m_caret, -page), select);
    case Qt::Key_PageDown:
        scrollRows(page);
        return moveCaret(verticalMove(m_caret, page), select);
    case Qt::Key_Backspace:
        return replace(selection ? selectionStart() : previousCharacter(m_caret), selectionEnd(), {});
    case Qt::Key_Delete:
        return replace(selectionStart(), selection ? selectionEnd() : nextCharacter(m_caret), {});
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return insertAtCaret(u"\n");
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Tab moves the focus (the widget does that before this); it is never typed.
        return event->ignore();
    default:
        break;
    }
    const QString text = event->text();
    const bool typed = !text.isEmpty() && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        && text.front() >= u' ' && text.front() != u'\x7f';
    if (typed)
        insertAtCaret(text);
    else
        event->ignore();
}

void ReceiveArea::inputMethodEvent(QInputMethodEvent *event)
{
    m_preedit.clear();
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        qint64 from = selectionStart();
        qint64 to = selectionEnd();
        if (from == to && event->replacementLength() > 0) {
            from = std::max<qint64>(m_caret + event->replacementStart(), 0);
            to = from + event->replacementLength();
        }
        replace(from, to, event->commitString());
    }
    m_preedit = event->preeditString();
    m_preeditCursor = int(m_preedit.size());
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor)
            m_preeditCursor = attribute.start;
    }
    updateMicroFocus();
    viewport()->update();
    event->accept();
}

QVariant ReceiveArea::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const Segment s = segmentAt(m_caret);
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle: {
        QRect caret = characterRect(m_caret);
        if (caret.isNull())
            caret = QRect(int(kMargin), int(kMargin), 1, fontMetrics().height());
        return QRect(caret.topLeft() + viewport()->pos(), QSize(1, caret.height()));
    }
    case Qt::ImSurroundingText:
        return m_store.text(s.start, s.end);
    case Qt::ImCursorPosition:
        return int(m_caret - s.start);
    case Qt::ImAnchorPosition:
        return int(std::clamp<qint64>(m_anchor - s.start, 0, s.end - s.start));
    case Qt::ImCurrentSelection:
        return textBetween(selectionStart(), std::min(selectionEnd(), selectionStart() + kAccessibleChars));
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// --- Mouse, wheel, menu, focus -------------------------------------------------------------------------

void ReceiveArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    moveCaret(positionAt(event->position()), event->modifiers() & Qt::ShiftModifier);
}

void ReceiveArea::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    // Dragging past the top or bottom edge scrolls a row at a time.
    if (event->position().y() < 0)
        scrollRows(-1);
    else if (event->position().y() > viewport()->height())
        scrollRows(1);
    moveCaret(positionAt(event->position()), true);
}

void ReceiveArea::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        selectWord(positionAt(event->position()));
}

void ReceiveArea::wheelEvent(QWheelEvent *event)
{
    m_wheelDelta += event->angleDelta().y();
    const int notches = m_wheelDelta / QWheelEvent::DefaultDeltasPerStep;
    m_wheelDelta -= notches * QWheelEvent::DefaultDeltasPerStep;
    if (notches != 0)
        scrollRows(-notches * QApplication::wheelScrollLines());
    event->accept();
}

void ReceiveArea::contextMenuEvent(QContextMenuEvent *event)
{
    const bool selection = selectionStart() < selectionEnd();
    QMenu menu(this);
    menu.addAction(Texts::kMenuCut, this, &ReceiveArea::cut)->setEnabled(selection);
    menu.addAction(Texts::kMenuCopy, this, [this] { copy(); })->setEnabled(selection);
    menu.addAction(Texts::kMenuPaste, this, &ReceiveArea::paste)
        ->setEnabled(!QApplication::clipboard()->text().isEmpty());
    menu.addSeparator();
    menu.addAction(Texts::kMenuSelectAll, this, [this] { setSelection(0, m_store.size()); })
        ->setEnabled(m_store.size() > 0);
    menu.addSeparator();
    menu.addAction(Texts::kMenuSaveAll, this, [this] { saveCapture(this, m_store, 0, m_store.size()); })
        ->setEnabled(m_store.size() > 0);
    menu.addAction(
            Texts::kMenuSaveSelection, this, [this] { saveCapture(this, m_store, selectionStart(), selectionEnd()); })
        ->setEnabled(selection);
    menu.exec(event->globalPos());
}

void ReceiveArea::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
    viewport()->update();
}

void ReceiveArea::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_caretShown = false;
    viewport()->update();
}

void ReceiveArea::restartBlink()
{
    m_caretShown = true;
    const int flash = QApplication::cursorFlashTime();
    if (flash > 0 && hasFocus())
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
}

void ReceiveArea::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_blink.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update();
    } else if (event->timerId() == m_paintTimer.timerId()) {
        m_paintTimer.stop();
        viewport()->update();
    } else if (event->timerId() == m_accessibleTimer.timerId()) {
        m_accessibleTimer.stop();
        notifyAccessibleInsert();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void ReceiveArea::notifyAccessibleInsert()
{
    if (m_accessibleFrom < 0)
        return;
    qint64 from = m_accessibleFrom;
    m_accessibleFrom = -1;
    if (!QAccessible::isActive())
        return;
    // Only the newest part of a flood is read out.
    from = std::max(from, m_store.size() - kAccessibleNoticeChars);
    QAccessibleTextInsertEvent event(this, accessibleOffset(from), textBetween(from, m_store.size()));
    QAccessible::updateAccessibility(&event);
}
