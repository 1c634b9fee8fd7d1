// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/receivestore.h"
#include "terminal/receiveview/savedialog.h"

#include <QAccessibleWidget>

#include <utility>

class ReceiveArea;

// What a screen reader reads and edits in the receive area: the same exact text (CR, CR LF and NUL as
// received), the caret and the selection. Offsets count from the start of the window the notifier keeps
// (the newest ReceiveNotifier::kWindowChars characters). Every answer is bounded whatever the area holds: a
// line is a displayed row; a paragraph or a sentence is a received line, a long one in pieces of
// kQueryChars from its start (so that consecutive ones follow each other without overlap); the text with
// no boundary is kQueryChars around the offset asked about; a range asked for by offsets is exact up to
// kTextChars, and ends there.
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
    // What may be copied: a reader gets what a user may put on the clipboard.
    static constexpr qint64 kTextChars = kCopyLimitChars;

private:
    ReceiveArea *area() const;
    // [start, end) in store positions.
    void range(int offset, QAccessible::TextBoundaryType boundaryType, qint64 *start, qint64 *end) const;
    QString answer(qint64 start, qint64 end, int *startOffset, int *endOffset) const;
    // characterRect past its first look, kept out of line so that the look costs no more than it needs.
    Q_NEVER_INLINE QRect rectOnScreen(int offset) const;
    // The offsets on screen, [first, last]; kept until the event loop turns or the text changes.
    std::pair<int, int> visibleOffsets() const;
    bool isVisibleKnown() const
    {
        return m_visible.valid && m_visible.size == m_store->size() && m_visible.origin == m_store->origin()
            && m_visible.edits == m_store->editCount();
    }

    struct Visible
    {
        bool valid = false;
        qint64 size = -1;
        qint64 origin = -1;
        quint64 edits = 0;
        int first = 0;
        int last = -1;
    };
    const ReceiveStore *m_store;
    mutable Visible m_visible;
};
