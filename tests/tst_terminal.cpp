// SPDX-License-Identifier: GPL-3.0-or-later
// Receiving, showing and sending data, and auto-send.

#include "port/mscomm.h"
#include "port/textcodec.h"
#include "terminal/counter.h"
#include "terminal/hexformat.h"
#include "terminal/receiveview/receivearea.h"
#include "terminal/receiveview/savedialog.h"
#include "terminal/sendfile.h"
#include "terminal/sendhistory.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/expectnothing.h"
#include "tests/support/files.h"
#include "tests/support/formfixture.h"
#include "tests/support/rows.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"
#include "window/messagebox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <random>

namespace {

const QString kAutoSend = QStringLiteral("自动发送");
const QString kStopAutoSend = QStringLiteral("关闭自动发送");
const QString kOpenThePort = QStringLiteral("请打开串口");

// Opens the send area's context menu from the keyboard and triggers its entry `name`.
void chooseInSendMenu(const FormFixture &f, const QString &name)
{
    QTest::keyClick(f.get("Text2"), Qt::Key_F10, Qt::ShiftModifier);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions())
        if (action->objectName() == name)
            chosen = action;
    QVERIFY2(chosen, qPrintable(name));
    menu->close();
    chosen->trigger();
}

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
    void lineEnd_data();
    void lineEnd();
    void lineBreakMarks();
    void history_data();
    void history();
    void historyBounds();
    void sendFile_data();
    void sendFile();

    void autoSend();
    void period_data();
    void period();
};

void TestTerminal::counterRule_data()
{
    addColumns<QString, qint64, QString>("caption", "amount", "result");
    QTest::newRow("start") << "0" << qint64(5) << "5";
    QTest::newRow("leading zeros, nothing added") << "099999999999999999999" << qint64(0) << "99999999999999999999";
    QTest::newRow("past 2^53") << "9007199254740992" << qint64(1) << "9007199254740993";
    QTest::newRow("past 2^64") << "18446744073709551615" << qint64(1025) << "18446744073709552640";
    QTest::newRow("past 10^21 no exponent") << "999999999999999999999" << qint64(1) << "1000000000000000000000";
}

void TestTerminal::counterRule()
{
    const auto [caption, amount, result] = fetchRow<QString, qint64, QString>("caption", "amount", "result");
    QCOMPARE(addToCounter(caption, amount), result);
}

void TestTerminal::receive_data()
{
    // What the device sends, in writes separated by "|", in hex display or not; what the window shows and counts
    // (characters in text display, bytes in hex).
    addColumns<bool, QByteArray, QString, QString>("hex", "writes", "shown", "count");
    addRow("controls and NUL", false, QByteArray("A\0B\tC", 5), QString::fromUtf8("A\0B\tC", 5), "5");
    // "中A文" is D6 D0 41 CE C4, cut into two reads after every byte: after 4, a read ends with whole characters
    // followed by a lead byte.
    for (int cut = 1; cut <= 4; ++cut)
        QTest::addRow("split after %d", cut)
            << false << QByteArray("\xD6\xD0\x41\xCE\xC4").insert(cut, '|') << QStringLiteral("中A文") << "3";
    addRow("line ends as they came", false, QByteArray("x\r\ny\rz\r|\nw"), u"x\r\ny\rz\r\nw"_qs, "9");
    // A byte that starts no character takes nothing valid with it (FF is in GBK's private-use area).
    // A lead byte 81 cut from its trail byte; FF at the end of the data waits for nothing.
    addRow("lead byte 81", false, QByteArray("\x81|\x40"), u"丂"_qs, "1");
    addRow("not GBK", false, QByteArray("x\x81 y\xFF"), u"x\uFFFD y\uF8F5"_qs, "5");
    addRow(
        "hex, every digit", true, QByteArray("\x01\x23\x45\x67|\x89\xAB\xCD\xEF"), u"01 23 45 67 89 AB CD EF "_qs, "8");
    // A flood arrives in a few large batches; a character split between two of them still comes out whole, and
    // the counter counts every one.
    QString lines;
    for (int i = 0; lines.size() < 1'000'000; ++i)
        lines += QStringLiteral("%1 中文数据\r\n").arg(i);
    addRow("flood", false, encodeGbk(lines), lines, QString::number(lines.size()));
    // Every byte value, many times over, in batches of any size: each shown once, in order, and counted.
    QByteArray bytes(3 << 20, Qt::Uninitialized);
    quint32 seed = 7;
    for (char &b : bytes)
        b = char((seed = seed * 1103515245 + 12345) >> 23);
    bytes.replace('|', '~'); // "|" separates writes
    addRow("hex flood", true, bytes, renderHex(bytes), QString::number(bytes.size()));
}

void TestTerminal::receive()
{
    const auto [hex, writes, shown, count]
        = fetchRow<bool, QByteArray, QString, QString>("hex", "writes", "shown", "count");
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
    // What a click on the send button puts on the wire, in hex or as text, with the port open or not, and the
    // sent counter then; a null `bytes` marks a send refused with a box: "请打开串口" when closed, else bad hex.
    addColumns<bool, bool, QString, QByteArray, QString>("open", "hex", "text", "bytes", "count");
    addRow("text in GBK", true, false, u"中AB"_qs, QByteArray("\xD6\xD0\x41\x42"), "3");
    addRow("no text", true, false, QString(), QByteArray(""), "0");
    addRow("text, port closed", false, false, u"41"_qs, QByteArray(), "0");
    addRow("hex, port closed", false, true, u"41"_qs, QByteArray(), "0");
    const std::pair<const char *, QByteArray> good[] = { { "41", "\x41" }, { "0041", "\x41" }, { "a", "\x0A" },
        { "AB CD", "\xAB\xCD" }, { "AA 55 00 0D", QByteArray("\xAA\x55\x00\x0D", 4) },
        { " \tff  00\t", QByteArray("\xFF\x00", 2) }, { "00 FF", QByteArray("\x00\xFF", 2) } };
    for (const auto &[text, bytes] : good)
        addRow(text, true, true, QString::fromUtf8(text), bytes, QString::number(bytes.size()));
    for (const char *bad : { "", "  ", "100", "1FF", "ABCD", "0x41", "g", "41,42", "-1", "+41", "４１" })
        addRow(bad[0] ? bad : "empty", true, true, QString::fromUtf8(bad), QByteArray(), "0");
}

void TestTerminal::send()
{
    const auto [open, hex, text, bytes, count]
        = fetchRow<bool, bool, QString, QByteArray, QString>("open", "hex", "text", "bytes", "count");
    FormFixture f(open);
    BoxCatcher boxes;
    if (hex)
        f.click("Option5");
    f.send(text);
    // Opened afterwards, the port finds nothing queued from a refused send.
    if (!open)
        f.click("Command5");
    QCOMPARE(f.pty.read(bytes.size()), bytes);
    QVERIFY(expectNothingFor(50, [&] { return f.pty.hasInput(); }));
    const QString badHex = QStringLiteral("请输入 00 到 FF 之间的十六进制数，以空格分隔（例如 AA 55 01 0D）。");
    QCOMPARE(boxes.boxes().size(), bytes.isNull() ? 1 : 0);
    if (bytes.isNull())
        QCOMPARE(boxes.boxes()[0].text, open ? badHex : kOpenThePort);
    // Text counts characters, hex counts bytes.
    QCOMPARE(f.sentCount(), count);
}

void TestTerminal::largePaste_data()
{
    // A null `wire` marks a paste the send area refuses.
    addColumns<QString, QByteArray>("text", "wire");
    QTest::newRow("100,000 characters, CR LF kept")
        << QStringLiteral("ATZ\r\n").repeated(20'000) << QByteArray("ATZ\r\n").repeated(20'000);
    QTest::newRow("more than 1 MiB on the wire")
        << QStringLiteral("中A").repeated(400'000) << QByteArrayLiteral("\xD6\xD0\x41").repeated(400'000);
    QTest::newRow("exactly full") << QString(1'048'576, u'x') << QByteArray(1'048'576, 'x');
    QTest::newRow("too long") << QString(1'048'577, u'x') << QByteArray();
}

void TestTerminal::largePaste()
{
    const auto [text, wire] = fetchRow<QString, QByteArray>("text", "wire");
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
            QStringLiteral("粘贴的内容共 1,048,577 个字符，超过了发送区的上限（1,048,576 个字符），未粘贴。"));
        QCOMPARE(f.get<QLineEdit>("Text2")->text(), QStringLiteral("kept"));
        return;
    }
    // Sent whole and counted once. Beyond the output bound, a second send while the first is still queued is
    // refused with a box and adds nothing.
    f.click("Command6");
    if (wire.size() > (1 << 20)) {
        f.click("Command6");
        QCOMPARE(boxes.boxes().value(0).text, QStringLiteral("上一次的数据尚未发送完毕，本次未发送。请稍后再试。"));
    }
    QCOMPARE(f.sentCount(), QString::number(text.size()));
    QCOMPARE(f.pty.read(wire.size(), 30'000), wire);
    QVERIFY(expectNothingFor(50, [&] { return f.pty.hasInput(); }));
}

void TestTerminal::lineEnd_data()
{
    // The line-end entries chosen one after the other ("/" between them), and what one send puts on the wire.
    // Auto-send's ticks send through the same path.
    addColumns<QString, bool, QByteArray, int>("choices", "hex", "wire", "count");
    const QByteArray at("AT\xD6\xD0");
    QTest::newRow("none at start") << "" << false << at << 3;
    QTest::newRow("CR") << "LineEndCr" << false << at + "\r" << 4;
    QTest::newRow("LF") << "LineEndLf" << false << at + "\n" << 4;
    QTest::newRow("CR LF") << "LineEndLf/LineEndCrLf" << false << at + "\r\n" << 5;
    QTest::newRow("CR LF then none") << "LineEndCrLf/LineEndNone" << false << at << 3;
    QTest::newRow("hex gets none") << "LineEndCrLf" << true << QByteArray("\x41\x0D") << 2;
}

void TestTerminal::lineEnd()
{
    const auto [choices, hex, wire, count]
        = fetchRow<QString, bool, QByteArray, int>("choices", "hex", "wire", "count");
    FormFixture f(true);
    for (const QString &name : choices.split(u'/', Qt::SkipEmptyParts))
        chooseInSendMenu(f, name);
    if (hex)
        f.click("Option5");
    f.send(hex ? QStringLiteral("41 0D") : QStringLiteral("AT中"));
    QCOMPARE(f.pty.read(wire.size() + 1, 200), wire);
    QCOMPARE(f.sentCount(), QString::number(count));
}

void TestTerminal::lineBreakMarks()
{
    // A CR or LF is drawn as a mark where the stock box draws a blank; what the box holds stays the characters.
    FormFixture f;
    auto *box = f.get<QLineEdit>("Text2");
    const auto look = [&](const QString &text) {
        box->setText(text);
        box->setCursorPosition(1);
        return box->grab().toImage();
    };
    const QImage blank = look(QStringLiteral("A B"));
    const QImage cr = look(QStringLiteral("A\rB"));
    const QImage lf = look(QStringLiteral("A\nB"));
    QVERIFY(cr != blank);
    QVERIFY(lf != blank);
    QVERIFY(cr != lf);
    look(QStringLiteral("AT中\r\n第二行\r\nx"));
    QCOMPARE(box->text(), QStringLiteral("AT中\r\n第二行\r\nx"));
    QCOMPARE(QAccessible::queryAccessibleInterface(box)->textInterface()->text(0, 4), QStringLiteral("AT中\r"));
}

void TestTerminal::history_data()
{
    // Sends by hand ("/" between them), then Up (U) and Down (D) with "typing" in the box; what each key shows.
    addColumns<QString, QString, QString>("sends", "keys", "shown");
    addRow("newest first, back to typing", "one/two/three", "UUUUDDDD", "three|two|one|one|two|three|typing|typing");
    addRow("a repeat moves to the front", "a/b/a", "UUU", "a|b|b");
    addRow("empty sends are not kept", "x//y/", "UUU", "y|x|x");
    addRow("nothing sent yet", "", "UD", "typing|typing");
}

void TestTerminal::history()
{
    const auto [sends, keys, shown] = fetchRow<QString, QString, QString>("sends", "keys", "shown");
    FormFixture f(true);
    for (const QString &text : sends.split(u'/')) {
        f.send(text);
    }
    f.setText("Text2", QStringLiteral("typing"));
    QStringList seen;
    for (QChar key : keys) {
        QTest::keyClick(f.get("Text2"), key == u'U' ? Qt::Key_Up : Qt::Key_Down);
        seen << f.get<QLineEdit>("Text2")->text();
    }
    QCOMPARE(seen.join(u'|'), shown);
}

void TestTerminal::historyBounds()
{
    SendHistory history;
    for (int i = 0; i < 150; ++i)
        history.add(QString::number(i));
    history.add(QStringLiteral("75"));
    QCOMPARE(history.entries().size(), 100);
    QCOMPARE(history.entries().value(0), QStringLiteral("75"));
    QCOMPARE(history.entries().value(1), QStringLiteral("149"));
    QCOMPARE(history.entries().constLast(), QStringLiteral("50"));
    // Whole send areas of 1 Mi characters: the oldest go first, and the newest always stays.
    for (char c : { 'a', 'b', 'c', 'd', 'e' })
        history.add(QString(1 << 20, QLatin1Char(c)));
    QCOMPARE(history.entries().size(), 4);
    QCOMPARE(history.entries().constLast().front(), u'b');
    history.add(QString(5 << 20, u'f'));
    QCOMPARE(history.entries().size(), 1);
}

namespace {

QString nextFile;
bool chooserAsked = false;

QString answerChooser(QWidget *)
{
    chooserAsked = true;
    return nextFile;
}

// A file of `size` bytes that are not a repeating pattern, so a slice sent twice or skipped shows.
QByteArray randomFile(const QString &path, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    std::mt19937 random(7);
    for (char &b : bytes)
        b = static_cast<char>(random());
    return writeFile(path, bytes) ? bytes : QByteArray();
}

QProgressDialog *progressDialog(const FormFixture &f)
{
    return f.form->findChild<QProgressDialog *>(QStringLiteral("SendFileProgress"));
}

} // namespace

void TestTerminal::sendFile_data()
{
    // The file chosen ("" none, "dir" a folder; a.bin and 固件.bin hold 10 MB), the port open or not, what stops
    // the send while the device reads nothing ("cancel", "unplug"; "" none), and the last box ("" none; %1 the
    // bytes counted).
    addColumns<QString, bool, QString, QString>("file", "open", "stop", "box");
    const QString unread = QStringLiteral("无法读取文件 %1：%2。\n没有发送任何数据。");
    QTest::newRow("10 MB byte for byte") << "固件.bin" << true << "" << QString();
    addRow("cancel", "a.bin", true, "cancel", "已取消发送文件 a.bin：\n已发送 %1 / 10,000,000 字节。");
    addRow("device gone", "a.bin", true, "unplug", "已发送 %1 / 10,000,000 字节。");
    QTest::newRow("no such file") << "none.bin" << true << "" << unread.arg("none.bin", "文件或文件夹不存在");
    QTest::newRow("a folder") << "dir" << true << "" << unread.arg("dir", "这是一个文件夹");
    QTest::newRow("none chosen") << "" << true << "" << QString();
    QTest::newRow("port closed") << "a.bin" << false << "" << kOpenThePort;
}

void TestTerminal::sendFile()
{
    const auto [file, open, stop, box] = fetchRow<QString, bool, QString, QString>("file", "open", "stop", "box");
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dir")));
    const QByteArray bytes
        = file == u"a.bin" || file == u"固件.bin" ? randomFile(dir.filePath(file), 10'000'000) : QByteArray();
    nextFile = file.isEmpty() ? QString() : dir.filePath(file);
    chooserAsked = false;
    chooseFileToSend = answerChooser;
    FormFixture f(open);
    BoxCatcher boxes;
    chooseInSendMenu(f, QStringLiteral("SendFile"));
    // A closed port is told before any file is asked for.
    QCOMPARE(chooserAsked, open);
    if (box.isEmpty() && !bytes.isEmpty()) {
        // Through the pty byte for byte, counted in bytes; the window receives meanwhile.
        f.pty.write("echo");
        const QByteArray sent = f.pty.read(bytes.size(), 60'000);
        QCOMPARE(sent.size(), bytes.size());
        QVERIFY(sent == bytes);
        QTRY_VERIFY(f.received().endsWith(QStringLiteral("echo")));
        QTRY_COMPARE(f.sentCount(), QStringLiteral("10000000"));
        QTRY_VERIFY(!progressDialog(f));
        QVERIFY(expectNothingFor(50, [&] { return f.pty.hasInput() || !boxes.boxes().isEmpty(); }));
        // The line is free again for sends by hand.
        f.send(QStringLiteral("ok"));
        QCOMPARE(f.pty.read(2), QByteArray("ok"));
        return;
    }
    if (stop.isEmpty()) {
        // Refused before anything is sent; opened afterwards, the port finds nothing queued.
        QTRY_COMPARE(boxes.boxes().value(0).text, box);
        if (!open)
            f.click("Command5");
        QVERIFY(
            expectNothingFor(50, [&] { return f.pty.hasInput() || boxes.boxes().size() > (box.isEmpty() ? 0 : 1); }));
        QCOMPARE(f.sentCount(), QStringLiteral("0"));
        return;
    }
    // The device reads nothing, so the file waits for the line; the progress dialog comes up, and the send stops.
    QTRY_VERIFY(progressDialog(f) && progressDialog(f)->isVisible());
    const QString counted = f.sentCount();
    QVERIFY(counted.toLongLong() > 0 && counted.toLongLong() < bytes.size());
    // A send by hand meanwhile would land in the middle of the file: it waits, with a box.
    f.send(QStringLiteral("x"));
    QCOMPARE(boxes.boxes().value(0).text, QStringLiteral("正在发送文件，请等文件发完或取消后再发送。"));
    if (stop == u"cancel") {
        QTest::mouseClick(progressDialog(f)->findChild<QPushButton *>(), Qt::LeftButton);
    } else {
        f.pty.closeMaster();
        QTRY_COMPARE(f.portShown(), kShownClosed);
    }
    QTRY_COMPARE(boxes.boxes().size(), 2);
    const QString amount = QLocale(QLocale::Chinese, QLocale::China).toString(counted.toLongLong());
    QVERIFY2(boxes.boxes()[1].text.endsWith(box.arg(amount)), qPrintable(boxes.boxes()[1].text));
    QCOMPARE(f.sentCount(), counted);
    QVERIFY(!progressDialog(f));
    if (stop != u"cancel")
        return;
    // Everything counted reached the device, and nothing after the cancel.
    const QByteArray sent = f.pty.read(bytes.size(), 1000);
    QCOMPARE(sent.size(), counted.toLongLong());
    QVERIFY(bytes.startsWith(sent));
    QVERIFY(expectNothingFor(100, [&] { return f.pty.hasInput(); }));
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

    // A box from elsewhere (a failed save's, which waits without blocking) holds the ticks but not the input.
    QTemporaryDir dir;
    boxes.setAutoClose(false);
    boxes.answers().setNextFileName(dir.filePath(QStringLiteral("no/such/x.txt")));
    saveCapture(f.form.get(), f.get<ReceiveArea>("Text1")->store(), 0, 1);
    QTRY_VERIFY(msgBoxOpen()); // the file is made on the save's own thread
    // What the ticks before sent drains; then the line stays quiet.
    const auto drained = [&] {
        for (int i = 0; i < 20 && !expectNothingFor(30, [&] { return f.pty.hasInput(); }); ++i)
            f.pty.read(1 << 16, 10);
        return expectNothingFor(100, [&] { return f.pty.hasInput(); });
    };
    QVERIFY(drained());
    f.pty.write(QByteArray("more"));
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("more")));
    QCOMPARE(f.caption("Command7"), kStopAutoSend);
    boxes.closeAll();
    QTRY_VERIFY(!msgBoxOpen());
    QVERIFY(f.pty.read(3).size() >= 3);

    // In hex mode the next tick's bad text stops auto-send with one box; once it is closed, ticks run again.
    boxes.setAutoClose(true);
    f.click("Option5");
    QTRY_COMPARE(f.caption("Command7"), kAutoSend);
    QTRY_COMPARE(boxes.boxes().size(), 2);
    QVERIFY(drained());
    f.click("Option3");
    f.click("Command7");
    QVERIFY(f.pty.read(3).size() >= 3);
}

void TestTerminal::period_data()
{
    // Auto-send switched on with the port open or not; the box it shows, if any.
    addColumns<bool, QString, QString>("open", "period", "box");
    const QString badPeriod = QStringLiteral("发送周期无效：请输入 0 到 2147483647 之间的整数（单位：毫秒）。");
    QTest::newRow("0 switches on but stays silent") << true << "0" << QString();
    QTest::newRow("longest period") << true << "2147483647" << QString();
    // It cannot send: it switches itself off first, then shows a single box.
    QTest::newRow("port closed") << false << "5" << kOpenThePort;
    for (const char *bad : { "abc", "-5", "1.5", "99999999999", "2147483648", "", "1e3" })
        QTest::newRow(bad[0] ? bad : "empty") << true << QString::fromLatin1(bad) << badPeriod;
}

void TestTerminal::period()
{
    const auto [open, period, box] = fetchRow<bool, QString, QString>("open", "period", "box");
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
