// Receiving, showing and sending data, auto-send, and the line settings from the selection boxes.

#include "port/mscomm.h"
#include "terminal/counter.h"
#include "terminal/hexformat.h"
#include "terminal/receivearea.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"
#include "window/optionbutton.h"
#include "window/shape.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kBadHex = QStringLiteral("请输入00到FF之间的十六进制数，用空格分隔，例如：AA 55 01 0D");

// A started window with its port open.
struct OpenForm : FormFixture
{
    OpenForm() { click(get<QPushButton>("Command5")); }
    QString received() const { return get<ReceiveArea>("Text1")->text(); }
    QString receivedCount() const { return get<QLabel>("Label10")->text(); }
    QString sentCount() const { return get<QLabel>("Label11")->text(); }
};

} // namespace

class TestTerminal : public QObject
{
    Q_OBJECT

private slots:
    void counterRule_data();
    void counterRule();
    void hexRendering();
    void hexParsing_data();
    void hexParsing();

    void receiveText();
    void receiveHex();
    void receiveEventWithNothingWaiting();

    void sendText();
    void sendHex_data();
    void sendHex();
    void badHexSendsNothing_data();
    void badHexSendsNothing();
    void sendWithPortClosed_data();
    void sendWithPortClosed();

    void autoSendRepeatsAndStops();
    void autoSendEveryMillisecondLeavesTheWindowUsable();
    void autoSendWithPortClosedStopsAfterOneBox();
    void ticksWaitWhileABoxIsOpen();
    void badPeriod_data();
    void badPeriod();
    void periodZeroSendsNothing();

    void settingsReachThePort();
    void unusableBoxesKeepTheSettings_data();
    void unusableBoxesKeepTheSettings();
    void choosingAnotherPortWhileOpen();
};

void TestTerminal::counterRule_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<qint64>("amount");
    QTest::addColumn<QString>("result");
    QTest::newRow("start") << "0" << qint64(5) << "5";
    QTest::newRow("nothing") << "12" << qint64(0) << "12";
    QTest::newRow("past 2^31") << "2147483647" << qint64(1) << "2147483648";
    QTest::newRow("past 10^15") << "999999999999999" << qint64(1) << "1000000000000000";
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

void TestTerminal::hexRendering()
{
    QByteArray low;
    for (int b = 0; b < 16; ++b)
        low.append(static_cast<char>(b));
    QCOMPARE(renderHex(low), QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F "));
    QCOMPARE(renderHex(QByteArray("\x0A\xFF\x41\xAB")), QStringLiteral("0A FF 41 AB "));
    QCOMPARE(renderHex(QByteArray()), QString());
}

void TestTerminal::hexParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("one byte") << "41" << true << QByteArray("\x41");
    QTest::newRow("leading zeros") << "0041" << true << QByteArray("\x41");
    QTest::newRow("one digit") << "a" << true << QByteArray("\x0A");
    QTest::newRow("frame") << "AA 55 01 0D" << true << QByteArray("\xAA\x55\x01\x0D");
    QTest::newRow("blanks and tabs") << " \tff  00\t" << true << QByteArray("\xFF\x00", 2);
    QTest::newRow("two bytes") << "AB CD" << true << QByteArray("\xAB\xCD");
    int row = 0;
    for (const char *bad : { "", "   ", "1FF", "ABCD", "0x41", "g", "41,42", "-1", "４１", "41\n42", "+41" })
        QTest::addRow("bad %d", row++) << QString::fromUtf8(bad) << false << QByteArray();
}

void TestTerminal::hexParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QByteArray, bytes);
    const auto parsed = parseHexBytes(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, bytes);
}

void TestTerminal::receiveText()
{
    OpenForm f;
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
}

void TestTerminal::receiveHex()
{
    OpenForm f;
    f.pty.write(QByteArray("x"));
    QTRY_COMPARE(f.received(), QStringLiteral("x"));

    // The display mode at the moment of the event decides; text already shown stays as it is.
    f.click(f.get<OptionButton>("Option1"));
    QCOMPARE(f.form->MSComm1->InputMode(), int(MSComm::comInputModeBinary));
    f.pty.write(QByteArray("\x0A\xFF\x41\x00", 4));
    QTRY_COMPARE(f.received(), QStringLiteral("x0A FF 41 00 "));
    QCOMPARE(f.receivedCount(), QStringLiteral("5"));

    // After a reset, 3 bytes show 3.
    f.click(f.get<QPushButton>("Command8"));
    f.pty.write(QByteArray("abc"));
    QTRY_COMPARE(f.receivedCount(), QStringLiteral("3"));

    f.click(f.get<OptionButton>("Option2"));
    f.pty.write(QByteArray("z"));
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("61 62 63 z")));
}

void TestTerminal::receiveEventWithNothingWaiting()
{
    OpenForm f;
    f.pty.write(QByteArray("ab"));
    QTRY_COMPARE(f.receivedCount(), QStringLiteral("2"));
    emit f.form->MSComm1->OnComm();
    QCOMPARE(f.receivedCount(), QStringLiteral("2"));
    QCOMPARE(f.received(), QStringLiteral("ab"));
}

void TestTerminal::sendText()
{
    OpenForm f;
    auto *text2 = f.get<QLineEdit>("Text2");
    text2->setText(QStringLiteral("中AB"));
    f.click(f.get<QPushButton>("Command6"));
    QCOMPARE(f.pty.read(4),
        QByteArray("\xD6\xD0"
                   "AB"));
    QCOMPARE(f.sentCount(), QStringLiteral("3"));
    QCOMPARE(text2->text(), QStringLiteral("中AB"));

    text2->clear();
    f.click(f.get<QPushButton>("Command6"));
    QCOMPARE(f.pty.readFor(100), QByteArray());
    QCOMPARE(f.sentCount(), QStringLiteral("3"));
}

void TestTerminal::sendHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("41") << "41" << QByteArray("\x41");
    QTest::newRow("0041") << "0041" << QByteArray("\x41");
    QTest::newRow("a") << "a" << QByteArray("\x0A");
    QTest::newRow("FF") << "FF" << QByteArray("\xFF");
    QTest::newRow("frame") << "AA 55 00 0D" << QByteArray("\xAA\x55\x00\x0D", 4);
}

void TestTerminal::sendHex()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    OpenForm f;
    BoxCatcher boxes;
    f.click(f.get<OptionButton>("Option5"));
    f.get<QLineEdit>("Text2")->setText(text);
    f.click(f.get<QPushButton>("Command6"));
    QCOMPARE(f.pty.read(bytes.size()), bytes);
    QCOMPARE(f.pty.readFor(50), QByteArray());
    QCOMPARE(f.sentCount(), QString::number(bytes.size()));
    QVERIFY(boxes.boxes().isEmpty());
}

void TestTerminal::badHexSendsNothing_data()
{
    QTest::addColumn<QString>("text");
    for (const char *bad : { "", "  ", "1FF", "ABCD", "0x41", "g", "４１" })
        QTest::newRow(bad[0] ? bad : "empty") << QString::fromUtf8(bad);
}

void TestTerminal::badHexSendsNothing()
{
    QFETCH(QString, text);
    OpenForm f;
    BoxCatcher boxes;
    f.click(f.get<OptionButton>("Option5"));
    f.get<QLineEdit>("Text2")->setText(text);
    f.click(f.get<QPushButton>("Command6"));
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text, kBadHex);
    QCOMPARE(boxes.boxes()[0].title, QStringLiteral("串口调试程序"));
    QCOMPARE(boxes.boxes()[0].icon, QMessageBox::Warning);
    QCOMPARE(f.pty.readFor(50), QByteArray());
    QCOMPARE(f.sentCount(), QStringLiteral("0"));
}

void TestTerminal::sendWithPortClosed_data()
{
    QTest::addColumn<bool>("hex");
    QTest::newRow("text") << false;
    QTest::newRow("hex") << true;
}

void TestTerminal::sendWithPortClosed()
{
    QFETCH(bool, hex);
    FormFixture f;
    BoxCatcher boxes;
    if (hex)
        f.click(f.get<OptionButton>("Option5"));
    f.get<QLineEdit>("Text2")->setText(QStringLiteral("41"));
    f.click(f.get<QPushButton>("Command6"));
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text, QStringLiteral("请打开串口"));
    QCOMPARE(boxes.boxes()[0].title, QStringLiteral("串口调试程序"));
    QCOMPARE(boxes.boxes()[0].icon, QMessageBox::NoIcon);
    QCOMPARE(boxes.boxes()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(f.get<QLabel>("Label11")->text(), QStringLiteral("0"));
    // Opening afterwards finds nothing queued from the refused send.
    f.click(f.get<QPushButton>("Command5"));
    QCOMPARE(f.pty.readFor(50), QByteArray());
}

void TestTerminal::autoSendRepeatsAndStops()
{
    OpenForm f;
    f.get<QLineEdit>("Text2")->setText(QStringLiteral("x"));
    f.get<QLineEdit>("Text3")->setText(QStringLiteral("20"));
    auto *command7 = f.get<QPushButton>("Command7");
    f.click(command7);
    QCOMPARE(command7->text(), QStringLiteral("关闭自动发送"));
    // Editing the period while on changes nothing until the next switch-on.
    f.get<QLineEdit>("Text3")->setText(QStringLiteral("1"));
    QCOMPARE(f.form->Timer2->Interval(), 20);

    const QByteArray sent = f.pty.readFor(500);
    QVERIFY2(sent.size() >= 8 && sent.size() <= 30, qPrintable(QString::number(sent.size())));
    QCOMPARE(sent, QByteArray(sent.size(), 'x'));

    f.click(command7);
    QCOMPARE(command7->text(), QStringLiteral("自动发送"));
    f.pty.readFor(50);
    const QString count = f.sentCount();
    QCOMPARE(f.pty.readFor(200), QByteArray());
    QCOMPARE(f.sentCount(), count);
}

void TestTerminal::autoSendEveryMillisecondLeavesTheWindowUsable()
{
    OpenForm f;
    f.get<QLineEdit>("Text2")->setText(QStringLiteral("0123456789"));
    f.get<QLineEdit>("Text3")->setText(QStringLiteral("1"));
    auto *command7 = f.get<QPushButton>("Command7");
    f.click(command7);
    QVERIFY(f.pty.readFor(300).size() >= 100);
    // Input, other timers and clicks still get their turn.
    f.pty.write(QByteArray("in"));
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("in")));
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("9600,N,8,1"));
    f.click(command7);
    QCOMPARE(command7->text(), QStringLiteral("自动发送"));
    f.pty.readFor(50);
    QCOMPARE(f.pty.readFor(100), QByteArray());
}

void TestTerminal::autoSendWithPortClosedStopsAfterOneBox()
{
    FormFixture f;
    BoxCatcher boxes;
    f.get<QLineEdit>("Text3")->setText(QStringLiteral("5"));
    auto *command7 = f.get<QPushButton>("Command7");
    f.click(command7);
    QTRY_COMPARE(boxes.boxes().size(), 1);
    QTest::qWait(100);
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text, QStringLiteral("请打开串口"));
    QCOMPARE(command7->text(), QStringLiteral("自动发送"));
}

void TestTerminal::ticksWaitWhileABoxIsOpen()
{
    OpenForm f;
    BoxCatcher boxes;
    boxes.setAutoClose(false);
    f.get<QLineEdit>("Text2")->setText(QStringLiteral("y"));
    f.get<QLineEdit>("Text3")->setText(QStringLiteral("5"));
    f.click(f.get<QPushButton>("Command7"));
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
        QCOMPARE(f.get<QPushButton>("Command7")->text(), QStringLiteral("关闭自动发送"));
        checked = true;
        boxes.closeAll();
    });
    f.click(f.get<OptionButton>("Option5"));
    f.click(f.get<QPushButton>("Command6"));
    if (!checked)
        boxes.closeAll();
    QVERIFY(checked);

    // Auto-send goes on; in hex mode now, so the next tick's bad text stops it with one box.
    QTimer::singleShot(0, this, [&] { boxes.setAutoClose(true); });
    QTRY_COMPARE(f.get<QPushButton>("Command7")->text(), QStringLiteral("自动发送"));
    QTRY_COMPARE(boxes.boxes().size(), 2);
}

void TestTerminal::badPeriod_data()
{
    QTest::addColumn<QString>("period");
    for (const char *bad : { "abc", "-5", "1.5", "99999999999", "2147483648", "", "1e3" })
        QTest::newRow(bad[0] ? bad : "empty") << QString::fromLatin1(bad);
}

void TestTerminal::badPeriod()
{
    QFETCH(QString, period);
    OpenForm f;
    BoxCatcher boxes;
    f.get<QLineEdit>("Text3")->setText(period);
    auto *command7 = f.get<QPushButton>("Command7");
    f.click(command7);
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].icon, QMessageBox::Warning);
    QCOMPARE(command7->text(), QStringLiteral("自动发送"));
    QCOMPARE(f.pty.readFor(100), QByteArray());
}

void TestTerminal::periodZeroSendsNothing()
{
    OpenForm f;
    f.get<QLineEdit>("Text2")->setText(QStringLiteral("z"));
    f.get<QLineEdit>("Text3")->setText(QStringLiteral("0"));
    f.click(f.get<QPushButton>("Command7"));
    QCOMPARE(f.get<QPushButton>("Command7")->text(), QStringLiteral("关闭自动发送"));
    QCOMPARE(f.pty.readFor(150), QByteArray());
    QCOMPARE(f.sentCount(), QStringLiteral("0"));
}

void TestTerminal::settingsReachThePort()
{
    OpenForm f;
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("9600,N,8,1"));
    f.get<ComboBox>("Combo2")->setListIndex(2);
    f.get<ComboBox>("Combo3")->setListIndex(2);
    f.get<ComboBox>("Combo5")->setListIndex(1);
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("115200,E,8,2"));
    QCOMPARE(f.pty.baud(), 115200);
    QCOMPARE(f.pty.stopBits(), 2);

    // A typed baud with blanks around it, a custom rate.
    f.get<ComboBox>("Combo2")->setText(QStringLiteral(" 250000 "));
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("250000,E,8,2"));
    QCOMPARE(f.pty.baud(), 250000);
}

void TestTerminal::unusableBoxesKeepTheSettings_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::newRow("parity typed") << "Combo3"
                                  << "None";
    QTest::newRow("baud not a number") << "Combo2"
                                       << "abc";
    QTest::newRow("baud zero") << "Combo2"
                               << "0";
    QTest::newRow("baud too large") << "Combo2"
                                    << "99999999999";
    QTest::newRow("four data bits") << "Combo4"
                                    << "4";
    QTest::newRow("data bits not a number") << "Combo4"
                                            << "8.0";
    QTest::newRow("three stop bits") << "Combo5"
                                     << "3";
}

void TestTerminal::unusableBoxesKeepTheSettings()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    OpenForm f;
    BoxCatcher boxes;
    f.get<ComboBox>("Combo2")->setText(QStringLiteral("57600"));
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("57600,N,8,1"));

    auto *combo = f.form->findChild<ComboBox *>(box);
    const QString initial = combo->text();
    combo->setText(text);
    QTRY_VERIFY(!combo->toolTip().isEmpty());
    QCOMPARE(combo->palette().color(QPalette::Text), QColor(Qt::red));
    QTest::qWait(250);
    QCOMPARE(f.form->MSComm1->Settings(), QStringLiteral("57600,N,8,1"));
    QCOMPARE(f.pty.baud(), 57600);
    QVERIFY(f.form->MSComm1->PortOpen());
    QVERIFY(boxes.boxes().isEmpty());

    // Mended, the next tick applies it and the mark goes.
    combo->setText(initial);
    f.get<ComboBox>("Combo2")->setText(QStringLiteral("38400"));
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("38400,N,8,1"));
    QCOMPARE(f.pty.baud(), 38400);
    QTRY_VERIFY(combo->toolTip().isEmpty());
}

void TestTerminal::choosingAnotherPortWhileOpen()
{
    OpenForm f;
    PtyPair second;
    qputenv("ZELCOM_PORTS", (f.pty.slavePath() + u':' + second.slavePath()).toLocal8Bit());
    QVERIFY(f.form->MSComm1->PortOpen());

    f.get<ComboBox>("Combo1")->setListIndex(1);
    QVERIFY(!f.form->MSComm1->PortOpen());
    QCOMPARE(f.form->MSComm1->CommPort(), 2);
    QCOMPARE(f.get<QPushButton>("Command5")->text(), QStringLiteral("打开串口"));
    QCOMPARE(f.get<Shape>("Shape1")->FillColor(), QColor(192, 255, 255));

    f.click(f.get<QPushButton>("Command5"));
    QVERIFY(f.form->MSComm1->PortOpen());
    f.get<QLineEdit>("Text2")->setText(QStringLiteral("2nd"));
    f.click(f.get<QPushButton>("Command6"));
    QCOMPARE(second.read(3), QByteArray("2nd"));
    QCOMPARE(f.pty.readFor(50), QByteArray());
}

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
