// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAccessibleWidget>

class ReceiveArea;

// What a screen reader reads and edits in the receive area: the same exact text (CR, CR LF and NUL as
// received), the caret and the selection. Offsets count from the start of the window the notifier keeps
// (the newest INT_MAX characters). Every answer is bounded whatever the area holds: a line is a displayed
// row; a paragraph, a sentence, the text with no boundary and a range asked for by offsets are at most
// kQueryChars characters, taken around the offset asked about.
class ReceiveAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface
{
public:
    explicit ReceiveAccessible(ReceiveArea *area);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    using QAccessibleWidget::text;
    QString textBeforeOffset(
        int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const override;
    QString textAfterOffset(
        int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const override;
    QString textAtOffset(
        int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

    static constexpr qint64 kQueryChars = 1 << 16;

private:
    ReceiveArea *area() const;
    // [start, end) in store positions.
    void range(int offset, QAccessible::TextBoundaryType boundaryType, qint64 *start, qint64 *end) const;
    QString answer(qint64 start, qint64 end, int *startOffset, int *endOffset) const;
};
