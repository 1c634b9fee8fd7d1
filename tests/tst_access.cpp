// What a screen reader and a keyboard user get from the window, offscreen over a real pty.

#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>

namespace {

QString accessibleName(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

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

// Every stop of the Tab chain after start-up: each option group is one stop, at its selected button;
// frames, labels and the lamp take no focus.
const QStringList kTabStops = QStringLiteral("Option2 Command3 Text2 Option3 Command4 Text3 Command6 Command7 "
                                             "Text1 Combo5 Combo4 Combo3 Combo2 Combo1 Command8 Command5 Command1")
                                  .split(u' ');

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void namesFollowTheState();
    void tabChainAndKeysThatPressNothing();
};

void TestAccess::namesFollowTheState()
{
    FormFixture f;
    auto *lamp = f.get<Shape>("Shape1");
    auto *received = f.get<QLabel>("Label10");
    QCOMPARE(accessibleName(lamp), QStringLiteral("串口已关闭"));
    QCOMPARE(accessibleName(received), QStringLiteral("接收计数 0"));
    QCOMPARE(accessibleName(f.get("Label11")), QStringLiteral("发送计数 0"));

    f.click("Command5");
    QCOMPARE(accessibleName(lamp), QStringLiteral("串口已打开"));
    // A counter's name carries the live number, not the one it had when it was first asked.
    f.pty.write("12345");
    QTRY_COMPARE(received->text(), QStringLiteral("5"));
    QCOMPARE(accessibleName(received), QStringLiteral("接收计数 5"));
    f.click("Command8");
    QCOMPARE(accessibleName(received), QStringLiteral("接收计数 0"));
    f.click("Command5");
    QCOMPARE(accessibleName(lamp), QStringLiteral("串口已关闭"));
}

void TestAccess::tabChainAndKeysThatPressNothing()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    // A button pressed by mistake may open a box; closing it keeps the test from hanging.
    BoxCatcher boxes;
    QStringList pressed;
    for (QPushButton *b : f.form->findChildren<QPushButton *>())
        connect(b, &QPushButton::clicked, this, [&pressed, b] { pressed << b->objectName(); });
    // The keyboard starts on the first stop, and Tab from the last stop comes back to it. Focusing a radio button
    // here would take the Tab stop off the other button of its group and hide a group with two stops.
    QTRY_COMPARE(focusedControl(*f.form), kTabStops.first());
    f.get(qPrintable(kTabStops.last()))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Tab);

    // Once round with Tab, pressing Enter and Esc at every stop, then once round back with Shift+Tab.
    QStringList visited { focusedControl(*f.form) };
    for (qsizetype i = 0; i < kTabStops.size(); ++i) {
        for (int key : { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape })
            press(Qt::Key(key));
        press(Qt::Key_Tab);
        visited << focusedControl(*f.form);
    }
    for (qsizetype i = 0; i < kTabStops.size(); ++i) {
        press(Qt::Key_Tab, Qt::ShiftModifier);
        visited << focusedControl(*f.form);
    }
    QStringList expected = kTabStops + QStringList { kTabStops.first() };
    std::copy(kTabStops.crbegin(), kTabStops.crend(), std::back_inserter(expected));
    QCOMPARE(pressed, QStringList());
    QCOMPARE(visited, expected);
    QVERIFY(f.form->isVisible());
}

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
