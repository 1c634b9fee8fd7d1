// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/receivestore.h"

#include <utility>

// The caret and the selection over the receive store, with no widget: where a character, a word and a
// line end are, and the rule that the caret never rests inside a CR LF or a surrogate pair (it steps past,
// also when the second half arrives after the caret was placed).
class ReceiveCursor
{
public:
    explicit ReceiveCursor(const ReceiveStore &store);

    qint64 position() const { return m_position; }
    qint64 anchor() const { return m_anchor; }
    qint64 selectionStart() const { return std::min(m_position, m_anchor); }
    qint64 selectionEnd() const { return std::max(m_position, m_anchor); }
    bool hasSelection() const { return m_position != m_anchor; }

    // Moves the caret; the anchor stays with `select`, else comes along.
    void moveTo(qint64 position, bool select);
    void select(qint64 anchor, qint64 position);

    qint64 nextCharacter(qint64 position) const;
    qint64 previousCharacter(qint64 position) const;
    qint64 nextWord(qint64 position) const;
    qint64 previousWord(qint64 position) const;
    // What a double click at `position` selects: the word, or the one character there.
    std::pair<qint64, qint64> wordAt(qint64 position) const;
    // What a triple click at `position` selects: the whole line there, over all the rows it wraps to,
    // without its line break.
    std::pair<qint64, qint64> lineAt(qint64 position) const;

    // After the store changed: `dropped` oldest characters made way, then the caret and the anchor step
    // out of any unit the change completed (a CR before which an LF arrived).
    void afterChange(qint64 dropped);

private:
    qint64 settle(qint64 position) const;

    const ReceiveStore &m_store;
    qint64 m_position = 0;
    qint64 m_anchor = 0;
};
