// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/receivestore.h"
#include "terminal/receiveview/savedialog.h"

#include <QAccessible>
#include <QBasicTimer>
#include <QObject>

#include <climits>
#include <functional>

// A change told in part: its position and true length, with only part of its text (the newest of an
// insertion, what is still at hand of a removal). A reader that wants the rest asks for it by offsets.
template <typename Base> class CutTextEvent : public Base
{
public:
    CutTextEvent(QObject *object, int position, const QString &text, qint64 length)
        : Base(object, position, text)
        , m_length(length)
    {
    }
    qint64 length() const { return m_length; }

private:
    qint64 m_length;
};
using CutTextInsertEvent = CutTextEvent<QAccessibleTextInsertEvent>;
using CutTextRemoveEvent = CutTextEvent<QAccessibleTextRemoveEvent>;

// What a screen reader is told of the receive area's changes, so that a reader applying the events holds
// the same text as the area: appends (heard of once per timer turn), the oldest making way, edits of any
// size, clears. Positions and lengths are always exact; an event carries at most kEventChars of its text,
// so telling costs the same at any rate. Also the window the reader sees: the newest kWindowChars
// characters. The window's start only moves forward while text
// arrives; after the user deletes text from a full window it starts where it was until appends fill it again, so that
// no deletion has to bring older text back into view.
class ReceiveNotifier : public QObject
{
public:
    ReceiveNotifier(QObject *area, const ReceiveStore &store);

    // Text one event carries at most: 4 Ki characters, some forty lines of text or 1,365 bytes in hex. A
    // reader speaks and brailles the newest lines of an insertion, not megabytes of it; more would only
    // make the bus and the reader fall behind the data.
    static constexpr qint64 kEventChars = 4096;
    // Characters a reader sees at most, the newest: 2 Mi, some 25,000 lines of text, far more than anyone
    // reviews by ear (the older text stays in the area, to be scrolled to, copied or saved). Within it any
    // range a reader asks for is answered whole. The bound is what a reader's questions about the whole
    // text cost the window: Qt's bridge answers the extents of a range by asking for each of its characters
    // in turn (with an int that never ends the loop at INT_MAX), about 10 ns each on a busy machine, and
    // hands the whole text to the bus as UTF-8, about 18 ns a character; at 8 Mi the window stood still for
    // 85 to 155 ms, at 2 Mi both stay under 50 ms.
    static constexpr qint64 kWindowChars = qint64(2) << 20;

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
    // Characters the reader may see at most: kWindowChars, other sizes in tests.
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
    // `text` is the whole change when it has `length` characters, else the part told.
    void tellInserted(qint64 position, qint64 length, const QString &text) const;
    void tellRemoved(qint64 position, qint64 length, const QString &text) const;

    QObject *m_area;
    const ReceiveStore &m_store;
    // What the reader was last told it holds, in absolute positions (position + origin), which stay with
    // their characters while the oldest make way.
    qint64 m_base = 0;
    qint64 m_end = 0;
    qint64 m_limit = kWindowChars;
    qint64 m_editOrigin = 0;
    QString m_removing;
    QBasicTimer m_timer;
};
