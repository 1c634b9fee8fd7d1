// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/sendhistory.h"

void SendHistory::add(const QString &text)
{
    m_at = -1;
    m_draft.clear();
    if (text.isEmpty())
        return;
    if (const qsizetype old = m_entries.indexOf(text); old >= 0) {
        m_entries.move(old, 0);
        return;
    }
    m_entries.prepend(text);
    m_characters += text.size();
    while (m_entries.size() > 1 && (m_entries.size() > kEntries || m_characters > kCharacters)) {
        m_characters -= m_entries.constLast().size();
        m_entries.removeLast();
    }
}

std::optional<QString> SendHistory::older(const QString &current)
{
    if (m_at + 1 >= m_entries.size())
        return std::nullopt;
    if (m_at < 0)
        m_draft = current;
    return m_entries.at(++m_at);
}

std::optional<QString> SendHistory::newer()
{
    if (m_at < 0)
        return std::nullopt;
    --m_at;
    if (m_at >= 0)
        return m_entries.at(m_at);
    QString draft;
    draft.swap(m_draft);
    return draft;
}
