// The serial component over real pseudo-terminals, and the pure port logic.

#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "port/textcodec.h"
#include "tests/support/ptypair.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Reads Input until `count` bytes (binary) arrived.
QByteArray collect(MSComm &comm, qsizetype count)
{
    QByteArray got;
    (void)QTest::qWaitFor([&] {
        got += comm.Input().toByteArray();
        return got.size() >= count;
    });
    return got;
}

CommError::Code errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const CommError &e) {
        return e.code();
    }
    return CommError::Code(0);
}

} // namespace

class TestPort : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void parseSettings_data();
    void parseSettings();
    void refusedSettingsKeepTheOldOnes();
    void baudAndStopBitsReachTheDevice_data();
    void baudAndStopBitsReachTheDevice();

    void textModeDecodesGbkAcrossReads();
    void binaryModeAndModeSwitchLoseNothing();
    void outputEncodesGbk();
    void largeInputIsNeverDropped();
    void outputQueueIsBounded();

    void openFailures();
    void deviceLossClosesOnceWithoutSpinning();
    void destroyingClosesThePort();

    void portOrder();
    void scanFindsHardwarePorts();

private:
    std::unique_ptr<PtyPair> m_pty;
};

void TestPort::init()
{
    PortMap::setSystemScanner([] { return QStringList(); });
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    qputenv("ZELCOM_PORTS", m_pty->slavePath().toLocal8Bit());
}

void TestPort::parseSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baud");
    QTest::addColumn<char>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("default") << "9600,n,8,1" << true << 9600 << 'N' << 8 << 1;
    QTest::newRow("upper even two stops") << "115200,E,7,2" << true << 115200 << 'E' << 7 << 2;
    QTest::newRow("custom odd five") << "250000,o,5,1" << true << 250000 << 'O' << 5 << 1;
    QTest::newRow("largest baud") << "2147483647,n,8,1" << true << 2147483647 << 'N' << 8 << 1;
    for (const char *bad : { "9600,x,8,1", "0,n,8,1", "9600,n,4,1", "9600,n,9,1", "9600,n,8,3", "9600,n,8,1.5",
             " 9600,n,8,1", "9600 ,n,8,1", "9600,n,8", "9600,n,8,1,1", "2147483648,n,8,1", "-9600,n,8,1", "+9600,n,8,1",
             "9600,none,8,1", "", "9600,,8,1", "９６００,n,8,1", "1e4,n,8,1" })
        QTest::newRow(bad) << QString::fromUtf8(bad) << false << 0 << 'N' << 0 << 0;
}

void TestPort::parseSettings()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto parsed = parseLineSettings(text);
    QCOMPARE(parsed.has_value(), valid);
    if (!valid)
        return;
    QFETCH(int, baud);
    QFETCH(char, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QCOMPARE(parsed->baud, baud);
    QCOMPARE(parsed->parity, parity);
    QCOMPARE(parsed->dataBits, dataBits);
    QCOMPARE(parsed->stopBits, stopBits);
}

void TestPort::refusedSettingsKeepTheOldOnes()
{
    MSComm comm;
    comm.setPortOpen(true);
    comm.setSettings(QStringLiteral("115200,n,8,1"));
    QTRY_COMPARE(m_pty->baud(), 115200);
    for (const QString &bad :
        { QStringLiteral("9600,n,4,1"), QStringLiteral("0,n,8,1"), QStringLiteral("9600,x,8,1") }) {
        QCOMPARE(errorOf([&] { comm.setSettings(bad); }), CommError::InvalidValue);
        QCOMPARE(comm.Settings(), QStringLiteral("115200,n,8,1"));
        QCOMPARE(m_pty->baud(), 115200);
    }
    // Refused while closed too, and the next open uses the settings last accepted.
    comm.setPortOpen(false);
    QCOMPARE(errorOf([&] { comm.setSettings(QStringLiteral("9600,n,4,1")); }), CommError::InvalidValue);
    comm.setPortOpen(true);
    QCOMPARE(m_pty->baud(), 115200);
}

void TestPort::baudAndStopBitsReachTheDevice_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<qint64>("baud");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("9600") << "9600,n,8,1" << qint64(9600) << 1;
    QTest::newRow("115200 two stops") << "115200,e,8,2" << qint64(115200) << 2;
    QTest::newRow("256000") << "256000,N,8,1" << qint64(256000) << 1;
    QTest::newRow("custom 250000") << "250000,o,8,2" << qint64(250000) << 2;
}

void TestPort::baudAndStopBitsReachTheDevice()
{
    QFETCH(QString, settings);
    QFETCH(qint64, baud);
    QFETCH(int, stopBits);

    // Written while open: applies at once.
    MSComm comm;
    comm.setPortOpen(true);
    comm.setSettings(settings);
    QCOMPARE(m_pty->baud(), baud);
    QCOMPARE(m_pty->stopBits(), stopBits);

    // Written while closed: applies at the next open.
    comm.setPortOpen(false);
    comm.setSettings(QStringLiteral("9600,n,8,1"));
    comm.setSettings(settings);
    comm.setPortOpen(true);
    QCOMPARE(m_pty->baud(), baud);
    QCOMPARE(m_pty->stopBits(), stopBits);
}

void TestPort::textModeDecodesGbkAcrossReads()
{
    MSComm comm;
    comm.setPortOpen(true);
    QSignalSpy events(&comm, &MSComm::OnComm);

    // 中 is D6 D0 in GBK; the first read sees only its lead byte.
    m_pty->write(QByteArray("A\xD6"));
    QVERIFY(events.wait());
    QString text;
    QTRY_VERIFY((text += comm.Input().toString()).contains(u'A'));
    QCOMPARE(text, QStringLiteral("A"));
    m_pty->write(QByteArray("\xD0"
                            "B"));
    QTRY_VERIFY((text += comm.Input().toString()).endsWith(u'B'));
    QCOMPARE(text, QStringLiteral("A中B"));

    // Invalid bytes are shown as they come and take nothing valid with them.
    text.clear();
    m_pty->write(QByteArray("x\x81 y\xFF"
                            "z\x00"
                            "w",
        8));
    QTRY_VERIFY((text += comm.Input().toString()).endsWith(u'w'));
    QVERIFY(text.startsWith(u'x'));
    QVERIFY(text.contains(QStringLiteral(" y")));
    QVERIFY(text.contains(QChar(u'\0')));
    QVERIFY(text.contains(u'z'));
}

void TestPort::binaryModeAndModeSwitchLoseNothing()
{
    MSComm comm;
    comm.setPortOpen(true);
    comm.setInputMode(MSComm::comInputModeBinary);
    const QByteArray all("\x00\x01\xFF\x0A\x0D\xD6", 6);
    m_pty->write(all);
    QCOMPARE(collect(comm, all.size()), all);

    // A lead byte waiting in text mode is still there for a switch to binary.
    comm.setInputMode(MSComm::comInputModeText);
    m_pty->write(QByteArray("\xD6"));
    QTest::qWait(50);
    QCOMPARE(comm.Input().toString(), QString());
    comm.setInputMode(MSComm::comInputModeBinary);
    QCOMPARE(comm.Input().toByteArray(), QByteArray("\xD6"));

    QCOMPARE(errorOf([&] { comm.setInputMode(2); }), CommError::InvalidValue);
    QCOMPARE(comm.InputMode(), int(MSComm::comInputModeBinary));
}

void TestPort::outputEncodesGbk()
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
}

void TestPort::largeInputIsNeverDropped()
{
    MSComm comm;
    comm.setPortOpen(true);
    comm.setInputMode(MSComm::comInputModeBinary);
    QByteArray data;
    for (int i = 0; i < 100000; ++i)
        data.append(static_cast<char>(i * 7));
    m_pty->write(data);
    QCOMPARE(collect(comm, data.size()), data);
}

void TestPort::outputQueueIsBounded()
{
    MSComm comm;
    comm.setPortOpen(true);
    // Nobody reads the master: the pty fills up and the queue must stop growing.
    const QByteArray block(64 * 1024, 'x');
    int accepted = 0;
    CommError::Code code {};
    for (int i = 0; i < 64 && !code; ++i) {
        code = errorOf([&] { comm.setOutput(block); });
        if (!code)
            ++accepted;
    }
    QCOMPARE(code, CommError::OutputFull);
    QVERIFY(accepted >= 8);
    // Once the device reads, sends go again.
    m_pty->read(accepted * block.size(), 5000);
    QCOMPARE(errorOf([&] { comm.setOutput(block); }), CommError::Code(0));
}

void TestPort::openFailures()
{
    MSComm comm;
    // COM2 has no device behind it.
    comm.setCommPort(2);
    QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), CommError::PortInvalid);
    QCOMPARE(comm.lastOpenFailure(), MSComm::OpenFailure::NoDevice);
    QVERIFY(!comm.PortOpen());

    // A listed path that does not exist.
    qputenv("ZELCOM_PORTS", "/dev/zelcom-no-such-device:" + m_pty->slavePath().toLocal8Bit());
    comm.setCommPort(1);
    QVERIFY(errorOf([&] { comm.setPortOpen(true); }) != 0);
    QCOMPARE(comm.lastOpenFailure(), MSComm::OpenFailure::NoDevice);

    // Held by another program.
    comm.setCommPort(2);
    MSComm other;
    other.setCommPort(2);
    other.setPortOpen(true);
    QCOMPARE(errorOf([&] { comm.setPortOpen(true); }), CommError::DeviceBusy);
    QCOMPARE(comm.lastOpenFailure(), MSComm::OpenFailure::Busy);

    // Open twice, a port number changed while open, out of range.
    QCOMPARE(errorOf([&] { other.setPortOpen(true); }), CommError::PortAlreadyOpen);
    QCOMPARE(errorOf([&] { other.setCommPort(1); }), CommError::PortAlreadyOpen);
    QCOMPARE(errorOf([&] { comm.setCommPort(0); }), CommError::InvalidValue);
    QCOMPARE(comm.CommPort(), 2);
}

void TestPort::deviceLossClosesOnceWithoutSpinning()
{
    MSComm comm;
    comm.setInputMode(MSComm::comInputModeBinary);
    comm.setPortOpen(true);
    QSignalSpy lost(&comm, &MSComm::portLost);
    QSignalSpy events(&comm, &MSComm::OnComm);

    // The bytes have arrived, but nobody has read them yet when the device goes.
    m_pty->write(QByteArray("last words"));
    QVERIFY(events.wait());
    m_pty->closeMaster();
    QVERIFY(lost.wait(2000));
    QVERIFY(!comm.PortOpen());
    QCOMPARE(comm.Input().toByteArray(), QByteArray("last words"));

    const double before = cpuSeconds();
    QTest::qWait(1000);
    const double spent = cpuSeconds() - before;
    QCOMPARE(lost.count(), 1);
    QVERIFY2(events.count() <= 3, qPrintable(QString::number(events.count())));
    QVERIFY2(spent < 0.2, qPrintable(QStringLiteral("%1 s of CPU in the second after the loss").arg(spent)));
}

void TestPort::destroyingClosesThePort()
{
    {
        MSComm comm;
        comm.setPortOpen(true);
    }
    // The device is free again: another component can have it.
    MSComm again;
    again.setPortOpen(true);
    QVERIFY(again.PortOpen());
}

void TestPort::portOrder()
{
    QStringList names { "ttyUSB10", "ttyUSB2", "ttyUSB1", "ttyS10", "ttyS9", "ttyACM0" };
    std::sort(names.begin(), names.end(), PortMap::naturalLess);
    QCOMPARE(names, QStringList({ "ttyACM0", "ttyS9", "ttyS10", "ttyUSB1", "ttyUSB2", "ttyUSB10" }));

    // Listed paths come first, in their order, and a scanned device is not listed twice.
    PortMap::setSystemScanner([] { return QStringList { "/dev/ttyUSB0", "/dev/ttyS0" }; });
    qputenv("ZELCOM_PORTS", "/tmp/b::/dev/ttyS0:/tmp/a");
    QCOMPARE(PortMap::devices(), QStringList({ "/tmp/b", "/dev/ttyS0", "/tmp/a", "/dev/ttyUSB0" }));
    QCOMPARE(PortMap::deviceFor(4), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(PortMap::deviceFor(5), QString());
    QCOMPARE(PortMap::deviceFor(0), QString());
}

void TestPort::scanFindsHardwarePorts()
{
    QTemporaryDir sys;
    QDir root(sys.path());
    const auto add = [&](const QString &name, bool device, const char *type = nullptr) {
        root.mkpath(name);
        if (device)
            root.mkpath(name + QStringLiteral("/device"));
        if (type) {
            QFile f(root.filePath(name + QStringLiteral("/type")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(type);
        }
    };
    add(QStringLiteral("ttyUSB10"), true);
    add(QStringLiteral("ttyUSB2"), true);
    add(QStringLiteral("ttyACM0"), true);
    add(QStringLiteral("ttyS0"), true, "4\n");
    add(QStringLiteral("ttyS1"), true, "0\n"); // registered, no UART behind it
    add(QStringLiteral("ttyAMA0"), true);
    add(QStringLiteral("tty1"), false);
    add(QStringLiteral("console"), false);
    QCOMPARE(PortMap::scanSysfs(sys.path()),
        QStringList({ "/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyAMA0", "/dev/ttyS0" }));
}

QTEST_GUILESS_MAIN(TestPort)
#include "tst_port.moc"
