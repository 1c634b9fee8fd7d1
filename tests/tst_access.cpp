// What a screen reader and a keyboard user get from the window, offscreen over a real pty.

#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/shape.h"

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

// Every stop of the Tab chain after start-up: each option group is one stop, at its selected button;
// frames, labels and the lamp take no focus.
const QStringList kTabStops = {
    QStringLiteral("Option2"),
    QStringLiteral("Command3"),
    QStringLiteral("Text2"),
    QStringLiteral("Option3"),
    QStringLiteral("Command4"),
    QStringLiteral("Text3"),
    QStringLiteral("Command6"),
    QStringLiteral("Command7"),
    QStringLiteral("Text1"),
    QStringLiteral("Combo5"),
    QStringLiteral("Combo4"),
    QStringLiteral("Combo3"),
    QStringLiteral("Combo2"),
    QStringLiteral("Combo1"),
    QStringLiteral("Command8"),
    QStringLiteral("Command5"),
    QStringLiteral("Command1"),
};

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void boxesAreNamedByTheirLabels_data();
    void boxesAreNamedByTheirLabels();
    void lampNameFollowsThePort();
    void countersSayWhatTheyCount();
    void tabWalksEveryControlInOrder_data();
    void tabWalksEveryControlInOrder();
    void enterAndEscPressNoButtonAnywhere();
};

void TestAccess::boxesAreNamedByTheirLabels_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("name");
    QTest::newRow("port") << "Label3"
                          << "Combo1" << QStringLiteral("COM口");
    QTest::newRow("baud") << "Label4"
                          << "Combo2" << QStringLiteral("波特率");
    QTest::newRow("parity") << "Label5"
                            << "Combo3" << QStringLiteral("校验位");
    QTest::newRow("data bits") << "Label6"
                               << "Combo4" << QStringLiteral("数据位");
    QTest::newRow("stop bits") << "Label7"
                               << "Combo5" << QStringLiteral("停止位");
}

void TestAccess::boxesAreNamedByTheirLabels()
{
    QFETCH(QString, label);
    QFETCH(QString, box);
    QFETCH(QString, name);
    FormFixture f;
    auto *l = f.get<QLabel>(label.toLatin1().constData());
    auto *b = f.get<ComboBox>(box.toLatin1().constData());
    QCOMPARE(l->buddy(), b);
    // On Linux a box's accessible name is its text; the label reaches the screen reader as the box's
    // "labelled by" relation.
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(b);
    QVERIFY(iface);
    QStringList labels;
    for (const auto &relation : iface->relations(QAccessible::Label))
        labels << relation.first->text(QAccessible::Name);
    // The frame's caption labels it too.
    QCOMPARE(labels, (QStringList { name, QStringLiteral("端口设置") }));
}

void TestAccess::lampNameFollowsThePort()
{
    FormFixture f;
    auto *lamp = f.get<Shape>("Shape1");
    auto *toggle = f.get<QPushButton>("Command5");
    QCOMPARE(accessibleName(lamp), QStringLiteral("串口已关闭"));
    f.click(toggle);
    QCOMPARE(toggle->text(), QStringLiteral("关闭串口"));
    QCOMPARE(accessibleName(lamp), QStringLiteral("串口已打开"));
    f.click(toggle);
    QCOMPARE(accessibleName(lamp), QStringLiteral("串口已关闭"));

    // A refused open leaves the lamp, and what it says, at closed.
    f.pty.closeMaster();
    BoxCatcher boxes;
    f.click(toggle);
    QTRY_VERIFY(!boxes.boxes().isEmpty());
    QCOMPARE(toggle->text(), QStringLiteral("打开串口"));
    QCOMPARE(accessibleName(lamp), QStringLiteral("串口已关闭"));
}

void TestAccess::countersSayWhatTheyCount()
{
    FormFixture f;
    auto *received = f.get<QLabel>("Label10");
    auto *sent = f.get<QLabel>("Label11");
    QCOMPARE(accessibleName(received), QStringLiteral("接收计数 0"));
    QCOMPARE(accessibleName(sent), QStringLiteral("发送计数 0"));

    // The name carries the live number, not the one the counter had when it was first asked.
    f.click(f.get<QPushButton>("Command5"));
    f.pty.write("12345");
    QTRY_COMPARE(received->text(), QStringLiteral("5"));
    QCOMPARE(accessibleName(received), QStringLiteral("接收计数 5"));
    f.click(f.get<QPushButton>("Command8"));
    QCOMPARE(accessibleName(received), QStringLiteral("接收计数 0"));
}

void TestAccess::tabWalksEveryControlInOrder_data()
{
    QTest::addColumn<bool>("backwards");
    QTest::newRow("Tab") << false;
    QTest::newRow("Shift+Tab") << true;
}

void TestAccess::tabWalksEveryControlInOrder()
{
    QFETCH(bool, backwards);
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    f.get("Option2")->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(focusedControl(*f.form), QStringLiteral("Option2"));

    QStringList expected = kTabStops;
    if (backwards)
        std::reverse(expected.begin() + 1, expected.end());
    // Once round and back to the start.
    expected << expected.first();
    QStringList visited { focusedControl(*f.form) };
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        visited << focusedControl(*f.form);
    }
    QCOMPARE(visited, expected);
}

void TestAccess::enterAndEscPressNoButtonAnywhere()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QStringList pressed;
    for (QPushButton *b : f.form->findChildren<QPushButton *>())
        connect(b, &QPushButton::clicked, this, [&pressed, b] { pressed << b->objectName(); });
    for (const QString &stop : kTabStops) {
        f.get(stop.toLatin1().constData())->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(focusedControl(*f.form), stop);
        for (int key : { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape })
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    }
    QCOMPARE(pressed, QStringList());
    QVERIFY(f.form->isVisible());
}

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
