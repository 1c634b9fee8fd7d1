// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared by the benchmarks: the data they feed (reproducible, so the receiving side can check every
// byte), the stock text widget they compare against, and process figures.

#include <QByteArray>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <cstdint>

// Random bytes, the same sequence for the same seed.
class ByteStream
{
public:
    explicit ByteStream(std::uint64_t seed = 0x9e3779b97f4a7c15ULL)
        : m_state(seed)
    {
    }
    QByteArray take(qsizetype n);
    void skip(qint64 n);

private:
    std::uint64_t nextWord();

    std::uint64_t m_state;
    // Bytes of the last word not handed out yet, lowest first.
    std::uint64_t m_word = 0;
    int m_left = 0;
};

// Numbered text lines as a device logging readings sends them: kChars characters each, the last an LF,
// some of them Chinese (two bytes in GBK). Every line has the same length in characters and in bytes,
// so a position in the stream tells the line and the column.
class TextLines
{
public:
    static constexpr int kChars = 80;
    static QString line(qint64 number);
    // `count` lines from `first` on, GBK-encoded, without going through QString (the writer needs speed).
    static QByteArray gbk(qint64 first, qint64 count);
    static int gbkBytes();
    // The GBK size of the first `chars` characters of the stream.
    static qint64 gbkBytesOf(qint64 chars);
    // Whether `shown` is exactly the stream's characters [end - shown.size(), end).
    static bool isStreamTail(QStringView shown, qint64 end);
};

// Whether `shown` is exactly the hex form of the ByteStream() bytes [end - shown.size() / 3, end).
bool isHexStreamTail(QStringView shown, qint64 end);

// Text with no line break (half- and full-width characters), `n` characters from `offset` on.
QString unbrokenText(qint64 offset, qsizetype n);

// GBK size of text whose characters are all in the basic plane.
qint64 gbkSize(QStringView text);

// The stock plain-text widget, fed the way most Qt terminals feed it: on every receive event the caret
// goes to the end and the new data is inserted there.
class StockArea : public QPlainTextEdit
{
public:
    explicit StockArea(QWidget *parent = nullptr);
    void appendChunk(const QString &chunk);
};

// Makes the widgets build accessibility events as they do under a screen reader. Accessibility is only
// active where the platform has a bridge that a reader switched on (bench/accessible.sh runs a program
// so: X11 on a virtual display, the accessibility bus, and Qt told to stay on); this waits up to a few
// seconds for it and says whether it came. A handler then takes every event in place of the bridge and
// counts them and the characters they carry, so no bridge adds its own cost (a bridge with a reader
// listening copies each event's text into a message).
bool activateAccessibility();
struct AccessibleCounts
{
    qint64 events = 0;
    qint64 characters = 0;
};
AccessibleCounts accessibleCounts();

// Tells floodwriter, through the pty slave, to start ("G") or to stop ("Q").
void tellWriter(const QString &slave, char signal);

// The value after `--name` on the command line, or `fallback`.
QString commandOption(const QStringList &args, const char *name, const QString &fallback);

// Resident memory of this process in bytes, now and at its peak.
qint64 residentBytes();
qint64 peakResidentBytes();

// Processor time (user and system) of this process in seconds.
double cpuSeconds();

// The `q`-quantile of `values` (sorted in place).
double quantile(QList<double> &values, double q);
