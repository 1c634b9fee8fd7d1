// SPDX-License-Identifier: GPL-3.0-or-later
// Finding in the capture: across slices and chunks held in the scratch file, case, backward, hex tokens,
// cancel; and the find box reached from the keyboard.
#include "terminal/receiveview/finder.h"
#include "terminal/receiveview/receivearea.h"
#include "terminal/receiveview/receivestore.h"
#include "tests/support/expectnothing.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

class TestFind : public QObject
{
    Q_OBJECT

private slots:
    void finds_data();
    void finds();
    void cancelled();
    void findBoxFromTheKeyboard();
};

void TestFind::finds_data()
{
    // What the store holds ("|" starts a hex append of the bytes written after it), what is sought, and
    // where: the match's start, or -1 when there is none.
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<qint64>("at");
    const QString lines = QStringLiteral("温度 23.5℃\r\n湿度 40%\r\nERROR 7\r\n温度 23.6℃\r\n");
    QTest::newRow("straddles slices and chunks")
        << lines << QStringLiteral("ERROR 7") << false << true << 0LL << true << 18LL;
    QTest::newRow("any case") << lines << QStringLiteral("error") << false << false << 0LL << true << 18LL;
    QTest::newRow("case must match") << lines << QStringLiteral("error") << false << true << 0LL << true << -1LL;
    QTest::newRow("next from past the first")
        << lines << QStringLiteral("温度") << false << true << 1LL << true << 27LL;
    QTest::newRow("previous") << lines << QStringLiteral("温度") << false << true << 27LL << false << 0LL;
    QTest::newRow("previous ending past where it starts")
        << lines << QStringLiteral("23.6") << false << true << 32LL << false << 30LL;
    QTest::newRow("hex bytes in either case")
        << QStringLiteral("|\x41\x0d\x0a\x42\x0d\x0a") << QStringLiteral("0d 0A") << true << true << 1LL << true << 3LL;
    QTest::newRow("hex only at a token start")
        << QStringLiteral("1|\x0d\x0a") << QStringLiteral("0D 0A") << true << true << 0LL << true << -1LL;
}

void TestFind::finds()
{
    QFETCH(QString, held);
    QFETCH(QString, needle);
    QFETCH(bool, hex);
    QFETCH(bool, matchCase);
    QFETCH(qint64, from);
    QFETCH(bool, forward);
    QFETCH(qint64, at);
    // Chunks of 8 characters in the scratch file and slices of 3 characters: most matches straddle both.
    ReceiveStore::Options options;
    options.chunkBytes = 16;
    ReceiveStore store(options);
    const qsizetype bar = held.indexOf(u'|');
    store.appendText(held.left(bar < 0 ? held.size() : bar));
    if (bar >= 0)
        store.appendHex(held.sliced(bar + 1).toLatin1());
    Finder finder(store, nullptr, 3);
    QSignalSpy found(&finder, &Finder::found);
    QSignalSpy notFound(&finder, &Finder::notFound);
    QVERIFY(finder.start(needle, hex, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive, from, forward));
    QTRY_COMPARE(found.size() + notFound.size(), 1);
    if (at < 0) {
        QCOMPARE(notFound.size(), 1);
    } else {
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0][0].toLongLong(), at);
        QCOMPARE(
            store.text(at, found[0][1].toLongLong()).compare(hex ? needle + u' ' : needle, Qt::CaseInsensitive), 0);
    }
}

void TestFind::cancelled()
{
    ReceiveStore store;
    store.appendText(QString(1 << 20, u'x') + QStringLiteral("end"));
    // A thousand slices: uncancelled, the match comes within a few milliseconds.
    Finder finder(store, nullptr, 1000);
    QSignalSpy found(&finder, &Finder::found);
    QSignalSpy notFound(&finder, &Finder::notFound);
    QSignalSpy progressed(&finder, &Finder::progressed);
    connect(&finder, &Finder::progressed, &finder, [&] {
        if (progressed.size() == 3)
            finder.cancel();
    });
    QVERIFY(!finder.start(QStringLiteral("0G"), true, Qt::CaseSensitive, 0, true));
    QVERIFY(finder.start(QStringLiteral("end"), false, Qt::CaseSensitive, 0, true));
    QVERIFY(expectNothingFor(300, [&] { return found.size() + notFound.size() > 0; }));
    QCOMPARE(progressed.size(), 3);
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
    QTest::keyClicks(text, QStringLiteral("OK"));
    box->findChild<QCheckBox *>(QStringLiteral("FindCase"))->setChecked(true);
    QTest::keyClick(text, Qt::Key_Return);
    QTRY_COMPARE(area->selectionEnd(), 2);
    QCOMPARE(area->selectionStart(), 0);
    QTest::keyClick(text, Qt::Key_F3);
    QTRY_COMPARE(area->selectionStart(), 8);
    QTest::keyClick(text, Qt::Key_F3, Qt::ShiftModifier);
    QTRY_COMPARE(area->selectionStart(), 0);
    QTest::keyClick(text, Qt::Key_F3, Qt::ShiftModifier);
    QTRY_COMPARE(box->findChild<QLabel *>(QStringLiteral("FindStatus"))->text(), QStringLiteral("找不到“OK”。"));
    QCOMPARE(area->selectionStart(), 0);
}

QTEST_MAIN(TestFind)
#include "tst_find.moc"
