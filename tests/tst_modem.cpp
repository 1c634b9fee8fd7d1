// SPDX-License-Identifier: GPL-3.0-or-later
// The port's context menu (flow control, DTR and RTS, reopening), what the lamp says of the port and its lines,
// and an adapter that comes back: the control lines through a fake (a pty has none), USB adapters as a fake
// sysfs tree whose device nodes lead to real ptys.

#include "port/mscomm.h"
#include "port/portmap.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/expectnothing.h"
#include "tests/support/fakemodemlines.h"
#include "tests/support/files.h"
#include "tests/support/formfixture.h"
#include "tests/support/rows.h"
#include "window/combobox.h"
#include "window/portmenu.h"
#include "window/texts.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// USB adapters as the kernel shows them: class/ttyUSBn/device leads into devices/<usb path>/<interface>/ttyUSBn,
// whose USB device holds the vendor, product and serial number; dev/ttyUSBn is a link to a real pty. Unplugging
// hangs the pty up and takes all of it away.
class FakeUsb
{
public:
    FakeUsb()
    {
        for (const char *dir : { "class", "dev", "devices" })
            QDir(m_root.path()).mkpath(QString::fromLatin1(dir));
        PortMap::setSystemRoots(path("class"), path("dev"));
        PortMap::setSystemScanner({});
        qputenv("ZELCOM_PORTS", "");
    }
    ~FakeUsb() { PortMap::setSystemRoots(QStringLiteral("/sys/class/tty"), QStringLiteral("/dev")); }

    QString path(const QString &name) const { return m_root.filePath(name); }

    // An adapter with this serial number ("" for none) on this USB port, as ttyUSB<number>.
    PtyPair &plug(int number, const QString &serial, const QString &usbPath = QStringLiteral("1-1"))
    {
        const QString name = QStringLiteral("ttyUSB%1").arg(number);
        auto &pty = m_ptys[name];
        pty = std::make_unique<PtyPair>();
        const QString usb = path(QStringLiteral("devices/") + usbPath);
        const QString tty = usb + u'/' + usbPath + QStringLiteral(":1.0/") + name;
        QDir().mkpath(tty);
        QDir().mkpath(path(QStringLiteral("class/") + name));
        write(usb + QStringLiteral("/idVendor"), "0403");
        write(usb + QStringLiteral("/idProduct"), "6001");
        if (!serial.isEmpty())
            write(usb + QStringLiteral("/serial"), serial.toLatin1());
        struct stat st = {};
        ::stat(pty->slavePath().toLocal8Bit().constData(), &st);
        write(path(QStringLiteral("class/%1/dev").arg(name)),
            QByteArray::number(major(st.st_rdev)) + ':' + QByteArray::number(minor(st.st_rdev)));
        QFile::link(tty, path(QStringLiteral("class/%1/device").arg(name)));
        QFile::link(pty->slavePath(), path(QStringLiteral("dev/") + name));
        return *pty;
    }

    void unplug(int number)
    {
        const QString name = QStringLiteral("ttyUSB%1").arg(number);
        m_ptys.erase(name);
        QFile::remove(path(QStringLiteral("dev/") + name));
        const QString device = QFileInfo(path(QStringLiteral("class/%1/device").arg(name))).canonicalFilePath();
        QDir(path(QStringLiteral("class/") + name)).removeRecursively();
        // The USB device goes with its last tty.
        QDir(QDir::cleanPath(device + QStringLiteral("/../.."))).removeRecursively();
    }

    PtyPair &pty(int number) { return *m_ptys.at(QStringLiteral("ttyUSB%1").arg(number)); }

private:
    static void write(const QString &file, const QByteArray &content) { QVERIFY(writeFile(file, content + '\n')); }

    QTemporaryDir m_root;
    std::map<QString, std::unique_ptr<PtyPair>> m_ptys;
};

QString lampTip(const FormFixture &f)
{
    return f.get<QWidget>("Shape1")->toolTip();
}

QAction *action(const FormFixture &f, const char *name)
{
    return f.form->findChild<QAction *>(QString::fromLatin1(name));
}

// What the menu shows of the control lines: each item's state ("on", "off", "-" when disabled) and, when
// disabled, its reason.
QString linesShown(const FormFixture &f)
{
    QStringList shown;
    for (const char *name : { "LineDtr", "LineRts" }) {
        QAction *line = action(f, name);
        shown << (!line->isEnabled() ? QStringLiteral("- ") + line->toolTip()
                : line->isChecked()  ? QStringLiteral("on")
                                     : QStringLiteral("off"));
    }
    return shown.join(u'|');
}

} // namespace

class TestModem : public QObject
{
    Q_OBJECT

private slots:
    void menuByKeyboard();
    void controlLines_data();
    void controlLines();
    void lossSaysWhy();
    void adapterComesBack_data();
    void adapterComesBack();
    void adapterThatFlaps();
};

void TestModem::menuByKeyboard()
{
    // Shift+F10 on the focused button (the menu key is the platform's own and not seen offscreen).
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    auto *menu = f.form->findChild<PortMenu *>(QStringLiteral("PortMenu"));
    f.get<QWidget>("Command5")->setFocus();
    QTest::keyClick(f.form->windowHandle(), Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
}

void TestModem::controlLines_data()
{
    // What the device does, what the user does in the menu, what the menu then shows and what the lines are.
    addColumns<QString, QString, QString, int>("device", "action", "shown", "bits");
    const QString noLines = QStringLiteral("- ") + Texts::kNoLines.arg(Texts::systemReason(ENOTTY));
    addRow("pty", "pty", "", noLines + u'|' + noLines, 0);
    addRow("as the driver left them", "fake", "", "on|on", TIOCM_DTR | TIOCM_RTS);
    addRow("DTR dropped", "fake", "LineDtr", "off|on", TIOCM_RTS);
    addRow("RTS dropped", "fake", "LineRts", "on|off", TIOCM_DTR);
    addRow("RTS/CTS takes RTS", "fake", "FlowRtsCts", "on|- " + Texts::kRtsByFlowControl, TIOCM_DTR | TIOCM_RTS);
    addRow("refused", "refusing", "LineDtr", "on|on", TIOCM_DTR | TIOCM_RTS);
}

void TestModem::controlLines()
{
    const auto [device, action, shown, bits]
        = fetchRow<QString, QString, QString, int>("device", "action", "shown", "bits");
    FormFixture f;
    BoxCatcher boxes;
    auto lines = std::make_shared<FakeModemLines>();
    if (device != u"pty")
        f.form->MSComm1->setModemLines(lines);
    // Closed, the lines cannot be set.
    const QString needOpen = QStringLiteral("- ") + Texts::kLinesNeedOpenPort;
    QCOMPARE(linesShown(f), needOpen + u'|' + needOpen);

    f.click("Command5");
    if (device == u"refusing")
        lines->setErrors(0, EIO);
    if (!action.isEmpty())
        ::action(f, qPrintable(action))->trigger();
    QCOMPARE(linesShown(f), shown);
    if (device != u"pty")
        QCOMPARE(lines->bits() & (TIOCM_DTR | TIOCM_RTS), bits);
    QCOMPARE(boxes.boxes().size(), device == u"refusing" ? 1 : 0);
    if (device == u"refusing")
        QCOMPARE(boxes.boxes().front().text, Texts::kLineRefused.arg(Texts::systemReason(EIO)));

    // A line the device changes shows in the lamp's tooltip and description without a click.
    if (device == u"fake") {
        lines->setBits(lines->bits() | TIOCM_CTS | TIOCM_RI);
        QTRY_VERIFY(lampTip(f).contains(QStringLiteral("CTS 有效，DSR 无效，DCD 无效，RI 有效")));
        QCOMPARE(f.get<QWidget>("Shape1")->accessibleDescription(), lampTip(f));
    }

    // A line the user chose is the line at the next open too.
    if (action.startsWith(u"Line") && device == u"fake") {
        lines->setBits(TIOCM_DTR | TIOCM_RTS);
        f.click("Command5");
        f.click("Command5");
        QCOMPARE(lines->bits() & (TIOCM_DTR | TIOCM_RTS), bits);
    }
}

void TestModem::lossSaysWhy()
{
    FormFixture f(true);
    BoxCatcher boxes;
    const QString device = f.pty.slavePath();

    f.pty.closeMaster();
    const QString lost = Texts::kPortLostTip.arg(device, Texts::kHungUp) + u'\n' + Texts::kNoReturn;
    QTRY_COMPARE(lampTip(f), lost);
    QCOMPARE(f.portShown(), kShownClosed);
    QCOMPARE(f.get<QWidget>("Shape1")->accessibleDescription(), lost);
    // It stays said, with no box: the settings timer goes on meanwhile.
    QVERIFY(expectNothingFor(
        400, [&] { return lampTip(f) != lost || f.get<QWidget>("Shape1")->accessibleDescription() != lost; }));
    QVERIFY(boxes.boxes().isEmpty());

    // Until the port is opened again.
    PtyPair another;
    qputenv("ZELCOM_PORTS", another.slavePath().toLocal8Bit());
    f.click("Command5");
    QCOMPARE(f.portShown(), kShownOpen);
    QVERIFY(lampTip(f).startsWith(Texts::kPortOpenTip.arg(QStringLiteral("COM1"), another.slavePath())));
}

void TestModem::adapterComesBack_data()
{
    // Adapters plugged before COM1 is opened, what happens while the first of them is away, and which device the
    // window then has open ("ttyUSBn COMm"), or "closed". "B3@1-2" plugs an adapter with serial number B ("-" for
    // none) as ttyUSB3 into USB port 1-2; "off" switches reopening off; "COM2" chooses COM2; "wait" sees that
    // nothing opens for a while.
    addColumns<QString, QString, QString>("before", "meanwhile", "expected");
    addRow("back under a new number", "A0@1-1", "B0@1-2 A3@1-1", "ttyUSB3 COM2");
    addRow("swapped with another", "A0@1-1", "B0@1-2 A1@1-1", "ttyUSB1 COM2");
    addRow("on another USB port", "A0@1-1", "A0@1-4", "ttyUSB0 COM1");
    addRow("another adapter only", "A0@1-1", "B0@1-2", "closed");
    addRow("switched off", "A0@1-1", "off A0@1-1", "closed");
    addRow("another port chosen", "A0@1-1", "COM2 A0@1-1", "closed");
    addRow("a twin with its serial number", "A0@1-1 A1@1-2", "", "closed");
    addRow("no serial number: its USB port", "-0@1-1", "-0@1-3 wait -2@1-1", "ttyUSB2 COM2");
}

void TestModem::adapterComesBack()
{
    const auto [before, meanwhile, expected] = fetchRow<QString, QString, QString>("before", "meanwhile", "expected");
    FormFixture f;
    FakeUsb usb;
    BoxCatcher boxes;
    auto lines = std::make_shared<FakeModemLines>();
    f.form->MSComm1->setModemLines(lines);
    const auto plug = [&](const QString &what) {
        const QString serial = what.left(1) == u"-" ? QString() : what.left(1);
        usb.plug(what.mid(1, what.indexOf(u'@') - 1).toInt(), serial, what.section(u'@', 1));
    };
    for (const QString &what : before.split(u' '))
        plug(what);

    // Opened with settings of its own: they come back with it.
    f.get<ComboBox>("Combo2")->setText(QStringLiteral("57600"));
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("57600,N,8,1"));
    f.click("Command5");
    QCOMPARE(f.portShown(), kShownOpen);
    action(f, "FlowRtsCts")->trigger();
    action(f, "LineDtr")->trigger();
    QSignalSpy returned(f.form->MSComm1, &MSComm::portReturned);

    usb.unplug(0);
    QTRY_COMPARE(f.portShown(), kShownClosed);
    QVERIFY(lampTip(f).endsWith(Texts::kWaitingForReturn));
    const auto notOpened
        = [&] { return expectNothingFor(4 * MSComm::kReturnScanMs, [&] { return f.form->MSComm1->PortOpen(); }); };
    for (const QString &what : meanwhile.split(u' ', Qt::SkipEmptyParts)) {
        if (what == u"off")
            action(f, "AutoReopen")->trigger();
        else if (what == u"COM2")
            f.get<ComboBox>("Combo1")->setListIndex(1);
        else if (what == u"wait")
            QVERIFY(notOpened());
        else
            plug(what);
    }

    if (expected == u"closed") {
        QVERIFY(notOpened());
        QCOMPARE(f.portShown(), kShownClosed);
        // Still awaited, unless the wait was ended.
        QCOMPARE(
            lampTip(f).contains(Texts::kWaitingForReturn), !meanwhile.contains(u"off") && !meanwhile.contains(u"COM2"));
        QVERIFY(boxes.boxes().isEmpty());
        return;
    }
    // The window tells the truth all along (the scan's period makes it within a second; tests do not time it).
    QVERIFY(returned.count() == 1 || returned.wait(5000));
    QCOMPARE(f.portShown(), kShownOpen);
    const QString node = expected.section(u' ', 0, 0);
    QCOMPARE(f.form->MSComm1->deviceName(), usb.path(QStringLiteral("dev/") + node));
    QCOMPARE(f.get<ComboBox>("Combo1")->text(), expected.section(u' ', 1, 1));
    QCOMPARE(f.form->MSComm1->CommPort(), expected.section(u' ', 1, 1).mid(3).toInt());
    // With its settings, flow control and lines, and it reads.
    PtyPair &pty = usb.pty(node.mid(6).toInt());
    QCOMPARE(pty.line(), QStringLiteral("57600 1 0 0 rts"));
    QCOMPARE(lines->bits() & TIOCM_DTR, 0);
    pty.write("again");
    QTRY_VERIFY(f.received().endsWith(QStringLiteral("again")));
    QVERIFY(boxes.boxes().isEmpty());
}

void TestModem::adapterThatFlaps()
{
    // Plugged and pulled ten times a second: no box, no spin, and once it stays it is open.
    FormFixture f;
    FakeUsb usb;
    BoxCatcher boxes;
    usb.plug(0, QStringLiteral("A"));
    f.click("Command5");
    QSignalSpy changes(f.form->MSComm1, &MSComm::portStateChanged);
    QElapsedTimer flapping;
    flapping.start();
    for (int i = 0; i < 10; ++i) {
        usb.unplug(0);
        QTest::qWait(50);
        usb.plug(0, QStringLiteral("A"));
        QTest::qWait(50);
    }
    usb.unplug(0);
    QTest::qWait(50);
    usb.plug(1, QStringLiteral("A"));
    QTRY_COMPARE(f.form->MSComm1->deviceName(), usb.path(QStringLiteral("dev/ttyUSB1")));
    QTRY_COMPARE(f.portShown(), kShownOpen);
    QVERIFY(boxes.boxes().isEmpty());
    // Opens come only from scans, so the state changes (a loss, an open and its lines) are bounded by the scans
    // that had time to run, not by the plugs or by the device's errors.
    const qint64 scans = 2 + flapping.elapsed() / MSComm::kReturnScanMs;
    QVERIFY2(changes.count() <= 3 * scans,
        qPrintable(QStringLiteral("%1 changes, %2 scans").arg(changes.count()).arg(scans)));
}

QTEST_MAIN(TestModem)
#include "tst_modem.moc"
