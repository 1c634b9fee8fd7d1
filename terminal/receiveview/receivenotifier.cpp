// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivenotifier.h"

#include "terminal/capture/textunits.h"
#include "terminal/receiveview/accessiblebus.h"

#include <QTimerEvent>

namespace {

// A screen reader hears of appended text at most this often: each event costs a message on the bus and a
// turn of the reader, however little text it carries.
constexpr int kAppendNoticeMs = 100;

ReceiveNotifier::Observer &observer()
{
    static ReceiveNotifier::Observer instance;
    return instance;
}

} // namespace

ReceiveNotifier::ReceiveNotifier(QObject *area, const ReceiveStore &store)
    : m_area(area)
    , m_store(store)
{
}

void ReceiveNotifier::setObserver(Observer observer)
{
    ::observer() = std::move(observer);
}

bool ReceiveNotifier::isListening()
{
    return QAccessible::isActive() || bool(observer());
}

void ReceiveNotifier::send(QAccessibleEvent &event) const
{
    if (QAccessible::isActive())
        QAccessible::updateAccessibility(&event);
    if (observer())
        observer()(&event);
}

void ReceiveNotifier::tellInserted(qint64 position, qint64 length, const QString &text) const
{
    if (text.size() == length) {
        QAccessibleTextInsertEvent event(m_area, int(position), text);
        return send(event);
    }
    CutTextInsertEvent event(m_area, int(position), text, length);
    // Qt's bridge would tell the length of the part; where it cannot be told the true one, the part alone
    // still keeps the reader off megabytes.
    if (QAccessible::isActive() && !AccessibleBus::sendTextChanged(m_area, true, int(position), int(length), text))
        QAccessible::updateAccessibility(&event);
    if (observer())
        observer()(&event);
}

void ReceiveNotifier::tellRemoved(qint64 position, qint64 length, const QString &text) const
{
    if (text.size() == length) {
        QAccessibleTextRemoveEvent event(m_area, int(position), text);
        return send(event);
    }
    CutTextRemoveEvent event(m_area, int(position), text, length);
    if (QAccessible::isActive() && !AccessibleBus::sendTextChanged(m_area, false, int(position), int(length), text)
        && !text.isEmpty())
        QAccessible::updateAccessibility(&event);
    if (observer())
        observer()(&event);
}

qint64 ReceiveNotifier::base() const
{
    const qint64 end = m_store.size() + m_store.origin();
    return std::max({ m_base, m_store.origin(), end - m_limit }) - m_store.origin();
}

qint64 ReceiveNotifier::length() const
{
    return m_store.size() - base();
}

int ReceiveNotifier::offsetOf(qint64 position) const
{
    return int(std::clamp<qint64>(position - base(), 0, m_limit));
}

qint64 ReceiveNotifier::positionOf(int offset) const
{
    return std::clamp<qint64>(base() + offset, base(), m_store.size());
}

void ReceiveNotifier::setLimit(qint64 characters)
{
    flush();
    m_limit = std::clamp<qint64>(characters, 1, INT_MAX);
    flush();
}

void ReceiveNotifier::appended()
{
    if (!isListening())
        return flush();
    if (!m_timer.isActive())
        m_timer.start(kAppendNoticeMs, this);
}

void ReceiveNotifier::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer.timerId())
        flush();
    else
        QObject::timerEvent(event);
}

void ReceiveNotifier::flush()
{
    m_timer.stop();
    // Since the reader was last told, text only arrived at the end and made way at the start.
    const qint64 origin = m_store.origin();
    const qint64 end = m_store.size() + origin;
    const qint64 base = std::max({ m_base, origin, end - m_limit });
    const qint64 from = std::max(m_end, base);
    if (isListening()) {
        // What left the window at its start is no longer at hand: only its length is told.
        if (const qint64 removed = std::min(base, m_end) - m_base; removed > 0)
            tellRemoved(0, removed, {});
        // The newest of the batch only, read straight from the store: never a copy of the whole.
        if (end > from) {
            const qint64 tail
                = end - from > kEventChars ? TextUnits::outOfUnit(m_store, end - kEventChars - origin) + origin : from;
            tellInserted(from - base, end - from, m_store.text(tail - origin, end - origin));
        }
    }
    m_base = base;
    m_end = end;
}

void ReceiveNotifier::beforeEdit(qint64 from, qint64 to)
{
    flush();
    m_editOrigin = m_store.origin();
    // The removed text is told whole when short; a longer removal is told by its length.
    const bool exact = isListening() && to - from <= kEventChars;
    m_removing = exact ? m_store.text(from, to) : QString();
}

void ReceiveNotifier::afterEdit(qint64 from, qint64 to, QStringView inserted)
{
    const qint64 fromAbsolute = from + m_editOrigin;
    const qint64 toAbsolute = to + m_editOrigin;
    const qint64 removed = toAbsolute - fromAbsolute;
    const bool tell = isListening();
    // The removal, as far as the reader sees it; text before the window shifts the window with it.
    const qint64 seen = std::max(fromAbsolute, m_base);
    if (toAbsolute > seen && tell)
        tellRemoved(seen - m_base, toAbsolute - seen,
            m_removing.size() == removed ? m_removing.sliced(seen - fromAbsolute) : QString());
    if (fromAbsolute < m_base)
        m_base = toAbsolute >= m_base ? fromAbsolute : m_base - removed;
    m_end -= removed;
    m_removing.clear();
    if (fromAbsolute >= m_base && !inserted.isEmpty() && tell)
        tellInserted(
            fromAbsolute - m_base, inserted.size(), inserted.last(std::min(inserted.size(), kEventChars)).toString());
    if (fromAbsolute < m_base)
        m_base += inserted.size();
    m_end += inserted.size();
    // What made way at the start, and the window's limit.
    flush();
}

void ReceiveNotifier::beforeClear()
{
    flush();
    if (isListening() && m_end > m_base) {
        const qint64 held = m_end - m_base;
        tellRemoved(0, held, held <= kEventChars ? m_store.text(base(), m_store.size()) : QString());
    }
    m_base = m_end = 0;
}

void ReceiveNotifier::caretMoved(qint64 caret)
{
    if (!isListening())
        return;
    QAccessibleTextCursorEvent event(m_area, offsetOf(caret));
    send(event);
}

void ReceiveNotifier::selectionChanged(qint64 start, qint64 end)
{
    if (!isListening())
        return;
    QAccessibleTextSelectionEvent event(m_area, offsetOf(start), offsetOf(end));
    send(event);
}
