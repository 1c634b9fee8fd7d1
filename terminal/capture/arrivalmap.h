// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVarLengthArray>
#include <QtGlobal>

#include <vector>

// Where the receive area's text stands in the stream that arrived. The user's edits move received text
// and remove it, so a position in the text (absolute: counted from the last clear, the characters that
// made way included) is translated to its arrival position before its time is looked up; text the user
// typed or pasted has none. Kept as the few places where the translation changes, cleared by a clear.
class ArrivalMap
{
public:
    struct Range
    {
        qint64 from;
        qint64 to;
        qint64 absolute; // where `from` stands in the text
    };

    ArrivalMap();
    void clear();
    // What arrives next lands at `absolute` and is `arrival` in the stream.
    void appending(qint64 absolute, qint64 arrival);
    // [from, to) was replaced by `inserted` characters of the user's.
    void edited(qint64 from, qint64 to, qint64 inserted);
    // The text before `absolute` made way.
    void dropBefore(qint64 absolute);
    // The arrival position of the first received character at or after `absolute`, or -1.
    qint64 firstArrivalFrom(qint64 absolute) const;
    // The arrival ranges of the text [from, to), in order, the user's own text left out.
    QVarLengthArray<Range, 4> arrivalRanges(qint64 from, qint64 to) const;

private:
    // From `at` up to the next piece, arrival = absolute - shift, unless the user put the text there.
    struct Piece
    {
        qint64 at;
        qint64 shift;
        bool inserted;
    };
    std::vector<Piece>::const_iterator holding(qint64 absolute) const;

    std::vector<Piece> m_pieces;
};
