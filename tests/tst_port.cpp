// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component over real pseudo-terminals, the pure port logic, and the handlers that choose the port
// and its line settings from the window's boxes.

#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/mscomm.h"
#include "port/paritymarks.h"
#include "port/portmap.h"
#include "port/portselection.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/expectnothing.h"
#include "tests/support/files.h"
#include "tests/support/formfixture.h"
#include "tests/support/pattern.h"
#include "tests/support/rows.h"
#include "window/combobox.h"
#include "window/intervaltimer.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <memory>

qint64 ptyBaud(int fd); // tests/support/termios2.cpp

namespace {

CommError::Code errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const CommError &e) {
        return e.code();
    }
    return CommError::Code(0);
}

// The baud of the pty master the program opened as /dev/ptmx: the newest descriptor on it.
qint64 ptmxBaud()
{
    int newest = -1;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        if (fd.symLinkTarget() == QLatin1String("/dev/ptmx"))
            newest = std::max(newest, fd.fileName().toInt());
    return ptyBaud(newest);
}

} // namespace

class TestPort : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void settings_data();
    void settings();
    void handlerMayLeaveInputForLater();
    void textDecodedAsReadAcrossModeSwitches();
    void parityMarks_data();
    void parityMarks();
    void outputEncodesGbkAndIsBounded();
    void flowControl_data();
    void flowControl();

    void stopsWhileStreaming_data();
    void stopsWhileStreaming();

    void portOrder();
    void scanFindsHardwarePorts();

    void parityBox();
    void settingsBoxes_data();
    void settingsBoxes();
    void choosingAnotherPortWhileOpen();

private:
    std::unique_ptr<PtyPair> m_pty;
};

void TestPort::init()
{
    PortMap::setSystemRoots(QStringLiteral("/sys/class/tty"), QStringLiteral("/dev"));
    PortMap::setSystemScanner([] { return QStringList(); });
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    qputenv("ZELCOM_PORTS", m_pty->slavePath().toLocal8Bit());
}

void TestPort::settings_data()
{
    // What the parser reads as "baud parity data-bits stop-bits", and what the device then carries (PtyPair::line):
    // baud, stop bits, odd, parity errors marked, flow control. Both empty for a text the port must refuse.
    addColumns<QString, QString, QString>("text", "parsed", "device");
    const auto row = [](const char *text, const char *parsed, const char *device) {
        QTest::newRow(text) << QString::fromLatin1(text) << QString::fromLatin1(parsed) << QString::fromLatin1(device);
    };
    row("9600,n,8,1", "9600 N 8 1", "9600 1 0 0 none");
    row("115200,E,7,2", "115200 E 7 2", "115200 2 0 1 none");
    row("250000,o,5,1", "250000 O 5 1", "250000 1 1 1 none");
    row("1,N,6,2", "1 N 6 2", "1 2 0 0 none"); // the smallest baud
    row("2147483647,n,8,1", "2147483647 N 8 1", "2147483647 1 0 0 none"); // and the largest
    for (const char *bad : { "9600,x,8,1", "0,n,8,1", "9600,n,4,1", "9600,n,9,1", "9600,n,8,3", "9600,n,8,0",
             "9600,n,8,1.5", " 9600,n,8,1", "9600 ,n,8,1", "9600,n,8", "9600,n,8,1,1", "2147483648,n,8,1",
             "-9600,n,8,1", "+9600,n,8,1", "9600,none,8,1", "", "9600,,8,1", "９６００,n,8,1", "1e4,n,8,1" })
        QTest::newRow(bad) << QString::fromUtf8(bad) << QString() << QString();
}

void TestPort::settings()
{
    const auto [text, parsed, device] = fetchRow<QString, QString, QString>("text", "parsed", "device");
    if (const auto s = parseLineSettings(text)) {
        QCOMPARE(QString::asprintf("%d %c %d %d", s->baud, s->parity, s->dataBits, s->stopBits), parsed);
        // Written to the device when it opens and when it changes while open. A line left with flow control on
        // by another program would send nothing where CTS is not wired: the open turns it off.
        for (const bool whileOpen : { false, true }) {
            m_pty->setFlowControl();
            MSComm comm;
            comm.setPortOpen(whileOpen);
            comm.setSettings(text);
            if (!whileOpen)
                comm.setPortOpen(true);
            QCOMPARE(m_pty->line(), device);
        }
        return;
    }
    QVERIFY2(parsed.isEmpty(), "refused");

    // The port refuses it too and keeps the settings it had.
    MSComm comm;
    comm.setPortOpen(true);
    comm.setSettings(QStringLiteral("115200,n,8,1"));
    QCOMPARE(errorOf([&] { comm.setSettings(text); }), CommError::InvalidValue);
    QCOMPARE(comm.Settings(), QStringLiteral("115200,n,8,1"));
    QCOMPARE(m_pty->line(), QStringLiteral("115200 1 0 0 none"));
}

void TestPort::handlerMayLeaveInputForLater()
{
    // A handler that leaves what waits (the capture's disk is behind) is told again next frame, also when
    // what waits has already left the reader (taken when the parity changed): nothing stays behind.
    MSComm comm;
    comm.setPortOpen(true);
    comm.setInputMode(MSComm::comInputModeBinary);
    bool hold = true;
    QByteArray got;
    QSignalSpy events(&comm, &MSComm::OnComm);
    QObject::connect(&comm, &MSComm::OnComm, &comm, [&] {
        if (hold)
            comm.remindNextFrame();
        else
            got += std::get<QByteArray>(comm.Input());
    });
    m_pty->write(QByteArray("AB"));
    QVERIFY(events.wait());
    comm.setSettings(QStringLiteral("9600,e,8,1"));
    const qsizetype told = events.count();
    QTRY_VERIFY(events.count() > told);
    hold = false;
    QTRY_COMPARE(got, QByteArray("AB"));
}

void TestPort::textDecodedAsReadAcrossModeSwitches()
{
    // GBK text taken as text (decoded on the reader's thread, or here when what waits was read in the other
    // mode) and as bytes, in writes cut anywhere, the mode switched every second notification so that
    // switches cut characters: joined back in order, exactly what was sent.
    MSComm comm;
    comm.setPortOpen(true);
    // Characters whose trail byte is an ASCII one (81 40 is 丂): text cut before a trail byte still reads back
    // as these bytes, whichever way the cut falls.
    QByteArray data;
    for (int i = 0; data.size() < 600'000; ++i) {
        data += QByteArray::number(i) + ' ';
        for (int k = 0; k < 5; ++k)
            data.append(char(0x81 + (i + k) % 32)).append(char(0x40 + (i * 7 + k) % 63));
        data += "\r\n";
    }
    QByteArray got;
    int notices = 0;
    QSignalSpy events(&comm, &MSComm::OnComm);
    QObject::connect(&comm, &MSComm::OnComm, &comm, [&] {
        // Switched before the Input: what was read in one mode is taken in the other.
        if (++notices % 2 == 0)
            comm.setInputMode(
                comm.InputMode() == MSComm::comInputModeText ? MSComm::comInputModeBinary : MSComm::comInputModeText);
        const auto input = comm.Input();
        if (const auto *bytes = std::get_if<QByteArray>(&input))
            got += *bytes;
        else
            got += encodeGbk(std::get<QString>(input));
    });
    quint32 seed = 1;
    for (qsizetype at = 0, size = 0; at < data.size(); at += size) {
        size = 2000 + ((seed = seed * 1103515245 + 12345) >> 16) % 5000;
        const qsizetype seen = events.count();
        m_pty->write(data.mid(at, size));
        QVERIFY(events.count() > seen || events.wait());
    }
    QTRY_VERIFY(got.size() >= data.size() - 1);
    comm.setInputMode(MSComm::comInputModeBinary);
    got += std::get<QByteArray>(comm.Input());
    QVERIFY(notices > 50);
    QCOMPARE(got.size(), data.size());
    QVERIFY(got == data);
}

void TestPort::parityMarks_data()
{
    // What the driver delivers in reads, separated by "|", and the bytes received.
    addColumns<QByteArray, QByteArray>("reads", "bytes");
    QTest::newRow("bad byte") << QByteArray("A\xFF\0ZB", 5) << QByteArray("A?B");
    QTest::newRow("good FF") << QByteArray("\xFF\xFF\0", 3) << QByteArray("\xFF\0", 2);
    QTest::newRow("break") << QByteArray("\xFF\0\0", 3) << QByteArray("?");
    QTest::newRow("split after FF") << QByteArray("A\xFF|\0ZB", 6) << QByteArray("A?B");
    QTest::newRow("split after FF 00") << QByteArray("\xFF\0|\xFF", 4) << QByteArray("?");
    QTest::newRow("good FF split") << QByteArray("\xFF|\xFF\xFF|\xFF") << QByteArray("\xFF\xFF");
}

void TestPort::parityMarks()
{
    const auto [reads, bytes] = fetchRow<QByteArray, QByteArray>("reads", "bytes");
    QByteArray held;
    QByteArray got;
    for (const QByteArray &read : reads.split('|'))
        got += takeParityMarked(held += read);
    QCOMPARE(got, bytes);
    QCOMPARE(held, QByteArray());
}

void TestPort::outputEncodesGbkAndIsBounded()
{
    MSComm comm;
    QCOMPARE(errorOf([&] { comm.setOutput(QStringLiteral("x")); }), CommError::PortNotOpen);
    comm.setPortOpen(true);
    comm.setOutput(QStringLiteral("中A") + QString::fromUtf8("😀") + QStringLiteral("\n"));
    QCOMPARE(m_pty->read(5),
        QByteArray("\xD6\xD0"
                   "A?\n"));
    comm.setOutput(QByteArray("\x00\xFF", 2));
    QCOMPARE(m_pty->read(2), QByteArray("\x00\xFF", 2));

    // Nobody reads the master: the pty fills up and the queue must stop growing.
    const QByteArray block(64 * 1024, 'x');
    int accepted = 0;
    CommError::Code code {};
    for (; accepted < 64; ++accepted)
        if ((code = errorOf([&] { comm.setOutput(block); })))
            break;
    QCOMPARE(code, CommError::OutputFull);
    QVERIFY(accepted >= 8);
    // Once the device reads, sends go again.
    m_pty->read(accepted * block.size(), 5000);
    QCOMPARE(errorOf([&] { comm.setOutput(block); }), CommError::Code(0));
}

void TestPort::flowControl_data()
{
    // The flow control the device carries (PtyPair::line) after it is chosen, with the port open or closed, and after
    // going back to none; parity errors stay marked whatever the flow control.
    addColumns<int, QString, QString>("mode", "settings", "device");
    addRow("RTS/CTS", int(MSComm::comRTS), "9600,n,8,1", "9600 1 0 0 rts");
    addRow("XON/XOFF", int(MSComm::comXOnXoff), "9600,n,8,1", "9600 1 0 0 xon,xoff");
    addRow("XON/XOFF, even parity", int(MSComm::comXOnXoff), "19200,e,7,2", "19200 2 0 1 xon,xoff");
    addRow("RTS/CTS, odd parity", int(MSComm::comRTS), "19200,o,8,1", "19200 1 1 1 rts");
}

void TestPort::flowControl()
{
    const auto [mode, settings, device] = fetchRow<int, QString, QString>("mode", "settings", "device");
    for (const bool whileOpen : { false, true }) {
        MSComm comm;
        comm.setSettings(settings);
        comm.setPortOpen(whileOpen);
        comm.setHandshaking(MSComm::HandshakeConstants(mode));
        if (!whileOpen)
            comm.setPortOpen(true);
        QCOMPARE(m_pty->line(), device);
        // Closed and opened again, the port keeps it.
        comm.setPortOpen(false);
        comm.setPortOpen(true);
        QCOMPARE(m_pty->line(), device);
        comm.setHandshaking(MSComm::comNone);
        QCOMPARE(m_pty->line(), device.section(u' ', 0, 3) + QStringLiteral(" none"));
    }
}

void TestPort::stopsWhileStreaming_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("closed") << "close";
    QTest::newRow("hung up") << "hang up";
    QTest::newRow("destroyed") << "destroy";
}

void TestPort::stopsWhileStreaming()
{
    QFETCH(QString, how);
    auto comm = std::make_unique<MSComm>();
    comm->setInputMode(MSComm::comInputModeBinary);
    comm->setPortOpen(true);
    QSignalSpy lost(comm.get(), &MSComm::portLost);
    QSignalSpy events(comm.get(), &MSComm::OnComm);
    QByteArray got;
    QObject::connect(comm.get(), &MSComm::OnComm, comm.get(), [&] { got += std::get<QByteArray>(comm->Input()); });

    // Written in pieces while the window reads, so the reader is busy when the port goes.
    const QByteArray data = pattern(4 << 20);
    qsizetype written = 0;
    for (qsizetype done = 0; done < data.size() / 2; done += 64 * 1024)
        written += m_pty->write(data.mid(done, 64 * 1024));
    QCOMPARE(written, data.size() / 2);
    // The window has read some of it (the writes above let it read only when the pty was full).
    QTRY_VERIFY(!got.isEmpty());
    if (how == u"close") {
        comm->setPortOpen(false);
        QVERIFY(!comm->PortOpen());
        // Nothing read before the close is announced after it.
        const qsizetype kept = got.size();
        QVERIFY(expectNothingFor(100, [&] { return got.size() != kept; }));
    } else if (how == u"hang up") {
        m_pty->closeMaster();
        QVERIFY(lost.wait(2000));
        QVERIFY(!comm->PortOpen());
        // The storm of read errors ends with the close: the loss is told once, and nothing more is announced.
        const qsizetype heard = events.count();
        QVERIFY(expectNothingFor(500, [&] { return lost.count() > 1 || events.count() > heard + 1; }));
        got += std::get<QByteArray>(comm->Input());
    } else {
        comm.reset();
    }
    // Whatever was read is the stream's start, with nothing lost, doubled or moved. A hang-up makes the kernel
    // throw away what the line discipline held (at most 4 KiB), while what was still queued behind it may be read
    // after: one gap that small is the device's loss, not the program's.
    QVERIFY(!got.isEmpty());
    const qsizetype wrong = std::mismatch(got.cbegin(), got.cend(), data.cbegin(), data.cend()).first - got.cbegin();
    const qsizetype resumed = wrong < got.size() ? data.indexOf(got.mid(wrong, 64), wrong) : wrong;
    QVERIFY2(wrong == got.size()
            || (how == u"hang up" && resumed > wrong && resumed - wrong < 4096
                && data.sliced(resumed).startsWith(got.sliced(wrong))),
        qPrintable(QStringLiteral("%1 bytes read, the first wrong at %2, which came from the stream's byte %3")
                       .arg(got.size())
                       .arg(wrong)
                       .arg(resumed)));
    if (how == u"close") {
        // The port opens again and reads on.
        comm->setPortOpen(true);
        m_pty->write(QByteArray("again"));
        QTRY_VERIFY(got.endsWith("again"));
    }
}

void TestPort::portOrder()
{
    // Listed paths come first, in their order; a device is listed once, under the first path that leads to it (a
    // by-id link and its node), and the kernel's console never, by whatever path.
    QTemporaryDir sys;
    QDir root(sys.path());
    QVERIFY(root.mkpath(QStringLiteral("class/console")) && root.mkpath(QStringLiteral("dev")));
    const QString dev = root.filePath(QStringLiteral("dev"));
    for (const auto &[name, content] : { std::pair { "class/console/active", "tty0 ttyS0\n" }, { "dev/ttyS0", "" } })
        QVERIFY(writeFile(root.filePath(QString::fromLatin1(name)), content));
    QVERIFY(QFile::link(m_pty->slavePath(), dev + QStringLiteral("/usb-by-id")));
    QVERIFY(QFile::link(dev + QStringLiteral("/ttyS0"), dev + QStringLiteral("/console-link")));
    PortMap::setSystemRoots(root.filePath(QStringLiteral("class")), dev);
    PortMap::setSystemScanner([&] { return QStringList { dev + "/ttyUSB0", m_pty->slavePath(), dev + "/ttyS0" }; });
    qputenv(
        "ZELCOM_PORTS", QStringLiteral("/tmp/b::%1/usb-by-id:%1/console-link:/tmp/b/:/tmp/a").arg(dev).toLocal8Bit());
    QCOMPARE(PortMap::devices(), QStringList({ "/tmp/b", dev + "/usb-by-id", "/tmp/a", dev + "/ttyUSB0" }));
    QCOMPARE(PortMap::deviceFor(4), dev + "/ttyUSB0");
    QCOMPARE(PortMap::deviceFor(5), QString());
    QCOMPARE(PortMap::portNumberOf(m_pty->slavePath()), 2);
}

void TestPort::scanFindsHardwarePorts()
{
    // Hardware has a device behind it; a ttyS also needs a UART type other than 0, and must not be the console.
    QTemporaryDir sys;
    QDir root(sys.path());
    for (const char *dir : { "ttyUSB10/device", "ttyUSB2/device", "ttyACM0/device", "ttyS0/device", "ttyS1/device",
             "ttyS2/device", "ttyAMA0/device", "tty1", "console" })
        QVERIFY(root.mkpath(QString::fromLatin1(dir)));
    for (const auto &[name, type] : { std::pair { "ttyS0/type", "4\n" }, { "ttyS1/type", "0\n" },
             { "ttyS2/type", "4\n" }, { "console/active", "tty0 ttyS2\n" } })
        QVERIFY(writeFile(root.filePath(QString::fromLatin1(name)), type));
    QCOMPARE(PortMap::scanSysfs(sys.path()),
        QStringList({ "/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyAMA0", "/dev/ttyS0" }));
}

void TestPort::parityBox()
{
    // The parity box's text and what the next tick writes; a text not in the list leaves what start-up wrote.
    FormFixture f;
    for (const auto &[parity, settings] : { std::pair { "无None", "9600,N,8,1" }, { "奇Odd", "9600,O,8,1" },
             { "偶Even", "9600,E,8,1" }, { "None", "9600,n,8,1" } }) {
        f.form->MSComm1->setSettings(QStringLiteral("9600,n,8,1"));
        f.get<ComboBox>("Combo3")->setText(QString::fromUtf8(parity));
        Timer1_Timer(*f.form);
        QCOMPARE(f.form->MSComm1->Settings(), QString::fromLatin1(settings));
    }
}

void TestPort::settingsBoxes_data()
{
    // Each row makes one box unusable while the port is open; its tooltip says why and what the port keeps.
    addColumns<QString, QString, QString>("box", "text", "tip");
    const QString baud = QStringLiteral("波特率无效：请输入一个正整数。\n当前仍在使用 115200,E,8,2。");
    const QString dataBits = QStringLiteral("数据位无效：只能是 5、6、7 或 8。\n当前仍在使用 115200,E,8,2。");
    addRow("parity typed", "Combo3", "None", "校验位无效：请从列表中选择。\n当前仍在使用 115200,E,8,2。");
    addRow("baud not a number", "Combo2", "abc", baud);
    addRow("baud zero", "Combo2", "0", baud);
    addRow("baud too large", "Combo2", "99999999999", baud);
    addRow("four data bits", "Combo4", "4", dataBits);
    addRow("data bits not a number", "Combo4", "8.0", dataBits);
    addRow("three stop bits", "Combo5", "3", "停止位无效：只能是 1 或 2。\n当前仍在使用 115200,E,8,2。");
}

void TestPort::settingsBoxes()
{
    const auto [box, text, tip] = fetchRow<QString, QString, QString>("box", "text", "tip");
    FormFixture f;
    BoxCatcher boxes;
    // Chosen right after a tick, the settings reach the port within 0.5 s.
    QVERIFY(QSignalSpy(f.form->Timer1, &IntervalTimer::Timer).wait());
    f.get<ComboBox>("Combo2")->setListIndex(2);
    f.get<ComboBox>("Combo3")->setListIndex(2);
    f.get<ComboBox>("Combo5")->setListIndex(1);
    QTRY_COMPARE_WITH_TIMEOUT(f.form->MSComm1->Settings(), QStringLiteral("115200,E,8,2"), 500);
    f.click("Command5");

    // An unusable box turns red with a tooltip, and the port keeps what it has.
    auto *combo = f.form->findChild<ComboBox *>(box);
    const QString initial = combo->text();
    combo->setText(text);
    QTRY_COMPARE(combo->toolTip(), tip);
    QCOMPARE(combo->palette().color(QPalette::Text), QColor(Qt::red));
    QCOMPARE(f.form->MSComm1->Settings(), QStringLiteral("115200,E,8,2"));
    QCOMPARE(f.pty.baud(), 115200);
    QVERIFY(f.form->MSComm1->PortOpen());
    QVERIFY(boxes.boxes().isEmpty());

    // Mended, the next tick applies it and the mark goes; a typed baud may have blanks and be a custom rate.
    combo->setText(initial);
    f.get<ComboBox>("Combo2")->setText(QStringLiteral(" 250000 "));
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("250000,E,8,2"));
    QCOMPARE(f.pty.baud(), 250000);
    QTRY_VERIFY(combo->toolTip().isEmpty());
}

void TestPort::choosingAnotherPortWhileOpen()
{
    // COM1 is /dev/ptmx: a pty master, which refuses 7 data bits as a serial device might. COM2 takes them.
    FormFixture f;
    BoxCatcher boxes; // a refused open fails the test rather than waiting for an answer
    qputenv("ZELCOM_PORTS", "/dev/ptmx:" + f.pty.slavePath().toLocal8Bit());
    f.click("Command5");
    QCOMPARE(f.portShown(), kShownOpen);
    // A new baud the device takes with data bits it refuses: all or nothing, the device stays at 9600.
    auto *combo4 = f.get<ComboBox>("Combo4");
    f.get<ComboBox>("Combo2")->setText(QStringLiteral("115200"));
    combo4->setText(QStringLiteral("7"));
    QTRY_COMPARE(combo4->toolTip(), QStringLiteral("串口设备不接受这组设置：参数无效。\n当前仍在使用 9600,N,8,1。"));
    QCOMPARE(ptmxBaud(), 9600);

    // Another port closes this one, and is offered what the boxes show: the mark goes once it is taken.
    f.get<ComboBox>("Combo1")->setListIndex(1);
    QVERIFY(!f.form->MSComm1->PortOpen());
    QCOMPARE(f.form->MSComm1->CommPort(), 2);
    QCOMPARE(f.portShown(), kShownClosed);
    QTRY_COMPARE(f.form->MSComm1->Settings(), QStringLiteral("115200,N,7,1"));
    QTRY_COMPARE(combo4->toolTip(), QString());
}

QTEST_MAIN(TestPort)
#include "tst_port.moc"
