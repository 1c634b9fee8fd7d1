// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/receivestore.h"

#include <QFont>
#include <QTextOption>

// How the receive area cuts a line to lay it out: in segments of about kChars from the line's start, so a
// hex dump of a gigabyte with no line break costs no more to show than a short one. Where the rows of a
// hex dump hold the same number of tokens at this width, a segment holds whole rows; elsewhere a segment
// boundary may leave one row short. No segment starts inside a surrogate pair.
class LineSegments
{
public:
    // A piece of one line laid out on its own: [start, end), number k of the line starting at line.
    struct Segment
    {
        qint64 line = 0;
        qint64 k = 0;
        qint64 start = 0;
        qint64 end = 0;
        bool lastOfLine = true;
    };

    explicit LineSegments(const ReceiveStore &store);

    // The width rows are laid out to; segments are cut anew.
    void setWidth(const QFont &font, qreal width);
    static QTextOption textOption();

    Segment at(qint64 position) const;
    Segment segment(qint64 line, qint64 k) const;
    bool next(Segment &segment) const;
    bool previous(Segment &segment) const;

    static constexpr qint64 kChars = 3072;

private:
    qint64 chars() const;
    qint64 boundary(qint64 line, qint64 k) const;

    const ReceiveStore &m_store;
    QFont m_font;
    qreal m_width = 1;
    mutable qint64 m_chars = 0;
};
