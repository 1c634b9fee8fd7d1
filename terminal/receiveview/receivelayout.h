// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/receivestore.h"
#include "terminal/receiveview/linesegments.h"

#include <QFont>
#include <QList>
#include <QPointF>
#include <QRectF>

#include <memory>
#include <unordered_map>
#include <utility>

class QTextLayout;

// The rows of the receive area's text for a width, and which row is at the top, with no widget.
//
// The text is never mapped to pixels as a whole: the layout keeps the row at its top (a line, a segment of
// it and a row within that) and lays out only the segments asked for (LineSegments), keeping a few
// screenfuls of them.
class ReceiveLayout
{
public:
    using Segment = LineSegments::Segment;
    struct Row
    {
        Segment segment;
        int row = 0;
    };
    struct ScreenRow
    {
        Segment segment;
        QTextLayout *layout;
        int row;
        qreal top;
    };

    explicit ReceiveLayout(const ReceiveStore &store);
    ~ReceiveLayout();
    ReceiveLayout(const ReceiveLayout &) = delete;
    ReceiveLayout &operator=(const ReceiveLayout &) = delete;

    // The view's size, margins included; a change of font or width lays everything out anew.
    void setGeometry(const QFont &font, qreal width, qreal height);
    // Hex runs that came after the line was idle for at least `gapMs` start a row (0: none do); the rows
    // are laid out anew.
    void setIdleBreaks(const LineTimes *times, qint64 gapMs);
    qint64 idleGapMs() const { return m_segments.idleGapMs(); }
    // Text an input method is composing, shown at `at` but not part of the text.
    void setPreedit(const QString &text, qint64 at);

    // The scroll anchor: at the end (following it as data arrives) or at a row of its own.
    bool isFollowing() const { return m_follow; }
    void follow();
    Row topRow() const;
    QList<ScreenRow> screenRows() const;
    void scrollRows(int rows);
    void ensureVisible(qint64 position);
    // The oldest `dropped` characters made way; the top row keeps its text where it can.
    void afterDrop(qint64 dropped);
    // [from, to) was replaced by `inserted` characters, then `dropped` made way.
    void afterEdit(qint64 from, qint64 to, qint64 inserted, qint64 dropped);
    void forget();

    Segment segmentAt(qint64 position) const;
    QTextLayout *layoutOf(const Segment &segment) const;
    Row rowOf(qint64 position) const;
    bool nextRow(Row &row) const;
    bool previousRow(Row &row) const;
    // The displayed row holding `position`, [first, second): the break that ends a line belongs to its
    // last row.
    std::pair<qint64, qint64> rowRange(qint64 position) const;
    // Home and End: the ends of the row, staying before the blank a wrapped row ends with.
    qint64 rowEdge(qint64 position, bool end) const;
    qint64 verticalMove(qint64 position, int rows) const;
    // In view coordinates; an empty rectangle for a character off screen.
    QRectF characterRect(qint64 position) const;
    qint64 positionAt(QPointF point) const;
    int pageRows() const;

    static constexpr qint64 kSegmentChars = LineSegments::kChars;
    // Space between the frame and the text, as in the stock text boxes.
    static constexpr qreal kMargin = 4;

private:
    struct Laid
    {
        qint64 absoluteEnd;
        quint64 edits;
        QString preedit;
        std::unique_ptr<QTextLayout> layout;
    };

    qreal rowHeight(const Row &row) const;
    bool before(const Row &a, const Row &b) const;
    qreal usableHeight() const { return m_height - 2 * kMargin; }
    bool reachesEnd(Row top) const;
    void trim() const;

    const ReceiveStore &m_store;
    QFont m_font;
    qreal m_width = 1;
    qreal m_height = 1;
    LineSegments m_segments;
    QString m_preedit;
    qint64 m_preeditAt = 0;
    mutable std::unordered_map<qint64, Laid> m_layouts;
    bool m_follow = true;
    Row m_top;
};
