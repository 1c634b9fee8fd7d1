// SPDX-License-Identifier: GPL-3.0-or-later
// The window, its start-up, its own commands and what a screen reader and a keyboard user get from it,
// offscreen and over real pseudo-terminals.

#include "port/mscomm.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryFile>
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

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void comboClicksOnlyWhenAnEntryIsChosen();
    void openCloseAndDeviceLoss();
    void refusedOpen_data();
    void refusedOpen();
    void startUpTabChainAndKeysThatPressNothing();
};

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

void TestWindow::openCloseAndDeviceLoss()
{
    FormFixture f;
    BoxCatcher boxes;
    const auto spoken = [](QWidget *w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    auto *received = f.get("Label10");
    QCOMPARE(spoken(f.get("Label11")), QStringLiteral("发送计数 0"));
    f.click("Command5");
    QCOMPARE(f.portShown(), kShownOpen);
    // A counter's name carries the live number, not the one it had when it was first asked.
    QCOMPARE(spoken(received), QStringLiteral("接收计数 0"));
    f.pty.write("12345");
    QTRY_COMPARE(spoken(received), QStringLiteral("接收计数 5"));

    f.click("Command5");
    QVERIFY(!f.form->MSComm1->PortOpen());
    QCOMPARE(f.portShown(), kShownClosed);

    // Opened again, then unplugged: the window shows the port closed by itself, without a box.
    f.click("Command5");
    QCOMPARE(f.portShown(), kShownOpen);
    f.pty.closeMaster();
    QTRY_COMPARE(f.portShown(), kShownClosed);
    QVERIFY(!f.form->MSComm1->PortOpen());
    QVERIFY(boxes.boxes().isEmpty());
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
    QTest::newRow("not a terminal") << 1 << false << QStringLiteral("FILE 无法打开（系统错误 %1）。").arg(ENOTTY);
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
