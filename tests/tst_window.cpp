// SPDX-License-Identifier: GPL-3.0-or-later
// The window, its start-up, its own commands and what a screen reader and a keyboard user get from it,
// offscreen and over real pseudo-terminals.

#include "port/mscomm.h"
#include "port/portselection.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "tests/support/rows.h"
#include "window/combobox.h"
#include "window/counterlabel.h"
#include "window/optionbutton.h"

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
    void controls();
    void commands_data();
    void commands();
    void comboClicksOnlyWhenAnEntryIsChosen();
    void countersShowTheWholeNumber_data();
    void countersShowTheWholeNumber();
    void portToolTip();
    void refusedOpen_data();
    void refusedOpen();
    void startUpTabChainAndKeysThatPressNothing();
};

void TestWindow::controls()
{
    // Every control after start-up: its container and what it shows.
    const QStringList expected { "Frame3 in Form1: 端口设置", "Frame4 in Form1: 打开/关闭串口",
        "Frame2 in Form1: 发送区", "Frame1 in Form1: 接收区", "Label3 in Frame3: COM口",
        "Combo1 in Frame3: COM1|COM1|COM2|COM3|COM4|COM5|COM6|COM7|COM8|COM9|COM10|COM11|COM12|COM13|COM14|COM15|COM16",
        "Label4 in Frame3: 波特率",
        "Combo2 in Frame3: 9600|256000|128000|115200|57600|38400|28800|19200|9600|4800|2400|1200|600",
        "Label5 in Frame3: 校验位", "Combo3 in Frame3: 无None|无None|奇Odd|偶Even", "Label6 in Frame3: 数据位",
        "Combo4 in Frame3: 8|4|5|6|7|8", "Label7 in Frame3: 停止位", "Combo5 in Frame3: 1|1|2",
        "Command5 in Frame4: 打开串口", "Shape1 in Frame4: ", "Label8 in Frame4: 接收", "Label10 in Frame4: 0",
        "Label9 in Frame4: 发送", "Label11 in Frame4: 0", "Command8 in Frame4: 清空计数",
        "Text2 in Frame2: ", "Option5 in Frame2: 十六进制显示", "Command4 in Frame2: 清发送区",
        "Option3 in Frame2: 字符格式显示", "Command6 in Frame2: 手动发送", "Command7 in Frame2: 自动发送",
        "Label1 in Frame2: 发送周期", "Text3 in Frame2: 1000", "Label2 in Frame2: 毫秒",
        "Text1 in Frame1: ", "Option1 in Frame1: 十六进制", "Option2 in Frame1: 字符格式",
        "Command3 in Frame1: 清接收区", "Command1 in Frame1: 检查更新" };
    FormFixture f;
    QCOMPARE(f.form->windowTitle(), QStringLiteral("ZEL串口调试软件 "));
    QCOMPARE(f.form->size(), QSize(598, 382)); // 8970 x 5730
    for (const QString &row : expected) {
        const QString name = row.section(u' ', 0, 0);
        QWidget *w = f.get(qPrintable(name));
        QVERIFY2(w && w->isVisibleTo(f.form.get()) && w->isEnabled(), qPrintable(name));
        const QString container = w->parentWidget()->objectName();
        QCOMPARE(name + " in " + (container.isEmpty() ? QStringLiteral("Form1") : container) + ": " + shown(w), row);
    }
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
    const auto spoken
        = [&](const char *name) { return QAccessible::queryAccessibleInterface(f.get(name))->text(QAccessible::Name); };
    QCOMPARE(spoken("Label10"), QStringLiteral("接收计数 0"));
    f.pty.write("0123456789AB");
    QTRY_COMPARE(f.receivedCount(), QStringLiteral("12"));
    f.send(QStringLiteral("hello"));
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
    // A counter's accessible name carries the live number, not the one it had when it was first asked.
    QCOMPARE(spoken("Label10") + u'|' + spoken("Label11"),
        QStringLiteral("接收计数 %1|发送计数 %2").arg(f.receivedCount(), f.sentCount()));
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
    addColumns<int, QString, int, QString>("entry", "obstacle", "systemError", "reason");
    addRow("no device listed", 15, "", 0, "COM16 没有对应的串口设备。");
    addRow("listed device missing", 2, "", ENOENT, "COM3 没有对应的串口设备。");
    addRow("no permission", 0, "not mine", EACCES,
        "没有权限打开 DEVICE。\n请用下面的命令将当前用户加入 dialout 组，重新登录后再试："
        "\nsudo usermod -aG dialout $USER");
    addRow("busy", 0, "held", EBUSY, "DEVICE 正被其他程序占用。请关闭占用它的程序后再试。");
    addRow("settings refused", 3, "7 data bits", EINVAL, "DEVICE 不接受这组设置（9600,N,7,1）：参数无效。");
    // All in Chinese: the system's reason, never its English message.
    addRow("not a terminal", 1, "", ENOTTY, "无法打开 DEVICE：不是串口设备。");
}

void TestWindow::refusedOpen()
{
    auto [entry, obstacle, systemError, reason]
        = fetchRow<int, QString, int, QString>("entry", "obstacle", "systemError", "reason");

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
    const auto restoreUid = qScopeGuard([&] {
        if (obstacle == u"not mine" && uid == 0 && ::setresuid(0, 0, 0) != 0)
            qFatal("root's user id not restored");
    });
    f.get<ComboBox>("Combo1")->setListIndex(entry);

    BoxCatcher boxes;
    f.click("Command5");
    try {
        f.form->MSComm1->setPortOpen(true);
        QFAIL("opened");
    } catch (const CommError &e) {
        QCOMPARE(e.systemError(), systemError);
    }

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
