// SPDX-License-Identifier: GPL-3.0-or-later
// Receiving, showing and sending data, and auto-send.

#include "port/mscomm.h"
#include "port/textcodec.h"
#include "terminal/counter.h"
#include "terminal/hexformat.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/expectnothing.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"
#include "window/messagebox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>

namespace {

const QString kAutoSend = QStringLiteral("自动发送");
const QString kStopAutoSend = QStringLiteral("关闭自动发送");
const QString kOpenThePort = QStringLiteral("请打开串口");

} // namespace

class TestTerminal : public QObject
{
    Q_OBJECT

private slots:
    void counterRule_data();
    void counterRule();

    void receive_data();
    void receive();

    void send_data();
    void send();
    void largePaste_data();
    void largePaste();

    void autoSend();
    void period_data();
    void period();
};

void TestTerminal::counterRule_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<qint64>("amount");
    QTest::addColumn<QString>("result");
    QTest::newRow("start") << "0" << qint64(5) << "5";
    QTest::newRow("leading zeros, nothing added") << "099999999999999999999" << qint64(0) << "99999999999999999999";
    QTest::newRow("past 2^53") << "9007199254740992" << qint64(1) << "9007199254740993";
    QTest::newRow("past 2^64") << "18446744073709551615" << qint64(1025) << "18446744073709552640";
    QTest::newRow("past 10^21 no exponent") << "999999999999999999999" << qint64(1) << "1000000000000000000000";
}

void TestTerminal::counterRule()
{
    QFETCH(QString, caption);
    QFETCH(qint64, amount);
    QFETCH(QString, result);
    QCOMPARE(addToCounter(caption, amount), result);
}

void TestTerminal::receive_data()
{
    // What the device sends, in writes separated by "|", in hex display or not; what the window shows and counts
    // (characters in text display, bytes in hex).
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("writes");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("count");
    QTest::newRow("controls and NUL") << false << QByteArray("A\0B\tC", 5) << QString::fromUtf8("A\0B\tC", 5) << "5";
    // "中A文" is D6 D0 41 CE C4, cut into two reads after every byte: after 4, a read ends with whole characters
    // followed by a lead byte.
    QTest::newRow("split after 1") << false << QByteArray("\xD6|\xD0\x41\xCE\xC4") << QStringLiteral("中A文") << "3";
    QTest::newRow("split after 2") << false << QByteArray("\xD6\xD0|\x41\xCE\xC4") << QStringLiteral("中A文") << "3";
    QTest::newRow("split after 3") << false << QByteArray("\xD6\xD0\x41|\xCE\xC4") << QStringLiteral("中A文") << "3";
    QTest::newRow("split after 4") << false << QByteArray("\xD6\xD0\x41\xCE|\xC4") << QStringLiteral("中A文") << "3";
    QTest::newRow("line ends as they came")
        << false << QByteArray("x\r\ny\rz\r|\nw") << QStringLiteral("x\r\ny\rz\r\nw") << "9";
    // A byte that starts no character takes nothing valid with it (FF is in GBK's private-use area).
    // A lead byte 81 cut from its trail byte; FF at the end of the data waits for nothing.
    QTest::newRow("lead byte 81") << false << QByteArray("\x81|\x40") << QStringLiteral("丂") << "1";
    QTest::newRow("not GBK") << false << QByteArray("x\x81 y\xFF") << QStringLiteral("x\uFFFD y\uF8F5") << "5";
    QTest::newRow("hex, every digit") << true << QByteArray("\x01\x23\x45\x67|\x89\xAB\xCD\xEF")
                                      << QStringLiteral("01 23 45 67 89 AB CD EF ") << "8";
    // A flood arrives in a few large batches; a character split between two of them still comes out whole, and
    // the counter counts every one.
    QString lines;
    for (int i = 0; lines.size() < 1'000'000; ++i)
        lines += QStringLiteral("%1 中文数据\r\n").arg(i);
    QTest::newRow("flood") << false << encodeGbk(lines) << lines << QString::number(lines.size());
    // Every byte value, many times over, in batches of any size: each shown once, in order, and counted.
    QByteArray bytes(3 << 20, Qt::Uninitialized);
    quint32 seed = 7;
    for (char &b : bytes)
        b = char((seed = seed * 1103515245 + 12345) >> 23);
    bytes.replace('|', '~'); // "|" separates writes
    QTest::newRow("hex flood") << true << bytes << renderHex(bytes) << QString::number(bytes.size());
}

void TestTerminal::receive()
{
    QFETCH(bool, hex);
    QFETCH(QByteArray, writes);
    QFETCH(QString, shown);
    QFETCH(QString, count);
    FormFixture f(true);
    if (hex)
        f.click("Option1");
    QSignalSpy events(f.form->MSComm1, &MSComm::OnComm);
    for (const QByteArray &bytes : writes.split('|')) {
        const qsizetype seen = events.count();
        f.pty.write(bytes);
        QVERIFY(events.count() > seen || events.wait());
    }
    QTRY_COMPARE(f.received(), shown);
    QCOMPARE(f.receivedCount(), count);
}

void TestTerminal::send_data()
{
    // What a click on the send button puts on the wire, in hex or as text, with the port open or not; a null
    // `bytes` marks a send refused with the box `box`.
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("count");
    const QString badHex = QStringLiteral("请输入00到FF之间的十六进制数，用空格分隔，例如：AA 55 01 0D");
    QTest::newRow("text in GBK") << true << false << "中AB"
                                 << QByteArray("\xD6\xD0"
                                               "AB")
                                 << QString() << "3";
    QTest::newRow("no text") << true << false << "" << QByteArray("") << QString() << "0";
    QTest::newRow("text, port closed") << false << false << "41" << QByteArray() << kOpenThePort << "0";
    QTest::newRow("hex, port closed") << false << true << "41" << QByteArray() << kOpenThePort << "0";
    QTest::newRow("41") << true << true << "41" << QByteArray("\x41") << QString() << "1";
    QTest::newRow("0041") << true << true << "0041" << QByteArray("\x41") << QString() << "1";
    QTest::newRow("a") << true << true << "a" << QByteArray("\x0A") << QString() << "1";
    QTest::newRow("AB CD") << true << true << "AB CD" << QByteArray("\xAB\xCD") << QString() << "2";
    QTest::newRow("frame") << true << true << "AA 55 00 0D" << QByteArray("\xAA\x55\x00\x0D", 4) << QString() << "4";
    QTest::newRow("blanks and tabs") << true << true << " \tff  00\t" << QByteArray("\xFF\x00", 2) << QString() << "2";
    QTest::newRow("first and last byte") << true << true << "00 FF" << QByteArray("\x00\xFF", 2) << QString() << "2";
    for (const char *bad : { "", "  ", "100", "1FF", "ABCD", "0x41", "g", "41,42", "-1", "+41", "４１" })
        QTest::newRow(bad[0] ? bad : "empty")
            << true << true << QString::fromUtf8(bad) << QByteArray() << badHex << "0";
}

void TestTerminal::send()
{
    QFETCH(bool, open);
    QFETCH(bool, hex);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, box);
    QFETCH(QString, count);
    FormFixture f(open);
    BoxCatcher boxes;
    if (hex)
        f.click("Option5");
    f.setText("Text2", text);
    f.click("Command6");
    // Opened afterwards, the port finds nothing queued from a refused send.
    if (!open)
        f.click("Command5");
    QCOMPARE(f.pty.read(bytes.size()), bytes);
    QVERIFY(expectNothingFor(50, [&] { return f.pty.hasInput(); }));
    QCOMPARE(boxes.boxes().value(0).text, box);
    QCOMPARE(boxes.boxes().size(), box.isEmpty() ? 0 : 1);
    // Text counts characters, hex counts bytes.
    QCOMPARE(f.sentCount(), count);
}

void TestTerminal::largePaste_data()
{
    // A null `wire` marks a paste the send area refuses.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("100,000 characters, CR LF kept")
        << QStringLiteral("ATZ\r\n").repeated(20'000) << QByteArray("ATZ\r\n").repeated(20'000);
    QTest::newRow("more than 1 MiB on the wire")
        << QStringLiteral("中A").repeated(400'000) << QByteArrayLiteral("\xD6\xD0\x41").repeated(400'000);
    QTest::newRow("exactly full") << QString(1'048'576, u'x') << QByteArray(1'048'576, 'x');
    QTest::newRow("too long") << QString(1'048'577, u'x') << QByteArray();
}

void TestTerminal::largePaste()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);
    FormFixture f(true);
    BoxCatcher boxes;
    f.setText("Text2", QStringLiteral("kept"));
    f.get<QLineEdit>("Text2")->selectAll();
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(f.get("Text2"), Qt::Key_V, Qt::ControlModifier);
    if (wire.isNull()) {
        // The context menu's paste is refused the same way.
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(f.get("Text2"), &menuEvent);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction *action : menu->actions())
            if (action->text().startsWith(QCoreApplication::translate("QLineEdit", "&Paste")))
                action->trigger();
        menu->close();
        QCOMPARE(boxes.boxes().size(), 2);
        QCOMPARE(boxes.boxes()[0].text,
            QStringLiteral("粘贴的内容太长（1048577 个字符），没有粘贴：发送区最多容纳 1048576 个字符。"));
        QCOMPARE(f.get<QLineEdit>("Text2")->text(), QStringLiteral("kept"));
        return;
    }
    // Sent whole and counted once. Beyond the output bound, a second send while the first is still queued is
    // refused with a box and adds nothing.
    f.click("Command6");
    if (wire.size() > (1 << 20)) {
        f.click("Command6");
        QCOMPARE(boxes.boxes().value(0).text, QStringLiteral("上次发送的数据还没有发完，这次没有发送，请稍后再试。"));
    }
    QCOMPARE(f.sentCount(), QString::number(text.size()));
    QCOMPARE(f.pty.read(wire.size(), 30'000), wire);
    QVERIFY(expectNothingFor(50, [&] { return f.pty.hasInput(); }));
}

void TestTerminal::autoSend()
{
    FormFixture f(true);
    BoxCatcher boxes;
    f.setText("Text2", QStringLiteral("x"));
    f.setText("Text3", QStringLiteral("1"));
    f.click("Command7");
    QCOMPARE(f.caption("Command7"), kStopAutoSend);
    f.setText("Text3", QStringLiteral("20"));
    // How many ticks fall in a given time is measured in bench/ (sendbench --mode auto).
    const QByteArray sent = f.pty.read(3);
    QCOMPARE(sent, QByteArray(std::max<qsizetype>(sent.size(), 3), 'x'));

    // Off means off: the counter, which counts every send, stands still.
    f.click("Command7");
    QCOMPARE(f.caption("Command7"), kAutoSend);
    const QString count = f.sentCount();
    QVERIFY(expectNothingFor(100, [&] { return f.sentCount() != count; }));

    // Switched on again with the period it had before, it ticks again. Sending every millisecond, input, the
    // settings tick and clicks still get their turn.
    f.setText("Text3", QStringLiteral("1"));
    f.setText("Text2", QStringLiteral("0123456789"));
    f.click("Command7");
    QVERIFY(f.pty.read(100).size() >= 100);
    f.pty.write(QByteArray("in"));
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("in")));
    f.get<ComboBox>("Combo2")->setText(QStringLiteral("57600"));
    QTRY_COMPARE(f.pty.baud(), 57600);

    // A box from elsewhere (a bad hex send by hand) holds the ticks but not the input. The checks run while the
    // box waits, inside its event loop.
    boxes.setAutoClose(false);
    bool checked = false;
    QTimer::singleShot(20, this, [&] {
        QVERIFY(msgBoxOpen());
        const QString held = f.sentCount();
        QVERIFY(expectNothingFor(200, [&] { return f.sentCount() != held; }));
        f.pty.write(QByteArray("more"));
        QTRY_VERIFY(f.received().endsWith(QStringLiteral("more")));
        QCOMPARE(f.caption("Command7"), kStopAutoSend);
        checked = true;
        boxes.closeAll();
    });
    f.click("Option5");
    f.click("Command6");
    if (!checked)
        boxes.closeAll();
    QVERIFY(checked);

    // Auto-send goes on; in hex mode now, so the next tick's bad text stops it with one box.
    QTimer::singleShot(0, this, [&] { boxes.setAutoClose(true); });
    QTRY_COMPARE(f.caption("Command7"), kAutoSend);
    QTRY_COMPARE(boxes.boxes().size(), 2);
}

void TestTerminal::period_data()
{
    // Auto-send switched on with the port open or not; the box it shows, if any.
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("box");
    const QString badPeriod = QStringLiteral("发送周期无效：请输入0到2147483647之间的整数（毫秒）");
    QTest::newRow("0 switches on but stays silent") << true << "0" << QString();
    QTest::newRow("longest period") << true << "2147483647" << QString();
    // It cannot send: it switches itself off first, then shows a single box.
    QTest::newRow("port closed") << false << "5" << kOpenThePort;
    for (const char *bad : { "abc", "-5", "1.5", "99999999999", "2147483648", "", "1e3" })
        QTest::newRow(bad[0] ? bad : "empty") << true << QString::fromLatin1(bad) << badPeriod;
}

void TestTerminal::period()
{
    QFETCH(bool, open);
    QFETCH(QString, period);
    QFETCH(QString, box);
    FormFixture f(open);
    BoxCatcher boxes;
    f.setText("Text2", QStringLiteral("z"));
    f.setText("Text3", period);
    f.click("Command7");
    QTRY_COMPARE(boxes.boxes().value(0).text, box);
    QCOMPARE(f.caption("Command7"), box.isEmpty() ? kStopAutoSend : kAutoSend);
    QVERIFY(expectNothingFor(
        150, [&] { return f.pty.hasInput() || f.sentCount() != QStringLiteral("0") || boxes.boxes().size() > 1; }));
}

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
