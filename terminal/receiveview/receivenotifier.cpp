// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivenotifier.h"

#include <QAccessible>
#include <QTimerEvent>

#include <sys/mman.h>

namespace {

// A screen reader hears of appended text at most this often: the bridge copies every event it is sent,
// and a flood would otherwise flood the reader too.
constexpr int kAppendNoticeMs = 100;
// Removed text up to this length is told as it was; longer, only its length is exact (as Qt's own text
// boxes do), so that deleting a gigabyte does not first copy it.
constexpr qint64 kExactRemovedChars = 1 << 24;

ReceiveNotifier::Observer &observer()
{
    static ReceiveNotifier::Observer instance;
    return instance;
}

// Stands for text that is no longer held: the length is what a reader applies. NULs read from pages the
// system never fills, so even a clear of two thousand million characters costs no memory.
QString placeholder(qint64 length)
{
    static const QChar *zeros = nullptr;
    static qint64 mapped = 0;
    if (length > mapped) {
        const qint64 want = std::max<qint64>(qint64(1) << 20, qint64(qNextPowerOfTwo(quint64(length))));
        void *pages = mmap(
            nullptr, size_t(want) * sizeof(QChar), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (pages == MAP_FAILED)
            return QString(length, u' ');
        // The old mapping stays: events made from it may still be held.
        zeros = static_cast<const QChar *>(pages);
        mapped = want;
    }
    return QString::fromRawData(zeros, length);
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
        if (const qint64 removed = std::min(base, m_end) - m_base; removed > 0) {
            QAccessibleTextRemoveEvent event(m_area, 0, placeholder(removed));
            send(event);
        }
        if (end > from) {
            QAccessibleTextInsertEvent event(m_area, int(from - base), m_store.text(from - origin, end - origin));
            send(event);
        }
    }
    m_base = base;
    m_end = end;
}

void ReceiveNotifier::beforeEdit(qint64 from, qint64 to)
{
    flush();
    m_editOrigin = m_store.origin();
    const bool exact = isListening() && to - from <= kExactRemovedChars;
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
    if (toAbsolute > seen && tell) {
        const QString text
            = m_removing.size() == removed ? m_removing.sliced(seen - fromAbsolute) : placeholder(toAbsolute - seen);
        QAccessibleTextRemoveEvent event(m_area, int(seen - m_base), text);
        send(event);
    }
    if (fromAbsolute < m_base)
        m_base = toAbsolute >= m_base ? fromAbsolute : m_base - removed;
    m_end -= removed;
    m_removing.clear();
    if (fromAbsolute >= m_base && !inserted.isEmpty() && tell) {
        QAccessibleTextInsertEvent event(m_area, int(fromAbsolute - m_base), inserted.toString());
        send(event);
    }
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
        QAccessibleTextRemoveEvent event(
            m_area, 0, held <= kExactRemovedChars ? m_store.text(base(), m_store.size()) : placeholder(held));
        send(event);
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
