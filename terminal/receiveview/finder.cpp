// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/finder.h"

#include "terminal/hexformat.h"
#include "terminal/receiveview/receivestore.h"

#include <QTimerEvent>

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

} // namespace

Finder::Finder(const ReceiveStore &store, QObject *parent, qint64 sliceChars)
    : QObject(parent)
    , m_store(store)
    , m_slice(std::max<qint64>(sliceChars, 1))
{
}

bool Finder::start(const QString &needle, bool hex, Qt::CaseSensitivity cs, qint64 from, bool forward)
{
    cancel();
    if (hex) {
        const auto bytes = parseHexBytes(needle);
        if (!bytes)
            return false;
        m_needle = renderHex(*bytes);
    } else {
        m_needle = needle;
    }
    if (m_needle.isEmpty())
        return false;
    m_hex = hex;
    m_cs = hex ? Qt::CaseSensitive : cs;
    m_forward = forward;
    m_next = std::clamp<qint64>(from, 0, m_store.size()) + m_store.origin();
    m_begin = m_next;
    m_timer.start(0, this);
    return true;
}

void Finder::cancel()
{
    m_timer.stop();
}

// A hex needle matches whole tokens only: "0D 0A " must not match inside "A0 D0 A0 ".
bool Finder::acceptable(qint64 position) const
{
    return !m_hex || position == 0 || !isHexDigit(m_store.at(position - 1));
}

void Finder::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QObject::timerEvent(event);
    const qint64 origin = m_store.origin();
    const qint64 end = origin + m_store.size();
    const qint64 overlap = m_needle.size() - 1;
    if (m_forward) {
        m_next = std::max(m_next, origin);
        const qint64 to = std::min(end, m_next + m_slice + overlap);
        const QString text = m_store.text(m_next - origin, to - origin);
        for (qsizetype at = text.indexOf(m_needle, 0, m_cs); at >= 0; at = text.indexOf(m_needle, at + 1, m_cs)) {
            if (acceptable(m_next - origin + at)) {
                m_timer.stop();
                return emit found(m_next - origin + at, m_next - origin + at + m_needle.size());
            }
        }
        m_next = std::min(end, m_next + m_slice);
        emit progressed(m_next - m_begin, end - m_begin);
        if (to >= end) {
            m_timer.stop();
            emit notFound();
        }
    } else {
        m_next = std::min(m_next, end);
        if (m_next <= origin) {
            m_timer.stop();
            return emit notFound();
        }
        const qint64 from = std::max(origin, m_next - m_slice);
        const qint64 to = std::min(end, m_next + overlap);
        const QString text = m_store.text(from - origin, to - origin);
        // A match must start before m_next; one that ends past it is allowed, the overlap is there for it.
        for (qsizetype at = text.lastIndexOf(m_needle, m_next - from - 1, m_cs); at >= 0;
             at = at > 0 ? text.lastIndexOf(m_needle, at - 1, m_cs) : -1) {
            if (acceptable(from - origin + at)) {
                m_timer.stop();
                return emit found(from - origin + at, from - origin + at + m_needle.size());
            }
        }
        m_next = from;
        emit progressed(m_begin - m_next, m_begin - origin);
        if (from <= origin) {
            m_timer.stop();
            emit notFound();
        }
    }
}
