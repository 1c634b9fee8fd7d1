// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/receivestore.h"

class LineTimes;

#include <QFont>
#include <QTextOption>

// How the receive area cuts a line to lay it out: in segments of about kChars from the line's start, so a
// hex dump of a gigabyte with no line break costs no more to show than a short one. Where the rows of a
// hex dump hold the same number of tokens at this width, a segment holds whole rows; elsewhere a segment
// boundary may leave one row short. No segment starts inside a surrogate pair.
//
// With an idle gap chosen, a hex run that came after the line was idle that long starts a segment, and so
// a row, of its own: segments are counted from the last such run start (or the line start), so a line
// with none costs what it did.
class LineSegments
{
public:
    // A piece of one line laid out on its own: [start, end), number k of those counted from `line` (the
    // line's start, or the run start after an idle gap).
    struct Segment
    {
        qint64 line = 0;
        qint64 k = 0;
        qint64 start = 0;
        qint64 end = 0;
        bool lastOfLine = true;
        bool idleEnd = false; // the next one starts at `end`, where a run came after an idle gap
    };

    explicit LineSegments(const ReceiveStore &store);

    // The width rows are laid out to; segments are cut anew.
    void setWidth(const QFont &font, qreal width);
    static QTextOption textOption();
    // Hex runs that came after the line was idle for at least `gapMs` start a row; 0: none do.
    void setIdleBreaks(const LineTimes *times, qint64 gapMs);
    qint64 idleGapMs() const { return m_times ? m_gapMs : 0; }

    Segment at(qint64 position) const;
    Segment segment(qint64 line, qint64 k) const;
    bool next(Segment &segment) const;
    bool previous(Segment &segment) const;

    static constexpr qint64 kChars = 3072;

private:
    qint64 chars() const;
    qint64 boundary(qint64 line, qint64 k) const;
    std::optional<qint64> idleStart(qint64 from, qint64 to, bool last) const;

    const ReceiveStore &m_store;
    QFont m_font;
    qreal m_width = 1;
    mutable qint64 m_chars = 0;
    const LineTimes *m_times = nullptr;
    qint64 m_gapMs = 0;
};
