// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/receiveview/receivestore.h"

#include <QBasicTimer>
#include <QObject>

#include <climits>
#include <functional>

class QAccessibleEvent;

// What a screen reader is told of the receive area's changes, so that a reader applying the events holds
// the same text as the area: appends (heard of once per timer turn, exactly), the oldest making way, edits
// of any size, clears. Also the window the reader sees: the accessibility protocol counts in 32 bits, so
// past INT_MAX characters the reader sees the newest INT_MAX. The window's start only moves forward while
// text arrives; after the user deletes text from a full window it starts where it was until appends fill
// it again, so that no deletion has to bring older text back into view.
class ReceiveNotifier : public QObject
{
public:
    ReceiveNotifier(QObject *area, const ReceiveStore &store);

    // Sees every event besides the platform's bridge, and makes the area build them even where the
    // platform has no accessibility (offscreen): for tests and the bench.
    using Observer = std::function<void(QAccessibleEvent *)>;
    static void setObserver(Observer observer);
    static bool isListening();

    // The store position at accessible offset 0, and the accessible text's length.
    qint64 base() const;
    qint64 length() const;
    int offsetOf(qint64 position) const;
    qint64 positionOf(int offset) const;
    // Characters the reader may see at most: INT_MAX, smaller in tests.
    void setLimit(qint64 characters);

    void appended();
    void flush();
    // Around an edit of the store: [from, to) replaced by `inserted`, after which `dropped` made way.
    void beforeEdit(qint64 from, qint64 to);
    void afterEdit(qint64 from, qint64 to, QStringView inserted);
    void beforeClear();
    void caretMoved(qint64 caret);
    void selectionChanged(qint64 start, qint64 end);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void send(QAccessibleEvent &event) const;

    QObject *m_area;
    const ReceiveStore &m_store;
    // What the reader was last told it holds, in absolute positions (position + origin), which stay with
    // their characters while the oldest make way.
    qint64 m_base = 0;
    qint64 m_end = 0;
    qint64 m_limit = INT_MAX;
    qint64 m_editOrigin = 0;
    QString m_removing;
    QBasicTimer m_timer;
};
