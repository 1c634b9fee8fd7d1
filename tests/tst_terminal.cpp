// Receiving, showing and sending data, and auto-send.

#include "port/mscomm.h"
#include "terminal/counter.h"
#include "terminal/receivearea.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>

namespace {

// A started window, its port opened by its own button unless asked otherwise.
struct Terminal : FormFixture
{
    explicit Terminal(bool open = true)
    {
        if (open)
            click("Command5");
    }
    void setText(const char *name, const QString &text) const { get<QLineEdit>(name)->setText(text); }
    QString caption(const char *name) const { return get<QPushButton>(name)->text(); }
    QString received() const { return get<ReceiveArea>("Text1")->text(); }
    QString receivedCount() const { return get<QLabel>("Label10")->text(); }
    QString sentCount() const { return get<QLabel>("Label11")->text(); }
};

const QString kAutoSend = QStringLiteral("自动发送");
const QString kStopAutoSend = QStringLiteral("关闭自动发送");

} // namespace

class TestTerminal : public QObject
{
    Q_OBJECT

private slots:
    void counterRule_data();
    void counterRule();

    void receiveText();
    void receiveHex();

    void sendByHand();
    void sendHex_data();
    void sendHex();
    void largePaste_data();
    void largePaste();

    void autoSendRepeatsAndStops();
    void ticksWaitWhileABoxIsOpen();
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

void TestTerminal::receiveText()
{
    Terminal f;
    // Control characters, a NUL among them, come through unchanged; a Chinese character counts 1.
    f.pty.write(QByteArray("A\0B\tC", 5));
    QTRY_COMPARE(f.received(), QString::fromUtf8("A\0B\tC", 5));
    QCOMPARE(f.receivedCount(), QStringLiteral("5"));

    // 中 split across two writes still arrives whole.
    f.pty.write(QByteArray("\xD6"));
    QTest::qWait(50);
    f.pty.write(QByteArray("\xD0\n"));
    QTRY_COMPARE(f.received(), QString::fromUtf8("A\0B\tC中\n", 9));
    QCOMPARE(f.receivedCount(), QStringLiteral("7"));

    // Line ends are kept as they came: CR LF, a lone CR, a CR and its LF in two reads.
    f.pty.write(QByteArray("x\r\ny\rz\r"));
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("z\r")));
    f.pty.write(QByteArray("\nw"));
    QTRY_COMPARE(f.received(), QString::fromUtf8("A\0B\tC中\nx\r\ny\rz\r\nw", 18));
    QCOMPARE(f.receivedCount(), QStringLiteral("16"));

    // Bytes that are not GBK are shown as they come and take nothing valid with them.
    f.click("Command3");
    f.pty.write(QByteArray("x\x81 y\xFF"
                           "z"));
    QTRY_VERIFY(f.received().endsWith(u'z'));
    QVERIFY2(f.received().startsWith(u'x') && f.received().contains(QStringLiteral(" y")), qPrintable(f.received()));
}

void TestTerminal::receiveHex()
{
    Terminal f;
    f.pty.write(QByteArray("x"));
    QTRY_COMPARE(f.received(), QStringLiteral("x"));

    // The display mode at the moment of the event decides; text already shown stays as it is.
    f.click("Option1");
    QCOMPARE(f.form->MSComm1->InputMode(), MSComm::comInputModeBinary);
    f.pty.write(QByteArray("\x0A\xFF\x41\x00", 4));
    QTRY_COMPARE(f.received(), QStringLiteral("x0A FF 41 00 "));
    QCOMPARE(f.receivedCount(), QStringLiteral("5"));

    f.click("Option2");
    f.pty.write(QByteArray("z"));
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("00 z")));

    // An event with nothing waiting shows and counts nothing.
    const QString shown = f.received();
    emit f.form->MSComm1->OnComm();
    QCOMPARE(f.receivedCount(), QStringLiteral("6"));
    QCOMPARE(f.received(), shown);
}

void TestTerminal::sendByHand()
{
    Terminal f(false);
    BoxCatcher boxes;
    f.setText("Text2", QStringLiteral("41"));
    f.setText("Text3", QStringLiteral("5"));
    f.click("Command6");
    f.click("Option5");
    f.click("Command6");
    // Auto-send that cannot send switches itself off first, then shows a single box.
    f.click("Command7");
    QTRY_COMPARE(boxes.boxes().size(), 3);
    QCOMPARE(f.caption("Command7"), kAutoSend);
    QTest::qWait(100);
    QCOMPARE(boxes.boxes().size(), 3);
    for (const BoxCatcher::Box &box : boxes.boxes()) {
        QCOMPARE(box.text, QStringLiteral("请打开串口"));
        QCOMPARE(box.title, QStringLiteral("串口调试程序"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
    }
    QCOMPARE(f.sentCount(), QStringLiteral("0"));
    // Opening afterwards finds nothing queued from the refused sends.
    f.click("Command5");
    QCOMPARE(f.pty.readFor(50), QByteArray());

    // Text goes out in GBK and counts characters; the box keeps it; an empty box sends nothing.
    f.click("Option3");
    f.setText("Text2", QStringLiteral("中AB"));
    f.click("Command6");
    QCOMPARE(f.pty.read(4),
        QByteArray("\xD6\xD0"
                   "AB"));
    QCOMPARE(f.sentCount(), QStringLiteral("3"));
    QCOMPARE(f.get<QLineEdit>("Text2")->text(), QStringLiteral("中AB"));
    f.setText("Text2", QString());
    f.click("Command6");
    QCOMPARE(f.pty.readFor(100), QByteArray());
    QCOMPARE(f.sentCount(), QStringLiteral("3"));
}

void TestTerminal::sendHex_data()
{
    // A null `bytes` marks a text that is refused with a box.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("41") << "41" << QByteArray("\x41");
    QTest::newRow("0041") << "0041" << QByteArray("\x41");
    QTest::newRow("a") << "a" << QByteArray("\x0A");
    QTest::newRow("AB CD") << "AB CD" << QByteArray("\xAB\xCD");
    QTest::newRow("frame") << "AA 55 00 0D" << QByteArray("\xAA\x55\x00\x0D", 4);
    QTest::newRow("blanks and tabs") << " \tff  00\t" << QByteArray("\xFF\x00", 2);
    for (const char *bad : { "", "  ", "1FF", "ABCD", "0x41", "g", "41,42", "-1", "+41", "４１" })
        QTest::newRow(bad[0] ? bad : "empty") << QString::fromUtf8(bad) << QByteArray();
}

void TestTerminal::sendHex()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    Terminal f;
    BoxCatcher boxes;
    f.click("Option5");
    f.setText("Text2", text);
    f.click("Command6");
    if (bytes.isNull()) {
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].text, QStringLiteral("请输入00到FF之间的十六进制数，用空格分隔，例如：AA 55 01 0D"));
        QCOMPARE(boxes.boxes()[0].title, QStringLiteral("串口调试程序"));
        QCOMPARE(boxes.boxes()[0].icon, QMessageBox::Warning);
    } else {
        QCOMPARE(f.pty.read(bytes.size()), bytes);
        QVERIFY(boxes.boxes().isEmpty());
    }
    QCOMPARE(f.pty.readFor(50), QByteArray());
    QCOMPARE(f.sentCount(), QString::number(bytes.size()));
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
    QTest::newRow("too long") << QString(1'048'577, u'x') << QByteArray();
}

void TestTerminal::largePaste()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);
    Terminal f;
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
            if (action->text().startsWith(QStringLiteral("&Paste")))
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
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].text, QStringLiteral("上次发送的数据还没有发完，这次没有发送，请稍后再试。"));
    }
    QCOMPARE(f.sentCount(), QString::number(text.size()));
    QCOMPARE(f.pty.read(wire.size(), 30'000), wire);
    QCOMPARE(f.pty.readFor(50), QByteArray());
}

void TestTerminal::autoSendRepeatsAndStops()
{
    Terminal f;
    f.setText("Text2", QStringLiteral("x"));
    f.setText("Text3", QStringLiteral("20"));
    f.click("Command7");
    QCOMPARE(f.caption("Command7"), kStopAutoSend);
    // Editing the period while on changes nothing until the next switch-on.
    f.setText("Text3", QStringLiteral("1"));
    QCOMPARE(f.form->Timer2->Interval(), 20);

    // How many ticks fall in a given time is measured in bench/ (sendbench --mode auto).
    const QByteArray sent = f.pty.read(3);
    QCOMPARE(sent, QByteArray(std::max<qsizetype>(sent.size(), 3), 'x'));

    // Switched off and on, the new period applies. Sending every millisecond, input, the settings tick
    // and clicks still get their turn.
    f.click("Command7");
    f.setText("Text2", QStringLiteral("0123456789"));
    f.click("Command7");
    QVERIFY(f.pty.read(100).size() >= 100);
    f.pty.write(QByteArray("in"));
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("in")));
    f.get<ComboBox>("Combo2")->setText(QStringLiteral("57600"));
    QTRY_COMPARE(f.pty.baud(), 57600);

    // Off means off: nothing more goes out and the counter stands still.
    f.click("Command7");
    QCOMPARE(f.caption("Command7"), kAutoSend);
    f.pty.readFor(50);
    const QString count = f.sentCount();
    QCOMPARE(f.pty.readFor(200), QByteArray());
    QCOMPARE(f.sentCount(), count);
}

void TestTerminal::ticksWaitWhileABoxIsOpen()
{
    Terminal f;
    BoxCatcher boxes;
    boxes.setAutoClose(false);
    f.setText("Text2", QStringLiteral("y"));
    f.setText("Text3", QStringLiteral("5"));
    f.click("Command7");
    QVERIFY(!f.pty.read(3).isEmpty());

    // A box from elsewhere (a bad hex send by hand) holds the ticks but not the input. The checks run
    // while the box waits, inside its event loop.
    bool checked = false;
    QTimer::singleShot(20, this, [&] {
        QCOMPARE(boxes.openCount(), 1);
        f.pty.readFor(30);
        QCOMPARE(f.pty.readFor(200), QByteArray());
        f.pty.write(QByteArray("in"));
        QTRY_VERIFY(f.received().endsWith(QStringLiteral("in")));
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
    QTest::addColumn<QString>("period");
    QTest::newRow("0 switches on but stays silent") << "0";
    for (const char *bad : { "abc", "-5", "1.5", "99999999999", "2147483648", "", "1e3" })
        QTest::newRow(bad[0] ? bad : "empty") << QString::fromLatin1(bad);
}

void TestTerminal::period()
{
    QFETCH(QString, period);
    const bool accepted = period == QStringLiteral("0");
    Terminal f;
    BoxCatcher boxes;
    f.setText("Text2", QStringLiteral("z"));
    f.setText("Text3", period);
    f.click("Command7");
    QCOMPARE(f.caption("Command7"), accepted ? kStopAutoSend : kAutoSend);
    QCOMPARE(boxes.boxes().size(), accepted ? 0 : 1);
    if (!accepted)
        QCOMPARE(boxes.boxes()[0].text, QStringLiteral("发送周期无效：请输入0到2147483647之间的整数（毫秒）"));
    QCOMPARE(f.pty.readFor(150), QByteArray());
    QCOMPARE(f.sentCount(), QStringLiteral("0"));
}

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
