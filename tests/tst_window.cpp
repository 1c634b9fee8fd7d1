// SPDX-License-Identifier: GPL-3.0-or-later
// The window, its start-up, its own commands and what a screen reader and a keyboard user get from it,
// offscreen and over real pseudo-terminals.

#include "port/mscomm.h"
#include "port/portselection.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/counterlabel.h"
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
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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
    // Every control after start-up: its container and what it shows.
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, const char *in, const char *text) {
        QTest::newRow(name) << QString::fromLatin1(in) << QString::fromUtf8(text);
    };
    row("Frame3", "Form1", "端口设置");
    row("Frame4", "Form1", "打开/关闭串口");
    row("Frame2", "Form1", "发送区");
    row("Frame1", "Form1", "接收区");
    row("Label3", "Frame3", "COM口");
    row("Combo1", "Frame3",
        "COM1|COM1|COM2|COM3|COM4|COM5|COM6|COM7|COM8|COM9|COM10|COM11|COM12|COM13|COM14|COM15|COM16");
    row("Label4", "Frame3", "波特率");
    row("Combo2", "Frame3", "9600|256000|128000|115200|57600|38400|28800|19200|9600|4800|2400|1200|600");
    row("Label5", "Frame3", "校验位");
    row("Combo3", "Frame3", "无None|无None|奇Odd|偶Even");
    row("Label6", "Frame3", "数据位");
    row("Combo4", "Frame3", "8|4|5|6|7|8");
    row("Label7", "Frame3", "停止位");
    row("Combo5", "Frame3", "1|1|2");
    row("Command5", "Frame4", "打开串口");
    row("Shape1", "Frame4", "");
    row("Label8", "Frame4", "接收");
    row("Label10", "Frame4", "0");
    row("Label9", "Frame4", "发送");
    row("Label11", "Frame4", "0");
    row("Command8", "Frame4", "清空计数");
    row("Text2", "Frame2", "");
    row("Option5", "Frame2", "十六进制显示");
    row("Command4", "Frame2", "清发送区");
    row("Option3", "Frame2", "字符格式显示");
    row("Command6", "Frame2", "手动发送");
    row("Command7", "Frame2", "自动发送");
    row("Label1", "Frame2", "发送周期");
    row("Text3", "Frame2", "1000");
    row("Label2", "Frame2", "毫秒");
    row("Text1", "Frame1", "");
    row("Option1", "Frame1", "十六进制");
    row("Option2", "Frame1", "字符格式");
    row("Command3", "Frame1", "清接收区");
    row("Command1", "Frame1", "检查更新");
}

void TestWindow::controls()
{
    QFETCH(QString, container);
    QFETCH(QString, text);
    FormFixture f;
    QCOMPARE(f.form->windowTitle(), QStringLiteral("ZEL串口调试软件 "));
    QCOMPARE(f.form->size(), QSize(598, 382)); // 8970 x 5730
    QWidget *w = f.get(QTest::currentDataTag());
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName().isEmpty() ? QStringLiteral("Form1") : w->parentWidget()->objectName(),
        container);
    QCOMPARE(shown(w), text);
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
    // The device goes away: the window shows the port closed by itself, without a box. A hung-up line is found by
    // the reader; a USB adapter pulled out may first fail a call of the port's own, which reports a resource error.
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
    else if (command == QLatin1String("hung up"))
        f.pty.closeMaster();
    else if (command == QLatin1String("pulled out"))
        emit f.form->MSComm1->findChild<QSerialPort *>()->errorOccurred(QSerialPort::ResourceError);
    else
        f.click(qPrintable(command.section(u' ', 0, 0)));
    if (command == QLatin1String("Option1")) {
        f.pty.write(QByteArray("\x0A\xFF\x41"));
        QTRY_COMPARE(f.receivedCount(), QStringLiteral("15"));
    }
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
    // COM1 is the pty, COM2 a plain file, COM3 a path with nothing behind it, COM4 a pty master (which takes no 7
    // data bits). The port chosen, what stands in its way, the system's error number the component gives, and
    // the line under "端口号不可用" (DEVICE stands for the device's path).
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<int>("systemError");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no device listed") << 15 << "" << 0 << "COM16 没有对应的串口设备。";
    QTest::newRow("listed device missing") << 2 << "" << ENOENT << "COM3 没有对应的串口设备。";
    QTest::newRow("no permission") << 0 << "not mine" << EACCES
                                   << "没有权限打开 DEVICE。\n请用下面的命令将当前用户加入 dialout 组，重新登录后再试："
                                      "\nsudo usermod -aG dialout $USER";
    QTest::newRow("busy") << 0 << "held" << EBUSY << "DEVICE 正被其他程序占用。请关闭占用它的程序后再试。";
    QTest::newRow("settings refused") << 3 << "7 data bits" << EINVAL
                                      << "DEVICE 不接受这组设置（9600,N,7,1）：参数无效。";
    // All in Chinese: the system's reason, never its English message.
    QTest::newRow("not a terminal") << 1 << "" << ENOTTY << "无法打开 DEVICE：不是串口设备。";
}

void TestWindow::refusedOpen()
{
    QFETCH(int, entry);
    QFETCH(QString, obstacle);
    QFETCH(int, systemError);
    QFETCH(QString, reason);

    FormFixture f;
    QTemporaryFile plain;
    QVERIFY(plain.open());
    const QStringList devices { f.pty.slavePath(), plain.fileName(), "/dev/zelcom-no-such-device", "/dev/ptmx" };
    qputenv("ZELCOM_PORTS", devices.join(u':').toLocal8Bit());
    reason.replace(QStringLiteral("DEVICE"), devices.value(entry));
    MSComm other;
    if (obstacle == u"held")
        other.setPortOpen(true);
    if (obstacle == u"7 data bits") {
        f.get<ComboBox>("Combo4")->setText(QStringLiteral("7"));
        Timer1_Timer(*f.form);
    }
    // Root opens any file; an ordinary user cannot open a device that is root's alone.
    const uid_t uid = ::geteuid();
    const QByteArray slave = QFile::encodeName(f.pty.slavePath());
    if (obstacle == u"not mine")
        QVERIFY(uid == 0 ? ::setresuid(65534, 65534, 0) == 0 : ::chmod(slave.constData(), 0) == 0);
    const auto restoreUid = [&] {
        if (obstacle == u"not mine" && uid == 0)
            QVERIFY(::setresuid(0, 0, 0) == 0);
    };
    auto restore = qScopeGuard(restoreUid);
    f.get<ComboBox>("Combo1")->setListIndex(entry);

    BoxCatcher boxes;
    f.click("Command5");
    try {
        f.form->MSComm1->setPortOpen(true);
        QFAIL("opened");
    } catch (const CommError &e) {
        QCOMPARE(e.systemError(), systemError);
    }
    restore.dismiss();
    restoreUid();

    QCOMPARE(boxes.boxes().size(), 1);
    const BoxCatcher::Box box = boxes.boxes().first();
    QCOMPARE(box.text, QStringLiteral("端口号不可用"));
    QCOMPARE(box.title, QStringLiteral("zel串口调试助手"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.informative, reason);

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
