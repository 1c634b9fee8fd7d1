// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivecursor.h"

#include "terminal/capture/textunits.h"

ReceiveCursor::ReceiveCursor(const ReceiveStore &store)
    : m_store(store)
{
}

qint64 ReceiveCursor::settle(qint64 position) const
{
    return TextUnits::outOfUnit(m_store, std::clamp<qint64>(position, 0, m_store.size()));
}

void ReceiveCursor::moveTo(qint64 position, bool select)
{
    m_position = settle(position);
    if (!select)
        m_anchor = m_position;
}

void ReceiveCursor::select(qint64 anchor, qint64 position)
{
    m_anchor = settle(anchor);
    m_position = settle(position);
}

qint64 ReceiveCursor::nextCharacter(qint64 position) const
{
    return TextUnits::nextCharacter(m_store, position);
}

qint64 ReceiveCursor::previousCharacter(qint64 position) const
{
    return TextUnits::previousCharacter(m_store, position);
}

qint64 ReceiveCursor::nextWord(qint64 position) const
{
    return TextUnits::nextWordEnd(m_store, position);
}

qint64 ReceiveCursor::previousWord(qint64 position) const
{
    return TextUnits::previousWordStart(m_store, position);
}

std::pair<qint64, qint64> ReceiveCursor::wordAt(qint64 position) const
{
    return TextUnits::wordAt(m_store, settle(position));
}

std::pair<qint64, qint64> ReceiveCursor::lineAt(qint64 position) const
{
    position = settle(position);
    return { m_store.lineStart(position), m_store.lineEnd(position, m_store.size()) };
}

void ReceiveCursor::afterChange(qint64 dropped)
{
    m_position = settle(m_position - dropped);
    m_anchor = settle(m_anchor - dropped);
}
