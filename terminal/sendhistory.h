// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What was sent from the send area, newest first, walked back and forth with Up and Down as a shell walks
// its command history: a send made again moves to the front, and Down past the newest gives back what was
// being typed before the walk began.
class SendHistory
{
public:
    static constexpr qsizetype kEntries = 100;
    // Entries are whole send areas (up to 1 Mi characters each); past this many characters in all, the oldest
    // go, so the history never holds more than a few MiB. The newest entry always stays.
    static constexpr qsizetype kCharacters = 4 << 20;

    // A send went out; empty sends are not kept. Ends any walk.
    void add(const QString &text);
    // One step back (Up): the next older entry, or nothing at the oldest. `current` is the send area's text,
    // kept as the draft when the walk begins.
    std::optional<QString> older(const QString &current);
    // One step forward (Down): the next newer entry, the draft past the newest, nothing when not walking.
    std::optional<QString> newer();

    const QStringList &entries() const { return m_entries; }

private:
    QStringList m_entries;
    qsizetype m_characters = 0;
    qsizetype m_at = -1; // the entry shown, -1 while not walking
    QString m_draft;
};
