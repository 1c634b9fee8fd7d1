#pragma once

// Shared by the benchmarks: the data they feed (reproducible, so the receiving side can check every
// byte), the unchanged one-paragraph text widget they compare against, and process figures.

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

private:
    std::uint64_t m_state;
};

// Numbered GBK text lines ending in CR LF, as a device logging readings would send them.
QString textLine(qint64 number);

// Text with no line break (half- and full-width characters), `n` characters from `offset` on.
QString unbrokenText(qint64 offset, qsizetype n);

// The receive area as it was: a plain text widget holding everything in as few paragraphs as the data
// has, appending at the end while keeping the caret and following the end.
class OneParagraphArea : public QPlainTextEdit
{
public:
    explicit OneParagraphArea(QWidget *parent = nullptr);
    void appendText(const QString &more);
};

// The value after `--name` on the command line, or `fallback`.
QString commandOption(const QStringList &args, const char *name, const QString &fallback);

// Resident memory of this process in bytes.
qint64 residentBytes();

// Processor time (user and system) of this process in seconds.
double cpuSeconds();

// The `q`-quantile of `values` (sorted in place).
double quantile(QList<double> &values, double q);
