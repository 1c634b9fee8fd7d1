// SPDX-License-Identifier: GPL-3.0-or-later
// The piece table alone, over chunks of four characters or eight bytes, so every piece and chunk edge is
// within reach of a few characters. A full chunk is written out as the scratch file has it: its memory let
// go, read back from a copy, and line look-ups answered from its first and last break where they tell. A
// plain string is the model the table must always equal.

#include "terminal/capture/blocks.h"
#include "terminal/capture/piecetable.h"
#include "terminal/capture/textunits.h"
#include "tests/support/rows.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <map>

namespace {

// A piece table over chunks filled as the receive store fills them (the tail chunk of each kind while it has
// room), and the blocks under it, which write each full chunk out.
struct Table : MemoryBlocks
{
    using MemoryBlocks::MemoryBlocks;
    void append(const std::shared_ptr<Chunk> &chunk) override
    {
        chunk->firstBreak = chunk->breaks.empty() ? -1 : qint32(chunk->breaks.front());
        chunk->lastBreak = chunk->breaks.empty() ? -1 : qint32(chunk->breaks.back());
        written[chunk->id] = { chunk->memoryHold(), chunk->breaks }; // its memory kept aside
        chunk->releaseMemory();
    }
    ChunkView read(const Chunk &chunk) const override
    {
        const auto out = written.find(chunk.id);
        return chunk.resident() ? MemoryBlocks::read(chunk)
                                : ChunkView { out->second.first.get(), &out->second.second, {} };
    }
    // Text (as UTF-16) or received bytes, in pieces starting at the absolute `start`.
    std::vector<PieceTable::Piece> write(bool hex, QByteArrayView data, qint64 start)
    {
        std::vector<PieceTable::Piece> pieces;
        std::shared_ptr<Chunk> &tail = hex ? hexTail : textTail;
        const qsizetype unit = hex ? 1 : 2;
        for (qint32 n = 0; !data.isEmpty(); data = data.sliced(n * unit)) {
            if (!tail || tail->full())
                tail = std::make_shared<Chunk>(nextId++, hex, hex ? 8 : 4, pool);
            n = qint32(std::min<qsizetype>(data.size() / unit, tail->capacity - tail->used));
            if (!hex)
                Chunk::addBreaks(reinterpret_cast<const char16_t *>(data.data()), n, quint32(tail->used), tail->breaks);
            std::memcpy(static_cast<char *>(tail->memory) + tail->used * unit, data.data(), size_t(n * unit));
            pieces.push_back({ tail, start, tail->size(), hex ? n * TextUnits::kHexTokenChars : n });
            start += pieces.back().length;
            tail->used += n;
            if (tail->full())
                append(tail);
        }
        return pieces;
    }
    static QByteArrayView raw(const QString &s) { return { reinterpret_cast<const char *>(s.utf16()), 2 * s.size() }; }
    void appendText(const QString &text) { table.append(write(false, raw(text), table.end())); }
    void appendHex(const QByteArray &bytes) { table.append(write(true, bytes, table.end())); }
    void insert(qint64 at, const QString &text) { table.insert(at, write(false, raw(text), at + table.origin())); }

    std::map<quint64, std::pair<std::shared_ptr<const void>, std::vector<quint32>>> written;
    std::shared_ptr<ChunkPool> pool = std::make_shared<ChunkPool>(8);
    std::shared_ptr<Chunk> textTail, hexTail;
    quint64 nextId = 1;
    PieceTable table { *this };
};

} // namespace

class TestPieceTable : public QObject
{
    Q_OBJECT

private slots:
    void matchesAPlainString();
    void dropsWholeUnits_data();
    void dropsWholeUnits();
};

// Appends of text and hex, inserts and removals anywhere (a hex token split anywhere), the oldest dropped,
// clears, and reads of every kind, against a plain string.
void TestPieceTable::matchesAPlainString()
{
    const QStringList letters { "a", "b", " ", "温", "度", "\r", "\n", "\r\n", QString(1, QChar(0)), "\t",
        "\U0001F600" };
    for (quint32 seed : { 1u, 2u, 3u }) {
        QRandomGenerator random(seed);
        const auto randomText = [&](int most) {
            QString text;
            for (int n = random.bounded(1, most); n > 0; --n)
                text += letters[random.bounded(int(letters.size()))];
            return text;
        };
        Table t { ScratchFile::Why {} };
        QString model;
        QString kinds; // per character: 'T' text, or the place in a hex token: '0', '1', '2'
        for (int step = 0; step < 3000; ++step) {
            const qsizetype at = random.bounded(int(model.size()) + 1);
            const int what = random.bounded(10);
            if (what < 3) {
                const QString text = randomText(40);
                t.appendText(text);
                model += text;
                kinds += QString(text.size(), u'T');
            } else if (what < 5) {
                const QByteArray bytes = randomText(30).toUtf8();
                t.appendHex(bytes);
                model += QString::fromLatin1(bytes.toHex(' ').toUpper()) + u' '; // as the table shows them
                kinds += QStringLiteral("012").repeated(bytes.size());
            } else if (what < 7) {
                const QString text = randomText(10);
                t.insert(at, text);
                model.insert(at, text);
                kinds.insert(at, QString(text.size(), u'T'));
            } else if (what < 9) {
                const qsizetype to = std::min(model.size(), at + random.bounded(20));
                t.table.remove(at, to);
                model.remove(at, to - at);
                kinds.remove(at, to - at);
            } else if (random.bounded(20) == 0) {
                t.table.clear();
                model.clear();
                kinds.clear();
            } else {
                // At least what was asked, in whole units: no hex token, CR LF or surrogate pair cut in two, and a
                // CR at the very end kept for its LF.
                const qint64 dropped = t.table.dropFront(at);
                QVERIFY(dropped >= std::min<qint64>(at, model.size() - (model.endsWith(u'\r') ? 1 : 0)));
                QVERIFY(dropped < model.size()
                        ? (kinds[dropped] == u'T' || kinds[dropped] == u'0' || TextUnits::isLineStartAt(model, dropped))
                            && !TextUnits::isInsideUnitAt(model, dropped)
                        : dropped == model.size() && !model.endsWith(u'\r'));
                model.remove(0, dropped);
                kinds.remove(0, dropped);
            }
            const qsizetype a = random.bounded(int(model.size()) + 1);
            const qsizetype b = std::min(model.size(), a + random.bounded(50));
            QCOMPARE(t.table.text(a, b), model.mid(a, b - a));
            QCOMPARE(t.table.at(a), a < model.size() ? model[a] : QChar());
            qsizetype start = a;
            while (!TextUnits::isLineStartAt(model, start))
                --start;
            QCOMPARE(t.table.lineStart(a), start);
            qsizetype end = a;
            while (end < b && !TextUnits::isLineBreak(model[end]))
                ++end;
            QCOMPARE(t.table.lineEnd(a, b), end);
        }
        QCOMPARE(t.table.text(0, t.table.size()), model);
    }
}

void TestPieceTable::dropsWholeUnits_data()
{
    // What is appended ("hex:" and the bytes, or text), the most kept after each append, and what is kept.
    addColumns<QStringList, int, QString>("appends", "keep", "kept");
    // Hex 0A FF 41: a cut anywhere in a token moves to the next token.
    for (const auto &[keep, kept] :
        { std::pair { 8, "FF 41 " }, { 7, "FF 41 " }, { 6, "FF 41 " }, { 5, "41 " }, { 3, "41 " }, { 2, "" } })
        QTest::addRow("hex, %d of 9 kept", keep) << QStringList { "hex:0AFF41" } << keep << QString::fromLatin1(kept);
    // Text ab CR LF cd: whole lines go where a line starts near, never between CR and LF.
    for (const auto &[keep, kept] : { std::pair { 5, "cd" }, { 4, "cd" }, { 3, "cd" }, { 2, "cd" }, { 1, "d" } })
        QTest::addRow("CR LF, %d kept", keep) << QStringList { "ab\r\ncd" } << keep << QString::fromLatin1(kept);
    // The CR arrived, its LF not yet: the CR stays, so the pair is whole once the LF comes.
    addRow("CR LF split across appends goes whole", QStringList { "xy\r", "\n" }, 2, QString());
    addRow("CR at the end, all else goes", QStringList { "xyz\r" }, 1, QStringLiteral("\r"));
    // No line start near: cut exactly, but never inside a surrogate pair.
    const QString smiles = QStringLiteral("\U0001F600").repeated(40000);
    addRow("surrogate pairs", QStringList { smiles }, 79999, smiles.sliced(2));
}

void TestPieceTable::dropsWholeUnits()
{
    const auto [appends, keep, kept] = fetchRow<QStringList, int, QString>("appends", "keep", "kept");
    Table t { ScratchFile::Why {} };
    for (const QString &append : appends) {
        append.startsWith(u"hex:") ? t.appendHex(QByteArray::fromHex(append.sliced(4).toLatin1()))
                                   : t.appendText(append);
        t.table.dropFront(t.table.size() - keep);
    }
    QCOMPARE(t.table.text(0, t.table.size()), kept);
}

QTEST_APPLESS_MAIN(TestPieceTable)
#include "tst_piecetable.moc"
