// SPDX-License-Identifier: GPL-3.0-or-later
// The window, its start-up, its own commands and what a screen reader and a keyboard user get from it,
// offscreen and over real pseudo-terminals.

#include "port/mscomm.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/counterlabel.h"
#include "window/layout.h"
#include "window/optionbutton.h"
#include "window/texts.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <cerrno>

namespace {

// The named control that holds the keyboard focus (an editable box hands it to its line edit).
QString focusedControl(const Form1 &form)
{
    for (QWidget *w = QApplication::focusWidget(); w && w != &form; w = w->parentWidget())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            return w->objectName();
    return QStringLiteral("<none>");
}

// Presses `key` where the keyboard focus is, if anywhere (a box that opened and closed may have taken it).
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    if (QWidget *w = QApplication::focusWidget())
        QTest::keyClick(w, key, modifiers);
}

// What a control shows: a frame's caption, a label's, a button's or a box's text and, for a list, its entries after
// "|"; a lamp shows nothing.
QString shown(QWidget *w)
{
    if (auto *combo = qobject_cast<ComboBox *>(w)) {
        QStringList parts { combo->text() };
        for (int i = 0; i < combo->count(); ++i)
            parts << combo->itemText(i);
        return parts.join(u'|');
    }
    return w->property(qobject_cast<QGroupBox *>(w) ? "title" : "text").toString();
}

// Receives what "检查更新" hands to the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void commands_data();
    void commands();
    void comboClicksOnlyWhenAnEntryIsChosen();
    void countersSpeakTheirNumber();
    void countersShowTheWholeNumber_data();
    void countersShowTheWholeNumber();
    void systemReasonsInChinese_data();
    void systemReasonsInChinese();
    void portToolTip();
    void refusedOpen_data();
    void refusedOpen();
    void startUpTabChainAndKeysThatPressNothing();
};

void TestWindow::controls_data()
{
    // Every control after start-up: its container, what it shows, its place and size in 1/1440 inch.
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    const auto row = [](const char *name, const char *in, const char *text, int l, int t, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(in) << QString::fromUtf8(text) << QRect(l, t, w, h);
    };
    row("Frame3", "Form1", "端口设置", 360, 120, 2175, 2655);
    row("Frame4", "Form1", "打开/关闭串口", 2640, 120, 1455, 2655);
    row("Frame2", "Form1", "发送区", 360, 2880, 3735, 2775);
    row("Frame1", "Form1", "接收区", 4320, 120, 4575, 5535);
    row("Label3", "Frame3", "COM口", 120, 360, 495, 255);
    row("Combo1", "Frame3",
        "COM1|COM1|COM2|COM3|COM4|COM5|COM6|COM7|COM8|COM9|COM10|COM11|COM12|COM13|COM14|COM15|COM16", 840, 360, 1095,
        300);
    row("Label4", "Frame3", "波特率", 120, 840, 615, 255);
    row("Combo2", "Frame3", "9600|256000|128000|115200|57600|38400|28800|19200|9600|4800|2400|1200|600", 840, 840, 1095,
        300);
    row("Label5", "Frame3", "校验位", 120, 1320, 615, 255);
    row("Combo3", "Frame3", "无None|无None|奇Odd|偶Even", 840, 1320, 1095, 300);
    row("Label6", "Frame3", "数据位", 120, 1800, 615, 255);
    row("Combo4", "Frame3", "8|4|5|6|7|8", 840, 1800, 1095, 300);
    row("Label7", "Frame3", "停止位", 120, 2280, 615, 255);
    row("Combo5", "Frame3", "1|1|2", 840, 2280, 1095, 300);
    row("Command5", "Frame4", "打开串口", 120, 360, 975, 375);
    row("Shape1", "Frame4", "", 1200, 480, 255, 150);
    row("Label8", "Frame4", "接收", 120, 960, 375, 255);
    row("Label10", "Frame4", "0", 600, 960, 735, 255);
    row("Label9", "Frame4", "发送", 120, 1440, 375, 255);
    row("Label11", "Frame4", "0", 600, 1440, 735, 255);
    row("Command8", "Frame4", "清空计数", 120, 2040, 975, 375);
    row("Text2", "Frame2", "", 120, 240, 3495, 735);
    row("Option5", "Frame2", "十六进制显示", 360, 1080, 1575, 255);
    row("Command4", "Frame2", "清发送区", 2040, 1080, 1575, 375);
    row("Option3", "Frame2", "字符格式显示", 360, 1440, 1695, 255);
    row("Command6", "Frame2", "手动发送", 360, 1800, 1575, 375);
    row("Command7", "Frame2", "自动发送", 2040, 1800, 1575, 375);
    row("Label1", "Frame2", "发送周期", 480, 2400, 1215, 255);
    row("Text3", "Frame2", "1000", 1440, 2370, 975, 270);
    row("Label2", "Frame2", "毫秒", 2640, 2400, 855, 255);
    row("Text1", "Frame1", "", 120, 240, 4335, 3735);
    row("Option1", "Frame1", "十六进制", 480, 4200, 1695, 255);
    row("Option2", "Frame1", "字符格式", 2400, 4200, 1695, 255);
    row("Command3", "Frame1", "清接收区", 480, 4800, 1095, 375);
    row("Command1", "Frame1", "检查更新", 2160, 4800, 1335, 375);
}

void TestWindow::controls()
{
    QFETCH(QString, container);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    FormFixture f;
    QCOMPARE(f.form->windowTitle(), QStringLiteral("ZEL串口调试软件 "));
    QCOMPARE(f.form->size(), QSize(598, 382)); // 8970 x 5730
    QWidget *w = f.get(QTest::currentDataTag());
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName().isEmpty() ? QStringLiteral("Form1") : w->parentWidget()->objectName(),
        container);
    QCOMPARE(shown(w), text);
    // 15 twips make a pixel.
    QCOMPARE(w->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QVERIFY(w->isVisibleTo(f.form.get()) && w->isEnabled());
}

void TestWindow::commands_data()
{
    // After the port was opened, "0123456789AB" received, "hello" sent and left in the send area, and the
    // command done: the receive area, the send area, both counters, what the port shows and whether the
    // device is open.
    QTest::addColumn<QString>("state");
    QTest::newRow("Command3") << "|hello|12|5|关闭串口 #ff0000 串口已打开|open";
    QTest::newRow("Command4") << "0123456789AB||12|5|关闭串口 #ff0000 串口已打开|open";
    QTest::newRow("Command8") << "0123456789AB|hello|0|0|关闭串口 #ff0000 串口已打开|open";
    QTest::newRow("Command5") << "0123456789AB|hello|12|5|打开串口 #c0ffff 串口已关闭|closed";
    QTest::newRow("Command1") << "0123456789AB|hello|12|5|关闭串口 #ff0000 串口已打开|open";
    // No open action on the offscreen platform: a box says so and gives the address.
    QTest::newRow("Command1 without a browser") << "0123456789AB|hello|12|5|关闭串口 #ff0000 串口已打开|open";
    // Choosing another port closes the open one, and the window says so.
    QTest::newRow("COM2") << "0123456789AB|hello|12|5|打开串口 #c0ffff 串口已关闭|closed";
    // Hex display from the next data on; what is shown stays as it is.
    QTest::newRow("Option1") << "0123456789AB0A FF 41 |hello|15|5|关闭串口 #ff0000 串口已打开|open";
    // The device goes away: the window shows the port closed by itself, without a box. A USB adapter pulled out
    // fails its reads with EIO, which Qt reports as a resource error; a hung-up pty reads end-of-file, which Qt
    // reports as a read error with the error number left from before, so EIO left there plays the adapter.
    QTest::newRow("hung up") << "0123456789AB|hello|12|5|打开串口 #c0ffff 串口已关闭|closed";
    QTest::newRow("pulled out") << "0123456789AB|hello|12|5|打开串口 #c0ffff 串口已关闭|closed";
}

void TestWindow::commands()
{
    QFETCH(QString, state);
    FormFixture f(true);
    BoxCatcher boxes;
    UrlCatcher desktop;
    const QString command = QString::fromLatin1(QTest::currentDataTag());
    const bool noBrowser = command == QLatin1String("Command1 without a browser");
    if (!noBrowser)
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &desktop, "open");
    f.pty.write("0123456789AB");
    QTRY_COMPARE(f.receivedCount(), QStringLiteral("12"));
    f.setText("Text2", QStringLiteral("hello"));
    f.click("Command6");
    QCOMPARE(f.pty.read(5), QByteArray("hello"));

    if (command == QLatin1String("COM2"))
        f.get<ComboBox>("Combo1")->setListIndex(1);
    else if (command == QLatin1String("hung up") || command == QLatin1String("pulled out"))
        f.pty.closeMaster();
    else
        f.click(qPrintable(command.section(u' ', 0, 0)));
    if (command == QLatin1String("Option1")) {
        f.pty.write(QByteArray("\x0A\xFF\x41"));
        QTRY_COMPARE(f.receivedCount(), QStringLiteral("15"));
    }
    if (command == QLatin1String("pulled out"))
        errno = EIO;
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(desktop.urls,
        command == QLatin1String("Command1") ? QList<QUrl> { QUrl("http://zel.example") } : QList<QUrl>());
    QTRY_COMPARE(QStringList({ f.received(), f.get<QLineEdit>("Text2")->text(), f.receivedCount(), f.sentCount(),
                                 f.portShown(), f.form->MSComm1->PortOpen() ? "open" : "closed" })
                     .join(u'|'),
        state);
    if (noBrowser) {
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].text + u'|' + boxes.boxes()[0].informative,
            QStringLiteral("无法打开浏览器。|请在浏览器中访问以下网址：\nhttp://zel.example"));
    } else {
        QVERIFY(boxes.boxes().isEmpty());
    }
}

void TestWindow::comboClicksOnlyWhenAnEntryIsChosen()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    auto *combo1 = f.get<ComboBox>("Combo1");

    // A wheel notch over the box, delivered as the window system delivers it, turns the box only while it has
    // the keyboard focus: the mouse passing over the port list leaves the open port alone.
    const auto wheel = [field = combo1->lineEdit()] {
        const QPointF at = field->rect().center();
        QWheelEvent notch(at, field->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
            Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&notch);
        QApplication::instance()->notify(field, &notch);
    };
    f.click("Command5");
    wheel();
    QCOMPARE(combo1->ListIndex(), 0);
    QVERIFY(f.form->MSComm1->PortOpen());
    combo1->setFocus();
    wheel();
    QCOMPARE(combo1->ListIndex(), 1);

    QSignalSpy clicks(combo1, &ComboBox::Click);

    // Typing an entry's name, Enter and leaving the box choose nothing and add nothing.
    combo1->lineEdit()->selectAll();
    QTest::keyClicks(combo1->lineEdit(), QStringLiteral("COM3"));
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Return);
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Enter);
    f.get("Text2")->setFocus();
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(combo1->text(), QStringLiteral("COM3"));
    QCOMPARE(f.form->MSComm1->CommPort(), 2);
}

void TestWindow::countersSpeakTheirNumber()
{
    FormFixture f(true);
    const auto spoken = [](QWidget *w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    QCOMPARE(spoken(f.get("Label11")), QStringLiteral("发送计数 0"));
    // A counter's name carries the live number, not the one it had when it was first asked.
    QCOMPARE(spoken(f.get("Label10")), QStringLiteral("接收计数 0"));
    f.pty.write("12345");
    QTRY_COMPARE(spoken(f.get("Label10")), QStringLiteral("接收计数 5"));
}

void TestWindow::countersShowTheWholeNumber_data()
{
    QTest::addColumn<QString>("caption");
    QTest::newRow("1") << QStringLiteral("1");
    QTest::newRow("10^7") << QStringLiteral("10000000");
    QTest::newRow("10^9") << QStringLiteral("1000000000");
    QTest::newRow("10^20") << QStringLiteral("100000000000000000000");
}

// The caption stays the exact number, and the box shows every digit of it: the ink the label paints spans as
// wide as the same text drawn without a bound, in the font the label draws it with.
void TestWindow::countersShowTheWholeNumber()
{
    QFETCH(QString, caption);
    FormFixture f;
    auto *counter = f.get<CounterLabel>("Label10");
    counter->setText(caption);
    QCOMPARE(counter->text(), caption);
    QCOMPARE(counter->width(), 49);
    const QFont font = counter->shownFont();
    QVERIFY(QFontMetricsF(font, counter).horizontalAdvance(caption) <= counter->contentsRect().width());
    if (caption.size() <= 7)
        QCOMPARE(font, counter->font());

    const auto inkWidth = [](const QImage &image) {
        int first = image.width(), last = -1;
        const QRgb paper = image.pixel(image.width() - 1, image.height() - 1);
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (image.pixel(x, y) != paper) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
        return last - first + 1;
    };
    const QImage painted = counter->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage free(400, counter->height(), QImage::Format_RGB32);
    free.fill(painted.pixel(painted.width() - 1, painted.height() - 1));
    {
        QPainter painter(&free);
        painter.setFont(font);
        painter.setPen(counter->palette().color(counter->foregroundRole()));
        painter.drawText(
            free.rect().adjusted(counter->contentsRect().x(), 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, caption);
    }
    QVERIFY(inkWidth(painted) > 0);
    QCOMPARE(inkWidth(painted), inkWidth(free));
}

void TestWindow::systemReasonsInChinese_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::newRow("ENOSPC") << ENOSPC << QStringLiteral("磁盘空间已满");
    QTest::newRow("EDQUOT") << EDQUOT << QStringLiteral("超出了磁盘配额");
    QTest::newRow("EFBIG") << EFBIG << QStringLiteral("文件超过了允许的最大长度");
    QTest::newRow("EROFS") << EROFS << QStringLiteral("文件系统是只读的");
    QTest::newRow("EACCES") << EACCES << QStringLiteral("没有权限");
    QTest::newRow("EPERM") << EPERM << QStringLiteral("没有权限");
    QTest::newRow("ENOENT") << ENOENT << QStringLiteral("文件或文件夹不存在");
    QTest::newRow("ENOTDIR") << ENOTDIR << QStringLiteral("路径中有一部分不是文件夹");
    QTest::newRow("EISDIR") << EISDIR << QStringLiteral("这是一个文件夹");
    QTest::newRow("EIO") << EIO << QStringLiteral("输入输出错误（设备或磁盘出错）");
    QTest::newRow("EBUSY") << EBUSY << QStringLiteral("设备正被占用");
    QTest::newRow("ENODEV") << ENODEV << QStringLiteral("设备不存在或已被拔出");
    QTest::newRow("ENXIO") << ENXIO << QStringLiteral("设备不存在或已被拔出");
    QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << QStringLiteral("文件名太长");
    QTest::newRow("EMFILE") << EMFILE << QStringLiteral("打开的文件太多");
    QTest::newRow("ENOMEM") << ENOMEM << QStringLiteral("内存不足");
    QTest::newRow("ETXTBSY") << ETXTBSY << QStringLiteral("文件正被其他程序使用");
    QTest::newRow("ESTALE") << ESTALE << QStringLiteral("网络文件系统上的文件已失效");
    QTest::newRow("ENOTTY") << ENOTTY << QStringLiteral("不是串口设备");
    QTest::newRow("EINVAL") << EINVAL << QStringLiteral("参数无效");
    QTest::newRow("a number not in the table") << 4095 << QStringLiteral("系统错误 4095");
}

// Whatever the locale: the system's own words would follow it and may be English.
void TestWindow::systemReasonsInChinese()
{
    QFETCH(int, error);
    QFETCH(QString, reason);
    QCOMPARE(Texts::systemReason(error), reason);
}

void TestWindow::portToolTip()
{
    FormFixture f;
    auto *combo1 = f.get<ComboBox>("Combo1");
    const auto tip = [combo1] {
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), combo1->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(combo1, &help);
        return QToolTip::text();
    };
    qputenv("ZELCOM_PORTS", "/dev/zelcom-a:/dev/zelcom-b");
    QCOMPARE(tip(), QStringLiteral("COM1 = /dev/zelcom-a\nCOM2 = /dev/zelcom-b"));
    qputenv("ZELCOM_PORTS", "");
    QCOMPARE(tip(), QStringLiteral("没有找到串口设备"));
}

void TestWindow::refusedOpen_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("holdFirst");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no device") << 15 << false << QStringLiteral("COM16 没有对应的串口设备");
    QTest::newRow("listed device missing") << 2 << false << QStringLiteral("COM3 没有对应的串口设备");
    QTest::newRow("busy") << 0 << true << QStringLiteral("正被其他程序占用");
    // All in Chinese: the system's number, never its English message.
    QTest::newRow("not a terminal") << 1 << false << QStringLiteral("无法打开 FILE：不是串口设备。");
}

void TestWindow::refusedOpen()
{
    QFETCH(int, entry);
    QFETCH(bool, holdFirst);
    QFETCH(QString, reason);

    FormFixture f;
    QTemporaryFile plain;
    QVERIFY(plain.open());
    qputenv(
        "ZELCOM_PORTS", (f.pty.slavePath() + u':' + plain.fileName() + ":/dev/zelcom-no-such-device").toLocal8Bit());
    reason.replace(QStringLiteral("FILE"), plain.fileName());
    MSComm other;
    if (holdFirst)
        other.setPortOpen(true);
    BoxCatcher boxes;
    f.get<ComboBox>("Combo1")->setListIndex(entry);
    f.click("Command5");

    QCOMPARE(boxes.boxes().size(), 1);
    const BoxCatcher::Box box = boxes.boxes().first();
    QCOMPARE(box.text, QStringLiteral("端口号不可用"));
    QCOMPARE(box.title, QStringLiteral("zel串口调试助手"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY2(box.informative.contains(reason), qPrintable(box.informative));

    QVERIFY(!f.form->MSComm1->PortOpen());
    QCOMPARE(f.portShown(), kShownClosed);
}

void TestWindow::startUpTabChainAndKeysThatPressNothing()
{
    FormFixture f;
    // The icon reaches the window from a program linked as app/ links it.
    QCOMPARE(f.form->windowIcon().availableSizes(), QList<QSize>({ QSize(48, 48) }));
    // Qt's own words are Chinese too: a text box's context menu and a message box's button.
    const std::unique_ptr<QMenu> menu(f.get<QLineEdit>("Text3")->createStandardContextMenu());
    const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2}"));
    for (const QAction *action : menu->actions()) // the shortcut after the tab may stay as it is
        QVERIFY2(!action->text().section(u'\t', 0, 0).contains(latinWord), qPrintable(action->text()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
    QCOMPARE(f.portShown(), kShownClosed);
    // Nothing in the filled settings lists is chosen: the boxes show their initial text.
    auto *combo2 = f.get<ComboBox>("Combo2");
    QCOMPARE(combo2->text(), QStringLiteral("9600"));
    QCOMPARE(combo2->ListIndex(), -1);
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    const QSize size = f.form->size();
    f.form->resize(800, 600);
    QCOMPARE(f.form->size(), size);
    // A button pressed by mistake may open a box; closing it keeps the test from hanging.
    BoxCatcher boxes;
    QStringList pressed;
    for (QPushButton *b : f.form->findChildren<QPushButton *>())
        connect(b, &QPushButton::clicked, this, [&pressed, b] { pressed << b->objectName(); });
    // The stops as a keyboard user meets them: each option group once, at its selected button; frames and
    // labels never.
    const QStringList stops { "Option2", "Command3", "Text2", "Option3", "Command4", "Text3", "Command6", "Command7",
        "Text1", "Combo5", "Combo4", "Combo3", "Combo2", "Combo1", "Command8", "Command5", "Command1" };
    // The keyboard starts on the first stop, and Tab from the last stop comes back to it. Focusing a radio button
    // here would take the Tab stop off the other button of its group and hide a group with two stops.
    QTRY_COMPARE(focusedControl(*f.form), stops.first());
    f.get(qPrintable(stops.last()))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Tab);

    // Once round with Tab, pressing Enter and Esc at every stop, then once round back with Shift+Tab.
    QStringList visited { focusedControl(*f.form) };
    for (qsizetype i = 0; i < stops.size(); ++i) {
        for (int key : { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape })
            press(Qt::Key(key));
        press(Qt::Key_Tab);
        visited << focusedControl(*f.form);
    }
    for (qsizetype i = 0; i < stops.size(); ++i) {
        press(Qt::Key_Tab, Qt::ShiftModifier);
        visited << focusedControl(*f.form);
    }
    QStringList expected = stops + QStringList { stops.first() };
    std::copy(stops.crbegin(), stops.crend(), std::back_inserter(expected));
    QCOMPARE(pressed, QStringList());
    QCOMPARE(visited, expected);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
