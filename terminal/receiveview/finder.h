// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QBasicTimer>
#include <QObject>
#include <QString>

class ReceiveStore;

// Searches the whole capture, the part in the scratch file included, a slice per turn of the event loop, so
// the window goes on receiving meanwhile. Slices overlap by the length of what is sought, so a match that
// straddles two slices (or two chunks of the store) is found. Positions are kept counted from the last
// clear, so data dropped at the front meanwhile moves nothing; a search that reaches dropped data goes on
// from the oldest data still held.
class Finder : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kSliceChars = qint64(4) << 20;

    explicit Finder(const ReceiveStore &store, QObject *parent = nullptr, qint64 sliceChars = kSliceChars);

    // `needle` is text, or in hex (`hex`) bytes written as hex numbers ("0D 0A") that match whole "0D 0A "
    // tokens. Searches forward from `from` to the end, or backward from `from` to the start. False when a
    // hex needle is not bytes written as hex.
    bool start(const QString &needle, bool hex, Qt::CaseSensitivity cs, qint64 from, bool forward);
    void cancel();
    bool running() const { return m_timer.isActive(); }

signals:
    // Store positions [from, to).
    void found(qint64 from, qint64 to);
    void notFound();
    void progressed(qint64 done, qint64 total);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    bool acceptable(qint64 position) const;

    const ReceiveStore &m_store;
    const qint64 m_slice;
    QString m_needle;
    bool m_hex = false;
    Qt::CaseSensitivity m_cs = Qt::CaseSensitive;
    bool m_forward = true;
    qint64 m_next = 0; // absolute: forward, where the next slice starts; backward, where it ends
    qint64 m_begin = 0; // absolute, where the search started
    QBasicTimer m_timer;
};
