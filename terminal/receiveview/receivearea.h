// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/receiveview/receivestore.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QTextOption>

#include <memory>
#include <unordered_map>

class QTextLayout;

// The receive area: multi-line, wrapping at its width, no scroll bars, editable by the user. Received
// data is appended at the end without moving the caret; the view follows the end unless the user has
// scrolled away from it.
//
// The text lives in a ReceiveStore. The view never maps the whole text to pixels: it keeps the row at its
// top (a line, a segment of it and a row within that) and lays out only the lines on screen. A line is
// laid out in segments of about kSegmentChars from its start, so a hex dump of a gigabyte with no line
// break costs no more to show than a short one. A segment holds whole rows of hex; elsewhere a segment
// boundary may leave one row short.
class ReceiveArea : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ReceiveArea(QWidget *parent = nullptr);
    ~ReceiveArea() override;

    QString text() const;
    void setText(const QString &text);
    // Received data, appended exactly; hex is held as bytes and shown as "AB " per byte.
    void appendText(QStringView text);
    void appendHex(QByteArrayView bytes);

    qint64 characterCount() const;
    const ReceiveStore &store() const { return m_store; }
    QString textBetween(qint64 from, qint64 to) const;
    void setMaximumCharacters(qint64 characters);

    // The caret, the selection and edits, as the keyboard, the mouse and a screen reader reach them.
    qint64 cursorPosition() const { return m_caret; }
    qint64 selectionStart() const { return std::min(m_caret, m_anchor); }
    qint64 selectionEnd() const { return std::max(m_caret, m_anchor); }
    void setSelection(qint64 anchor, qint64 caret);
    void replace(qint64 from, qint64 to, QStringView text);
    // In viewport coordinates; an empty rectangle for a character off screen.
    QRect characterRect(qint64 position) const;
    // The position nearest to a point in viewport coordinates.
    qint64 positionAt(QPointF point) const;

    static constexpr qint64 kSegmentChars = 3072;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    // A piece of one line laid out on its own: [start, end), number k of the line starting at line.
    struct Segment
    {
        qint64 line = 0;
        qint64 k = 0;
        qint64 start = 0;
        qint64 end = 0;
        bool lastOfLine = true;
    };
    struct Row
    {
        Segment segment;
        int row = 0;
    };
    struct Laid
    {
        qint64 absoluteEnd;
        quint64 edits;
        QString preedit;
        std::unique_ptr<QTextLayout> layout;
    };
    struct ScreenRow
    {
        Segment segment;
        QTextLayout *layout;
        int row;
        qreal top;
    };

    qint64 segmentChars() const;
    qint64 boundary(qint64 line, qint64 k) const;
    Segment segment(qint64 line, qint64 k) const;
    Segment segmentAt(qint64 position) const;
    bool nextSegment(Segment &segment) const;
    bool previousSegment(Segment &segment) const;
    QTextLayout *layoutOf(const Segment &segment) const;
    bool nextRow(Row &row) const;
    bool previousRow(Row &row) const;
    qreal rowHeight(const Row &row) const;
    Row rowOf(qint64 position) const;
    bool before(const Row &a, const Row &b) const;
    Row topRow() const;
    QList<ScreenRow> screenRows() const;
    qreal usableHeight() const;
    bool reachesEnd(Row top) const;

    void scrollRows(int rows);
    void ensureCaretVisible();
    void moveCaret(qint64 position, bool select);
    qint64 nextCharacter(qint64 position) const;
    qint64 previousCharacter(qint64 position) const;
    qint64 rowEdge(qint64 position, bool end) const;
    qint64 verticalMove(qint64 position, int rows) const;
    void insertAtCaret(QStringView text);
    void adjustForDrop(qint64 dropped);
    void afterAppend(qint64 from, qint64 dropped);
    void selectWord(qint64 position);
    bool copy();
    void cut();
    void paste();
    void restartBlink();
    void notifyAccessibleInsert();
    void forgetLayouts();

    ReceiveStore m_store;
    QTextOption m_option;
    mutable std::unordered_map<qint64, Laid> m_layouts;
    mutable qint64 m_segmentChars = 0;
    bool m_follow = true;
    Row m_top;
    qint64 m_caret = 0;
    qint64 m_anchor = 0;
    QString m_preedit;
    int m_preeditCursor = 0;
    bool m_caretShown = false;
    QBasicTimer m_blink;
    QBasicTimer m_paintTimer;
    int m_wheelDelta = 0;
    // Appended text a screen reader has not yet been told of: it hears of it once per timer turn.
    qint64 m_accessibleFrom = -1;
    QBasicTimer m_accessibleTimer;
};
