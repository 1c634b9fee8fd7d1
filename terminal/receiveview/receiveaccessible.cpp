// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receiveaccessible.h"

#include "terminal/capture/textunits.h"
#include "terminal/receiveview/receivearea.h"

#include <QTextLayout>

#include <tuple>

ReceiveAccessible::ReceiveAccessible(ReceiveArea *area)
    : QAccessibleWidget(area, QAccessible::EditableText)
    , m_store(&area->store())
{
}

ReceiveArea *ReceiveAccessible::area() const
{
    return static_cast<ReceiveArea *>(widget());
}

void *ReceiveAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State ReceiveAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

void ReceiveAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0)
        return;
    *startOffset = area()->notifier().offsetOf(area()->selectionStart());
    *endOffset = area()->notifier().offsetOf(area()->selectionEnd());
}

int ReceiveAccessible::selectionCount() const
{
    return area()->selectionStart() < area()->selectionEnd() ? 1 : 0;
}

void ReceiveAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void ReceiveAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        area()->setSelection(area()->cursorPosition(), area()->cursorPosition());
}

void ReceiveAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    const ReceiveNotifier &n = area()->notifier();
    if (selectionIndex == 0)
        area()->setSelection(n.positionOf(startOffset), n.positionOf(endOffset));
}

int ReceiveAccessible::cursorPosition() const
{
    return area()->notifier().offsetOf(area()->cursorPosition());
}

void ReceiveAccessible::setCursorPosition(int position)
{
    const qint64 at = area()->notifier().positionOf(position);
    area()->setSelection(at, at);
}

QString ReceiveAccessible::text(int startOffset, int endOffset) const
{
    const ReceiveNotifier &n = area()->notifier();
    const qint64 start = n.positionOf(startOffset);
    return area()->textBetween(start, std::min(n.positionOf(endOffset), start + kTextChars));
}

int ReceiveAccessible::characterCount() const
{
    return int(area()->notifier().length());
}

void ReceiveAccessible::range(int offset, QAccessible::TextBoundaryType boundaryType, qint64 *start, qint64 *end) const
{
    const ReceiveStore &store = area()->store();
    const qint64 first = area()->notifier().base();
    const qint64 size = store.size();
    const qint64 at = area()->notifier().positionOf(offset);
    // Around `at`, at most kQueryChars, never cutting a unit.
    const auto around = [&](qint64 from, qint64 to) {
        *start = std::max({ from, at - kQueryChars / 2, first });
        *start = std::max(TextUnits::outOfUnit(store, *start), first);
        *end = std::min(to, *start + kQueryChars);
        if (*end < to && TextUnits::isInsideUnitAt(store, *end))
            --*end;
    };
    switch (boundaryType) {
    case QAccessible::CharBoundary:
        // A reader's character is never half a surrogate pair.
        *start = at > first && store.at(at).isLowSurrogate() && store.at(at - 1).isHighSurrogate() ? at - 1 : at;
        *end = std::min(TextUnits::isInsideUnitAt(store, *start + 1) && store.at(*start).isHighSurrogate() ? *start + 2
                                                                                                           : *start + 1,
            size);
        return;
    case QAccessible::WordBoundary: {
        // Words and the runs between them (blanks, punctuation, the line break) follow each other without
        // a gap, so a reader stepping by words reaches every one, and its words are a double click's.
        const qint64 lower = std::max(at - TextUnits::kWordSearchChars, first);
        std::tie(*start, *end) = TextUnits::wordRunAt(store, at, lower, at + TextUnits::kWordSearchChars);
        return;
    }
    case QAccessible::LineBoundary: {
        const auto [rowStart, rowEnd] = area()->layout().rowRange(at);
        *start = std::max(rowStart, first);
        *end = rowEnd;
        return;
    }
    case QAccessible::NoBoundary:
        around(first, size);
        return;
    default: {
        // Sentences and paragraphs are the received lines, each with its line break. A longer line is cut
        // at every kQueryChars from its start (just after a unit the cut would split), the same cuts whatever
        // the offset asked about, so the pieces tile it.
        const qint64 lineStart = store.lineStart(at);
        const auto cut
            = [&](qint64 k) { return std::min(TextUnits::outOfUnit(store, lineStart + k * kQueryChars), size); };
        qint64 k = (at - lineStart) / kQueryChars;
        if (k > 0 && at < cut(k))
            --k;
        const qint64 next = cut(k + 1);
        const qint64 lineEnd = store.lineEnd(at, next);
        *start = std::max(cut(k), first);
        *end = lineEnd < next ? std::min(lineEnd + store.breakLength(lineEnd), size) : next;
        return;
    }
    }
}

QString ReceiveAccessible::answer(qint64 start, qint64 end, int *startOffset, int *endOffset) const
{
    *startOffset = area()->notifier().offsetOf(start);
    *endOffset = area()->notifier().offsetOf(end);
    return area()->textBetween(start, end);
}

QString ReceiveAccessible::textAtOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    qint64 start = 0;
    qint64 end = 0;
    range(offset, boundaryType, &start, &end);
    return answer(start, end, startOffset, endOffset);
}

QString ReceiveAccessible::textBeforeOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    qint64 start = 0;
    qint64 end = 0;
    range(offset, boundaryType, &start, &end);
    if (start <= area()->notifier().base())
        return answer(start, start, startOffset, endOffset);
    range(area()->notifier().offsetOf(start) - 1, boundaryType, &start, &end);
    return answer(start, end, startOffset, endOffset);
}

QString ReceiveAccessible::textAfterOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    qint64 start = 0;
    qint64 end = 0;
    range(offset, boundaryType, &start, &end);
    if (end >= area()->characterCount())
        return answer(end, end, startOffset, endOffset);
    range(area()->notifier().offsetOf(end), boundaryType, &start, &end);
    return answer(start, end, startOffset, endOffset);
}

std::pair<int, int> ReceiveAccessible::visibleOffsets() const
{
    const ReceiveStore &store = *m_store;
    Visible &v = m_visible;
    if (isVisibleKnown())
        return { v.first, v.last };
    const QList<ReceiveLayout::ScreenRow> rows = area()->layout().screenRows();
    v = { true, store.size(), store.origin(), store.editCount(), 0, -1 };
    if (!rows.isEmpty()) {
        const ReceiveLayout::ScreenRow &top = rows.first();
        const ReceiveLayout::ScreenRow &bottom = rows.last();
        const QTextLine last = bottom.layout->lineAt(bottom.row);
        const ReceiveNotifier &n = area()->notifier();
        v.first = n.offsetOf(top.segment.start + top.layout->lineAt(top.row).textStart());
        v.last = n.offsetOf(bottom.segment.start + last.textStart() + last.textLength());
    }
    // Scrolling and painting happen in later turns of the event loop, never inside a query.
    // The interface may be gone by then (interfaces are let go at exit): it is looked up again.
    QMetaObject::invokeMethod(
        area(),
        [area = area()] {
            if (auto *iface = dynamic_cast<ReceiveAccessible *>(QAccessible::queryAccessibleInterface(area)))
                iface->m_visible.valid = false;
        },
        Qt::QueuedConnection);
    return { v.first, v.last };
}

QRect ReceiveAccessible::characterRect(int offset) const
{
    // Qt's bridge answers the extents of a range by asking for every character of it in turn, the whole
    // text's too: one off screen answers before anything else is looked at, with nothing to set up.
    if ((offset < m_visible.first || offset > m_visible.last) && isVisibleKnown())
        return {};
    return rectOnScreen(offset);
}

QRect ReceiveAccessible::rectOnScreen(int offset) const
{
    if (const auto [first, last] = visibleOffsets(); offset < first || offset > last)
        return {};
    const QRect rect = area()->characterRect(area()->notifier().positionOf(offset));
    if (rect.isNull())
        return {};
    return QRect(area()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

int ReceiveAccessible::offsetAtPoint(const QPoint &point) const
{
    return area()->notifier().offsetOf(area()->positionAt(area()->viewport()->mapFromGlobal(point)));
}

void ReceiveAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Q_UNUSED(endIndex);
    setCursorPosition(startIndex);
}

QString ReceiveAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

void ReceiveAccessible::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, {});
}

void ReceiveAccessible::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void ReceiveAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    const ReceiveNotifier &n = area()->notifier();
    area()->replace(n.positionOf(startOffset), n.positionOf(endOffset), text);
}
