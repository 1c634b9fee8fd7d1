// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/arrivalmap.h"
#include "terminal/capture/arrivaltimes.h"
#include "terminal/receiveview/stampformat.h"

#include <QByteArrayView>
#include <QStringView>

// When each line of the receive area began to arrive, fed from the area's append path, its edits and its
// clear, with no widget; positions are the store's absolute positions (ReceiveStore::origin() included).
//
// In character display a line begins after a CR, a LF or a CR LF (a CR LF split across two reads is one
// break). Hex display has no line breaks, so there a run of bytes begins after a byte 0x0A or when data
// comes after the line was idle for kRunGapMs. Each switch of display begins one too. A line that ends
// with a read begins with the next read, at that read's time. A hex run that begins a read keeps how long
// nothing arrived before it when that was kRunGapMs or more, so that the display may start it on a row of
// its own; a shorter pause is not kept.
class LineTimes
{
public:
    static constexpr qint64 kRunGapMs = 20;

    LineTimes() = default;
    explicit LineTimes(const ArrivalTimes::Options &options);

    void setFile(std::shared_ptr<ScratchFile> file) { m_times.setFile(std::move(file)); }
    const std::shared_ptr<ScratchFile> &file() const { return m_times.file(); }
    // Data about to be appended at `absolute` (the store's origin() + size()), received at `ms`.
    void text(QStringView text, qint64 absolute, qint64 ms);
    void hex(QByteArrayView bytes, qint64 absolute, qint64 ms);
    // The user replaced [from, to) by `inserted` characters.
    void edited(qint64 from, qint64 to, qint64 inserted) { m_map.edited(from, to, inserted); }
    // The text before `origin` made way.
    void dropBefore(qint64 origin);
    void clear();

    // The first line (or run) that began to arrive in the text [from, to), `at` its place in the text.
    std::optional<ArrivalTimes::Stamp> firstIn(qint64 from, qint64 to) const;
    // Where the first (or last) hex run in the text [from, to) begins that came after the line was idle
    // for at least `gapMs`.
    std::optional<qint64> idleStartIn(qint64 from, qint64 to, qint64 gapMs, bool last) const;
    // The text [absolute, absolute + text.size()) with each line (or run) that began to arrive in it
    // prefixed by its time and a blank; one that began inside a line (a hex run) goes on a line of its
    // own. `last` is the character written before, and becomes the last one written.
    QString stamped(QStringView text, qint64 absolute, StampFormat format, QChar &last) const;
    const ArrivalTimes &times() const { return m_times; }
    ArrivalTimes &times() { return m_times; }

private:
    enum class Display { None, Text, Hex };

    ArrivalTimes m_times;
    ArrivalMap m_map;
    qint64 m_arrived = 0; // characters appended since the clear
    Display m_last = Display::None;
    bool m_startPending = true; // what arrives next begins a line
    bool m_afterCr = false; // the text ended with a CR: a LF next belongs to its break
    qint64 m_lastMs = 0;
};
