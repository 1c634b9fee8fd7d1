// SPDX-License-Identifier: GPL-3.0-or-later
// Finding in the capture on the finder's own thread: across chunks held in the scratch file, case,
// backward, hex tokens, wrapping, the line of the match, data dropped or cleared meanwhile, cancel; and the
// find box reached from the keyboard.
#include "terminal/capture/receivestore.h"
#include "terminal/receiveview/finder.h"
#include "terminal/receiveview/receivearea.h"
#include "terminal/receiveview/textsearch.h"
#include "tests/support/expectnothing.h"
#include "tests/support/rows.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Eight characters or sixteen bytes a chunk in a scratch file of its own, every full chunk on the disk:
// nearly every match straddles chunks, and most are read back from the file by the finder itself.
std::unique_ptr<ReceiveStore> tinyStore(const QTemporaryDir &dir)
{
    ReceiveStore::Options o;
    o.chunkBytes = 16;
    o.cacheChunks = 1;
    o.scratch = ScratchFile::Place { dir.path(), 0, 0, true, true, {}, {} };
    o.memoryHeadroom = 0;
    return std::make_unique<ReceiveStore>(o);
}

// What the store holds, "|" starting a hex append of the bytes written after it, "/" a text one.
void fill(ReceiveStore &store, const QString &held)
{
    for (const QString &part : held.split(u'/')) {
        const qsizetype bar = part.indexOf(u'|');
        store.appendText(part.left(bar < 0 ? part.size() : bar));
        if (bar >= 0)
            store.appendHex(part.sliced(bar + 1).toLatin1());
    }
    store.flush();
}

} // namespace

class TestFind : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void finds_data();
    void finds();
    void findsInAPieceAtEveryPlace();
    void droppedOrCancelledMeanwhile();
    void findBoxFromTheKeyboard();

private:
    QTemporaryDir m_dir;
};

void TestFind::finds_data()
{
    // What is held and sought, how ("hex"; "any case"; "back" to search backward; "wraps" when the match is found
    // past the end), from where; the match's start and line, or -1 when there is none.
    addColumns<QString, QString, QString, qint64, qint64, qint64>("held", "needle", "how", "from", "at", "line");
    const QString lines = QStringLiteral("温度 23.5℃\r\n湿度 40%\r\nERROR 7\r\n温度 23.6℃\r\n");
    const QString crlf = QStringLiteral("1|\x0d\x0a");
    addRow("straddles chunks", lines, u"ERROR 7"_qs, QString(), 0LL, 18LL, 3LL);
    addRow("any case", lines, u"error"_qs, u"any case"_qs, 0LL, 18LL, 3LL);
    addRow("next from past the first", lines, u"温度"_qs, QString(), 1LL, 27LL, 4LL);
    addRow("previous", lines, u"温度"_qs, u"back"_qs, 27LL, 0LL, 1LL);
    addRow("previous ending past where it starts", lines, u"23.6"_qs, u"back"_qs, 32LL, 30LL, 4LL);
    addRow("wraps to the start", lines, u"湿度"_qs, u"wraps"_qs, 20LL, 10LL, 2LL);
    addRow("wraps to the end", lines, u"ERROR"_qs, u"back wraps"_qs, 5LL, 18LL, 3LL);
    addRow("CR LF across chunks is one break", u"abcdefg\r/\nX\r\nY"_qs, u"Y"_qs, QString(), 0LL, 12LL, 3LL);
    addRow("hex bytes in either case", u"|\x41\x0d\x0a\x42\x0d\x0a"_qs, u"0d 0A"_qs, u"hex"_qs, 1LL, 3LL, 1LL);
    addRow("hex previous straddling chunks", u"|0123456789abcde\x0d/|\x0a"_qs, u"0D 0A"_qs, u"hex back"_qs, 51LL, 45LL,
        1LL);
    addRow("hex only at a token start", crlf, u"0D 0A"_qs, u"hex"_qs, 0LL, -1LL, 0LL);
    addRow("hex previous only at a token start", crlf, u"0D 0A"_qs, u"hex back"_qs, 7LL, -1LL, 0LL);
    addRow("hex previous just after text", u"x|\x0d\x0a"_qs, u"0D 0A"_qs, u"hex back"_qs, 7LL, 1LL, 1LL);
    addRow("hex in typed text", u"|\x01/ 0D 0A "_qs, u"0D 0A"_qs, u"hex"_qs, 0LL, 4LL, 1LL);
}

void TestFind::finds()
{
    auto [held, needle, how, from, at, line] = fetchRow<QString, QString, QString, qint64, qint64, qint64>("held", "needle", "how", "from", "at", "line");
    const auto store = tinyStore(m_dir);
    fill(*store, held);
    Finder finder(*store);
    QSignalSpy found(&finder, &Finder::found);
    QSignalSpy notFound(&finder, &Finder::notFound);
    const bool hex = how.contains(u"hex");
    const auto cs = how.contains(u"any case") ? Qt::CaseInsensitive : Qt::CaseSensitive;
    QVERIFY(finder.start(needle, hex, cs, from, !how.contains(u"back"), true));
    QTRY_COMPARE(found.size() + notFound.size(), 1);
    QCOMPARE(found.isEmpty() ? -1 : found[0][0].toLongLong(), at);
    if (at < 0)
        return;
    QCOMPARE(found[0][2].toLongLong(), line);
    QCOMPARE(found[0][3].toBool(), how.contains(u"wraps"));
    QCOMPARE(store->text(at, found[0][1].toLongLong()).compare(hex ? needle + u' ' : needle, Qt::CaseInsensitive), 0);
}

// Within a piece, as Qt finds: the match at each of the places tested together and past them, after
// characters that begin it, in either case and through characters past ASCII that fold to its letters.
void TestFind::findsInAPieceAtEveryPlace()
{
    for (const auto cs : { Qt::CaseSensitive, Qt::CaseInsensitive })
        for (const QString &shown : { u"kk-Ks"_qs, u"\u212AK-k\u017F"_qs })
            for (const qsizetype after : { 0, 20 })
                for (qsizetype at = 0; at < 40; ++at) {
                    const QString text = QString(at, u'k') + shown + u"kk-k"_qs + QString(after, u'.');
                    QCOMPARE(TextSearch(u"kk-Ks"_qs, cs).indexIn(text, at / 2), text.indexOf(u"kk-Ks"_qs, at / 2, cs));
                }
}

// The finder's thread holds what it searches: data dropped or cleared meanwhile is no fault, a match in
// dropped data gives way to the next one still held, and a cancelled or cleared search says nothing.
void TestFind::droppedOrCancelledMeanwhile()
{
    const auto store = tinyStore(m_dir);
    fill(*store, QStringLiteral("ERROR 1\r\n") + QString(200, u'.') + QStringLiteral("\r\nERROR 2\r\n"));
    Finder finder(*store);
    QSignalSpy found(&finder, &Finder::found);
    QSignalSpy notFound(&finder, &Finder::notFound);
    QVERIFY(finder.start(QStringLiteral("ERROR"), false, Qt::CaseSensitive, 0, true));
    // Whatever the thread has done by now, its answer is taken on this thread, after the drop.
    store->setMaximum(100);
    store->appendText(QStringLiteral("ERROR 3"));
    QTRY_COMPARE(found.size(), 1);
    QCOMPARE(store->text(found[0][0].toLongLong(), found[0][1].toLongLong() + 2), QStringLiteral("ERROR 2"));

    QVERIFY(!finder.start(QStringLiteral("0G"), true, Qt::CaseSensitive, 0, true));
    QVERIFY(finder.start(QStringLiteral("ERROR 3"), false, Qt::CaseSensitive, 0, true));
    finder.cancel();
    QVERIFY(!finder.running());
    QVERIFY(expectNothingFor(200, [&] { return found.size() + notFound.size() > 1; }));

    // A clear while the search runs: it goes again over what is held now.
    QVERIFY(finder.start(QStringLiteral("ERROR"), false, Qt::CaseSensitive, 0, true));
    store->clear();
    store->appendText(QStringLiteral("no match"));
    QTRY_COMPARE(notFound.size(), 1);
    QCOMPARE(found.size(), 1);
}

void TestFind::findBoxFromTheKeyboard()
{
    QWidget window;
    auto *area = new ReceiveArea(&window);
    area->setGeometry(0, 0, 289, 249);
    window.resize(300, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    area->setFocus();
    area->appendText(QStringLiteral("OK\r\nok\r\nOK\r\n"));
    QTest::keyClick(area, Qt::Key_F, Qt::ControlModifier);
    auto *box = window.findChild<QDialog *>(QStringLiteral("FindBox"));
    QVERIFY(box && box->isVisible());
    auto *text = box->findChild<QLineEdit *>(QStringLiteral("FindText"));
    auto *status = box->findChild<QLabel *>(QStringLiteral("FindStatus"));
    QTest::keyClicks(text, QStringLiteral("OK"));
    box->findChild<QCheckBox *>(QStringLiteral("FindCase"))->setChecked(true);
    QTest::keyClick(text, Qt::Key_Return);
    QTRY_COMPARE(area->selectionEnd(), 2);
    QCOMPARE(area->selectionStart(), 0);
    QTest::keyClick(text, Qt::Key_F3);
    QTRY_COMPARE(area->selectionStart(), 8);
    QCOMPARE(status->text(), QStringLiteral("已找到，在第 3 行，并已选中。"));
    QCOMPARE(status->accessibleName(), status->text());
    QTest::keyClick(text, Qt::Key_F3, Qt::ShiftModifier);
    QTRY_COMPARE(area->selectionStart(), 0);
    QTest::keyClick(text, Qt::Key_F3, Qt::ShiftModifier);
    QTRY_COMPARE(area->selectionStart(), 8);
    QCOMPARE(status->text(), QStringLiteral("已到开头，已从末尾继续查找：在第 3 行找到，并已选中。"));
    text->setText(QStringLiteral("KO"));
    QTest::keyClick(text, Qt::Key_F3);
    QTRY_COMPARE(status->text(), QStringLiteral("找不到“KO”。"));
    QCOMPARE(area->selectionStart(), 8);

    // Clearing the area cancels a search still on its way.
    text->setText(QStringLiteral("OK"));
    QTest::keyClick(text, Qt::Key_F3);
    area->setText({});
    QCOMPARE(status->text(), QStringLiteral("已取消查找。"));
    QTest::keyClick(text, Qt::Key_Escape);
    QVERIFY(!box->isVisible());
}

QTEST_MAIN(TestFind)
#include "tst_find.moc"
