// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receiveaccessible.h"

#include "terminal/receiveview/receivearea.h"

#include <QTextBoundaryFinder>

#include <climits>

namespace {

// Words are looked for this far around the offset: a line may be a gigabyte long.
constexpr qint64 kWordWindow = 4096;

int capped(qint64 position)
{
    return int(std::min<qint64>(position, INT_MAX));
}

} // namespace

ReceiveAccessible::ReceiveAccessible(ReceiveArea *area)
    : QAccessibleWidget(area, QAccessible::EditableText)
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
    *startOffset = capped(area()->selectionStart());
    *endOffset = capped(area()->selectionEnd());
}

int ReceiveAccessible::selectionCount() const
{
    return area()->selectionStart() < area()->selectionEnd() ? 1 : 0;
}

void ReceiveAccessible::addSelection(int startOffset, int endOffset)
{
    area()->setSelection(startOffset, endOffset);
}

void ReceiveAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        area()->setSelection(area()->cursorPosition(), area()->cursorPosition());
}

void ReceiveAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        area()->setSelection(startOffset, endOffset);
}

int ReceiveAccessible::cursorPosition() const
{
    return capped(area()->cursorPosition());
}

void ReceiveAccessible::setCursorPosition(int position)
{
    area()->setSelection(position, position);
}

QString ReceiveAccessible::text(int startOffset, int endOffset) const
{
    return area()->textBetween(startOffset, endOffset);
}

int ReceiveAccessible::characterCount() const
{
    return capped(area()->characterCount());
}

void ReceiveAccessible::range(int offset, QAccessible::TextBoundaryType boundaryType, qint64 *start, qint64 *end) const
{
    const ReceiveStore &store = area()->store();
    const qint64 size = store.size();
    const qint64 at = std::clamp<qint64>(offset, 0, size);
    switch (boundaryType) {
    case QAccessible::CharBoundary:
        *start = at > 0 && store.at(at).isLowSurrogate() && store.at(at - 1).isHighSurrogate() ? at - 1 : at;
        *end = std::min(*start + (store.at(*start).isHighSurrogate() ? 2 : 1), size);
        return;
    case QAccessible::WordBoundary: {
        // Words and the runs between them (blanks, punctuation, the line break) follow each other without
        // a gap, as in Qt's own text boxes, so a reader stepping by words reaches every one.
        const qint64 from = std::max(at - kWordWindow, store.lineStart(at));
        const qint64 lineEnd = store.lineEnd(at, at + kWordWindow);
        const QString window = store.text(from, lineEnd + store.breakLength(lineEnd));
        QTextBoundaryFinder finder(QTextBoundaryFinder::Word, window);
        const auto isEdge = [&finder] {
            return finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
        };
        finder.setPosition(int(at - from));
        while (finder.position() > 0 && !(finder.isAtBoundary() && isEdge()))
            finder.toPreviousBoundary();
        *start = from + finder.position();
        qsizetype next = finder.toNextBoundary();
        while (next > 0 && next < window.size() && !isEdge())
            next = finder.toNextBoundary();
        *end = next < 0 ? from + window.size() : from + next;
        return;
    }
    case QAccessible::NoBoundary:
        *start = 0;
        *end = size;
        return;
    default: {
        // Lines, sentences and paragraphs are the received lines, each with its line break.
        *start = store.lineStart(at);
        const qint64 lineEnd = store.lineEnd(at, size);
        *end = lineEnd + store.breakLength(lineEnd);
        return;
    }
    }
}

QString ReceiveAccessible::textAtOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    qint64 start = 0;
    qint64 end = 0;
    range(offset, boundaryType, &start, &end);
    *startOffset = capped(start);
    *endOffset = capped(end);
    return area()->textBetween(start, end);
}

QString ReceiveAccessible::textBeforeOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    qint64 start = 0;
    qint64 end = 0;
    range(offset, boundaryType, &start, &end);
    *startOffset = *endOffset = capped(start);
    if (start == 0)
        return {};
    return textAtOffset(capped(start - 1), boundaryType, startOffset, endOffset);
}

QString ReceiveAccessible::textAfterOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    qint64 start = 0;
    qint64 end = 0;
    range(offset, boundaryType, &start, &end);
    *startOffset = *endOffset = capped(end);
    if (end >= area()->characterCount())
        return {};
    return textAtOffset(capped(end), boundaryType, startOffset, endOffset);
}

QRect ReceiveAccessible::characterRect(int offset) const
{
    const QRect rect = area()->characterRect(offset);
    if (rect.isNull())
        return {};
    return QRect(area()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

int ReceiveAccessible::offsetAtPoint(const QPoint &point) const
{
    return capped(area()->positionAt(area()->viewport()->mapFromGlobal(point)));
}

void ReceiveAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Q_UNUSED(endIndex);
    area()->setSelection(startIndex, startIndex);
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
    area()->replace(startOffset, endOffset, {});
}

void ReceiveAccessible::insertText(int offset, const QString &text)
{
    area()->replace(offset, offset, text);
}

void ReceiveAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    area()->replace(startOffset, endOffset, text);
}
