// The window, its start-up and its own commands, offscreen and over real pseudo-terminals.

#include "port/mscomm.h"
#include "terminal/receivearea.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/formfixture.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"
#include "window/optionbutton.h"
#include "window/shape.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QUrl>

namespace {

QStringList entries(const ComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

} // namespace

class UrlCatcher : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl &url) { urls << url; }

public:
    QList<QUrl> urls;
};

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void everyControlIsThere_data();
    void everyControlIsThere();
    void stateBeforeStartUp();
    void startUpState();
    void windowIsFixed();
    void lampIsACentredCircle();
    void silentTimerAtIntervalZero();
    void comboClicksOnlyWhenAnEntryIsChosen();
    void enterAndEscPressNoButton();

    void openAndClose();
    void refusedOpen_data();
    void refusedOpen();
    void deviceLossShowsClosed();
    void clearAndResetCommands();
    void webPage();
};

void TestWindow::everyControlIsThere_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");

    const auto row = [](const char *name, const char *kind, const char *container, const char *caption) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << QString::fromLatin1(container)
                            << QString::fromUtf8(caption);
    };
    row("Frame1", "QGroupBox", "Form1", "接收区");
    row("Frame2", "QGroupBox", "Form1", "发送区");
    row("Frame3", "QGroupBox", "Form1", "端口设置");
    row("Frame4", "QGroupBox", "Form1", "打开/关闭串口");
    row("Label1", "QLabel", "Frame2", "发送周期");
    row("Label2", "QLabel", "Frame2", "毫秒");
    row("Label3", "QLabel", "Frame3", "COM口");
    row("Label4", "QLabel", "Frame3", "波特率");
    row("Label5", "QLabel", "Frame3", "校验位");
    row("Label6", "QLabel", "Frame3", "数据位");
    row("Label7", "QLabel", "Frame3", "停止位");
    row("Label8", "QLabel", "Frame4", "接收");
    row("Label9", "QLabel", "Frame4", "发送");
    row("Label10", "QLabel", "Frame4", "0");
    row("Label11", "QLabel", "Frame4", "0");
    row("Command1", "QPushButton", "Frame1", "检查更新");
    row("Command3", "QPushButton", "Frame1", "清接收区");
    row("Command4", "QPushButton", "Frame2", "清发送区");
    row("Command5", "QPushButton", "Frame4", "打开串口");
    row("Command6", "QPushButton", "Frame2", "手动发送");
    row("Command7", "QPushButton", "Frame2", "自动发送");
    row("Command8", "QPushButton", "Frame4", "清空计数");
    row("Combo1", "ComboBox", "Frame3", "COM1");
    row("Combo2", "ComboBox", "Frame3", "9600");
    row("Combo3", "ComboBox", "Frame3", "无None");
    row("Combo4", "ComboBox", "Frame3", "8");
    row("Combo5", "ComboBox", "Frame3", "1");
    row("Text1", "ReceiveArea", "Frame1", "");
    row("Text2", "QLineEdit", "Frame2", "");
    row("Text3", "QLineEdit", "Frame2", "1000");
    row("Option1", "OptionButton", "Frame1", "十六进制");
    row("Option2", "OptionButton", "Frame1", "字符格式");
    row("Option3", "OptionButton", "Frame2", "字符格式显示");
    row("Option5", "OptionButton", "Frame2", "十六进制显示");
    row("Shape1", "Shape", "Frame4", "");
    row("Timer1", "IntervalTimer", "Form1", "");
    row("Timer2", "IntervalTimer", "Form1", "");
    row("MSComm1", "MSComm", "Form1", "");
}

void TestWindow::everyControlIsThere()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QString, caption);

    FormFixture f;
    f.form->setObjectName(QStringLiteral("Form1"));
    QObject *control = f.form->findChild<QObject *>(name);
    QVERIFY(control);
    QVERIFY(control->inherits(kind.toLatin1()));
    QCOMPARE(control->parent()->objectName(), container);

    QString shown;
    if (auto *box = qobject_cast<QGroupBox *>(control))
        shown = box->title();
    else if (auto *label = qobject_cast<QLabel *>(control))
        shown = label->text();
    else if (auto *button = qobject_cast<QAbstractButton *>(control))
        shown = button->text();
    else if (auto *combo = qobject_cast<ComboBox *>(control))
        shown = combo->text();
    else if (auto *line = qobject_cast<QLineEdit *>(control))
        shown = line->text();
    else if (auto *area = qobject_cast<ReceiveArea *>(control))
        shown = area->text();
    QCOMPARE(shown, caption);
    if (auto *w = qobject_cast<QWidget *>(control)) {
        QVERIFY(w->isEnabled());
        if (auto *button = qobject_cast<QPushButton *>(control)) {
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }
    }
}

void TestWindow::stateBeforeStartUp()
{
    Form1 form;
    const struct {
        const char *name;
        const char *shown;
    } boxes[] = { { "Combo1", "COM1" }, { "Combo2", "9600" }, { "Combo3", "无None" }, { "Combo4", "8" }, { "Combo5", "1" } };
    for (const auto &b : boxes) {
        auto *box = form.findChild<ComboBox *>(QString::fromLatin1(b.name));
        QCOMPARE(box->count(), 0);
        QCOMPARE(box->text(), QString::fromUtf8(b.shown));
    }
    for (OptionButton *option : form.findChildren<OptionButton *>())
        QVERIFY2(!option->Value(), qPrintable(option->objectName()));
    QCOMPARE(form.Command5->text(), QStringLiteral("打开串口"));
    QCOMPARE(form.Command7->text(), QStringLiteral("自动发送"));
    QCOMPARE(form.Label10->text(), QStringLiteral("0"));
    QCOMPARE(form.Label11->text(), QStringLiteral("0"));
    QCOMPARE(form.Text1->text(), QString());
    QCOMPARE(form.Text2->text(), QString());
    QCOMPARE(form.Text3->text(), QStringLiteral("1000"));
}

void TestWindow::startUpState()
{
    FormFixture f;
    auto *combo1 = f.get<ComboBox>("Combo1");
    QCOMPARE(combo1->text(), QStringLiteral("COM1"));
    QCOMPARE(combo1->ListIndex(), 0);
    QStringList ports;
    for (int n = 1; n <= 16; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    QCOMPARE(entries(combo1), ports);

    // The lists are filled, yet every box still shows its initial text with nothing selected.
    const struct
    {
        const char *name;
        QStringList list;
        QString shown;
    } boxes[] = {
        { "Combo2",
            { "256000", "128000", "115200", "57600", "38400", "28800", "19200", "9600", "4800", "2400", "1200", "600" },
            "9600" },
        { "Combo3", { "无None", "奇Odd", "偶Even" }, "无None" },
        { "Combo4", { "4", "5", "6", "7", "8" }, "8" },
        { "Combo5", { "1", "2" }, "1" },
    };
    for (const auto &b : boxes) {
        auto *box = f.get<ComboBox>(b.name);
        QCOMPARE(entries(box), b.list);
        QCOMPARE(box->text(), b.shown);
        QCOMPARE(box->ListIndex(), -1);
    }

    MSComm *comm = f.form->MSComm1;
    QCOMPARE(comm->CommPort(), 1);
    QCOMPARE(comm->Settings(), QStringLiteral("9600,n,8,1"));
    QCOMPARE(comm->InputMode(), int(MSComm::comInputModeText));
    QVERIFY(!comm->PortOpen());
    QCOMPARE(f.get<QPushButton>("Command5")->text(), QStringLiteral("打开串口"));
    QCOMPARE(f.get<Shape>("Shape1")->FillColor(), QColor(192, 255, 255));
    QVERIFY(f.get<OptionButton>("Option2")->Value());
    QVERIFY(f.get<OptionButton>("Option3")->Value());
    QVERIFY(!f.get<OptionButton>("Option1")->Value());
    QVERIFY(!f.get<OptionButton>("Option5")->Value());

    auto *timer1 = f.form->findChild<IntervalTimer *>(QStringLiteral("Timer1"));
    auto *timer2 = f.form->findChild<IntervalTimer *>(QStringLiteral("Timer2"));
    QCOMPARE(timer1->Interval(), 100);
    QVERIFY(timer1->Enabled());
    QCOMPARE(timer2->Interval(), 0);
    QVERIFY(timer2->Enabled());
}

void TestWindow::windowIsFixed()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QCOMPARE(f.form->windowTitle(), QStringLiteral("ZEL串口调试软件 "));
    QCOMPARE(f.form->size(), QSize(598, 382));
    QCOMPARE(f.form->minimumSize(), f.form->maximumSize());
    QVERIFY(!(f.form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(f.form->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!f.form->windowIcon().isNull());
    f.form->resize(800, 600);
    QCOMPARE(f.form->size(), QSize(598, 382));
    // Frames sit in the client area, controls in their frame, in twips / 15.
    QCOMPARE(f.get("Frame1")->geometry(), QRect(288, 8, 305, 369));
    QCOMPARE(f.get("Text3")->geometry(), QRect(96, 158, 65, 18));
}

void TestWindow::lampIsACentredCircle()
{
    FormFixture f;
    auto *lamp = f.get<Shape>("Shape1");
    QCOMPARE(lamp->size(), QSize(17, 10));
    const QImage image = lamp->grab().toImage();
    QCOMPARE(image.pixelColor(image.width() / 2, image.height() / 2), QColor(192, 255, 255));
    // A 10-pixel circle centred in a 17 x 10 box leaves the box's sides unpainted.
    QVERIFY(image.pixelColor(1, image.height() / 2) != QColor(192, 255, 255));
    QVERIFY(image.pixelColor(image.width() - 2, image.height() / 2) != QColor(192, 255, 255));
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
    const int seen = ticks.count();
    QTest::qWait(50);
    QCOMPARE(ticks.count(), seen);
}

void TestWindow::comboClicksOnlyWhenAnEntryIsChosen()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    auto *combo1 = f.get<ComboBox>("Combo1");
    QSignalSpy clicks(combo1, &ComboBox::Click);

    // Typing an entry's name, Enter and leaving the box choose nothing.
    combo1->setFocus();
    combo1->lineEdit()->selectAll();
    QTest::keyClicks(combo1->lineEdit(), QStringLiteral("COM3"));
    QTest::keyClick(combo1->lineEdit(), Qt::Key_Return);
    f.get("Text2")->setFocus();
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(combo1->text(), QStringLiteral("COM3"));
    QCOMPARE(combo1->count(), 16);
    QCOMPARE(f.form->MSComm1->CommPort(), 1);

    // A text matching no entry stays too; no entry is added.
    auto *combo2 = f.get<ComboBox>("Combo2");
    combo2->lineEdit()->selectAll();
    QTest::keyClicks(combo2->lineEdit(), QStringLiteral("250000"));
    QTest::keyClick(combo2->lineEdit(), Qt::Key_Enter);
    QCOMPARE(combo2->text(), QStringLiteral("250000"));
    QCOMPARE(combo2->count(), 12);

    // Chosen from code: the click has run before setListIndex returns.
    int portDuringClick = 0;
    connect(combo1, &ComboBox::Click, this, [&] { portDuringClick = f.form->MSComm1->CommPort(); });
    combo1->setListIndex(4);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(f.form->MSComm1->CommPort(), 5);
    QCOMPARE(portDuringClick, 5);
    QCOMPARE(combo1->text(), QStringLiteral("COM5"));

    // Chosen by the user, the same entry again included.
    emit combo1->activated(4);
    QCOMPARE(clicks.count(), 2);
}

void TestWindow::enterAndEscPressNoButton()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    int pressed = 0;
    for (QPushButton *b : f.form->findChildren<QPushButton *>())
        connect(b, &QPushButton::clicked, this, [&] { ++pressed; });
    for (const char *name : { "Text2", "Text3", "Combo2", "Text1", "Command5" }) {
        QWidget *w = f.get(name);
        w->setFocus();
        QWidget *target = QApplication::focusWidget();
        QVERIFY(target);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QTest::keyClick(target, Qt::Key_Escape);
    }
    QCOMPARE(pressed, 0);
}

void TestWindow::openAndClose()
{
    FormFixture f;
    BoxCatcher boxes;
    auto *command5 = f.get<QPushButton>("Command5");
    auto *lamp = f.get<Shape>("Shape1");

    f.click(command5);
    QVERIFY(f.form->MSComm1->PortOpen());
    QCOMPARE(command5->text(), QStringLiteral("关闭串口"));
    QCOMPARE(lamp->FillColor(), QColor(255, 0, 0));
    // The port really is the pty: bytes written reach its master.
    f.form->MSComm1->setOutput(QByteArray("ok"));
    QCOMPARE(f.pty.read(2), QByteArray("ok"));

    f.click(command5);
    QVERIFY(!f.form->MSComm1->PortOpen());
    QCOMPARE(command5->text(), QStringLiteral("打开串口"));
    QCOMPARE(lamp->FillColor(), QColor(192, 255, 255));
    QVERIFY(boxes.boxes().isEmpty());
}

void TestWindow::refusedOpen_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("holdFirst");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no device") << 15 << false << QStringLiteral("COM16 没有对应的串口设备");
    QTest::newRow("busy") << 0 << true << QStringLiteral("正被其他程序占用");
}

void TestWindow::refusedOpen()
{
    QFETCH(int, entry);
    QFETCH(bool, holdFirst);
    QFETCH(QString, reason);

    FormFixture f;
    MSComm other;
    if (holdFirst)
        other.setPortOpen(true);
    BoxCatcher boxes;
    f.get<ComboBox>("Combo1")->setListIndex(entry);
    auto *command5 = f.get<QPushButton>("Command5");
    f.click(command5);

    QCOMPARE(boxes.boxes().size(), 1);
    const BoxCatcher::Box box = boxes.boxes().first();
    QCOMPARE(box.text, QStringLiteral("端口号不可用"));
    QCOMPARE(box.title, QStringLiteral("zel串口调试助手"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY2(box.informative.contains(reason), qPrintable(box.informative));

    QVERIFY(!f.form->MSComm1->PortOpen());
    QCOMPARE(command5->text(), QStringLiteral("打开串口"));
    QCOMPARE(f.get<Shape>("Shape1")->FillColor(), QColor(192, 255, 255));
    QCOMPARE(f.form->MSComm1->CommPort(), entry + 1);
    QCOMPARE(f.form->MSComm1->Settings(), QStringLiteral("9600,n,8,1"));
}

void TestWindow::deviceLossShowsClosed()
{
    FormFixture f;
    auto *command5 = f.get<QPushButton>("Command5");
    f.click(command5);
    QVERIFY(f.form->MSComm1->PortOpen());
    f.pty.closeMaster();
    QTRY_COMPARE(command5->text(), QStringLiteral("打开串口"));
    QCOMPARE(f.get<Shape>("Shape1")->FillColor(), QColor(192, 255, 255));
    QVERIFY(!f.form->MSComm1->PortOpen());
}

void TestWindow::clearAndResetCommands()
{
    FormFixture f;
    auto *text1 = f.get<ReceiveArea>("Text1");
    auto *text2 = f.get<QLineEdit>("Text2");
    auto *label10 = f.get<QLabel>("Label10");
    auto *label11 = f.get<QLabel>("Label11");
    text1->setText(QStringLiteral("received"));
    text2->setText(QStringLiteral("to send"));
    label10->setText(QStringLiteral("12"));
    label11->setText(QStringLiteral("5"));

    f.click(f.get<QPushButton>("Command3"));
    QCOMPARE(text1->text(), QString());
    QCOMPARE(text2->text(), QStringLiteral("to send"));
    f.click(f.get<QPushButton>("Command4"));
    QCOMPARE(text2->text(), QString());
    QCOMPARE(label10->text(), QStringLiteral("12"));
    f.click(f.get<QPushButton>("Command8"));
    QCOMPARE(label10->text(), QStringLiteral("0"));
    QCOMPARE(label11->text(), QStringLiteral("0"));
}

void TestWindow::webPage()
{
    FormFixture f;
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    f.click(f.get<QPushButton>("Command5"));
    f.click(f.get<QPushButton>("Command1"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(catcher.urls, QList<QUrl>({ QUrl(QStringLiteral("http://zel.example")) }));
    // The port stays as it was.
    QVERIFY(f.form->MSComm1->PortOpen());
    QCOMPARE(f.get<QPushButton>("Command5")->text(), QStringLiteral("关闭串口"));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
