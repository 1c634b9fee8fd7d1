// The window, its start-up and its own commands, offscreen and over real pseudo-terminals.

#include "port/mscomm.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <cerrno>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void startUpState();
    void silentTimerAtIntervalZero();
    void comboClicksOnlyWhenAnEntryIsChosen();
    void openCloseAndDeviceLoss();
    void refusedOpen_data();
    void refusedOpen();
};

void TestWindow::startUpState()
{
    FormFixture f;
    QCOMPARE(f.form->windowTitle(), QStringLiteral("ZEL串口调试软件 "));
    // The icon reaches the window from a program linked as app/ links it.
    QCOMPARE(f.form->windowIcon().availableSizes(), QList<QSize>({ QSize(48, 48) }));
    // Qt's own words are Chinese too: a text box's context menu and a message box's button.
    const std::unique_ptr<QMenu> menu(f.get<QLineEdit>("Text3")->createStandardContextMenu());
    const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2}"));
    for (const QAction *action : menu->actions()) // the shortcut after the tab may stay as it is
        QVERIFY2(!action->text().section(u'\t', 0, 0).contains(latinWord), qPrintable(action->text()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
    const QSize size = f.form->size();
    f.form->resize(800, 600);
    QCOMPARE(f.form->size(), size);

    QCOMPARE(f.portShown(), kShownClosed);
    QCOMPARE(f.get<ComboBox>("Combo1")->text(), QStringLiteral("COM1"));
    // Nothing in the filled settings lists is chosen: the boxes show their initial text.
    auto *combo2 = f.get<ComboBox>("Combo2");
    QCOMPARE(combo2->text(), QStringLiteral("9600"));
    QCOMPARE(combo2->ListIndex(), -1);
    QCOMPARE(f.form->MSComm1->Settings(), QStringLiteral("9600,n,8,1"));
}

void TestWindow::silentTimerAtIntervalZero()
{
    IntervalTimer timer(0, true);
    QSignalSpy ticks(&timer, &IntervalTimer::Timer);
    QTest::qWait(100);
    QCOMPARE(ticks.count(), 0);
    timer.setInterval(10);
    QTRY_VERIFY(ticks.count() >= 3);
    timer.setEnabled(false);
    const qsizetype seen = ticks.count();
    QTest::qWait(50);
    QCOMPARE(ticks.count(), seen);
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
    combo1->setFocus();
    combo1->lineEdit()->selectAll();
    QTest::keyClicks(combo1->lineEdit(), QStringLiteral("COM3"));
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Return);
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Enter);
    f.get("Text2")->setFocus();
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(combo1->text(), QStringLiteral("COM3"));
    QCOMPARE(combo1->count(), 16);
    QCOMPARE(f.form->MSComm1->CommPort(), 2);

    // Chosen from code: the click has run before setListIndex returns.
    int portDuringClick = 0;
    connect(combo1, &ComboBox::Click, this, [&] { portDuringClick = f.form->MSComm1->CommPort(); });
    combo1->setListIndex(4);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(portDuringClick, 5);
    QCOMPARE(combo1->text(), QStringLiteral("COM5"));

    // Chosen by the user, the same entry again included.
    emit combo1->activated(4);
    QCOMPARE(clicks.count(), 2);
}

void TestWindow::openCloseAndDeviceLoss()
{
    FormFixture f;
    BoxCatcher boxes;
    f.click("Command5");
    QVERIFY(f.form->MSComm1->PortOpen());
    QCOMPARE(f.portShown(), kShownOpen);
    // The port really is the pty: bytes written reach its master.
    f.form->MSComm1->setOutput(QByteArray("ok"));
    QCOMPARE(f.pty.read(2), QByteArray("ok"));

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
    qputenv("ZELCOM_PORTS", (f.pty.slavePath() + u':' + plain.fileName()).toLocal8Bit());
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
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY2(box.informative.contains(reason), qPrintable(box.informative));

    QVERIFY(!f.form->MSComm1->PortOpen());
    QCOMPARE(f.portShown(), kShownClosed);
    QCOMPARE(f.form->MSComm1->CommPort(), entry + 1);
    QCOMPARE(f.form->MSComm1->Settings(), QStringLiteral("9600,n,8,1"));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
