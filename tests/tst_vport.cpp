// The virtual serial device, driven as the window drives a port: through MSComm over its pty.

#include "port/mscomm.h"
#include "port/portmap.h"
#include "tools/vport/hardware.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <set>

namespace {

const QRegularExpression kLine(QStringLiteral("^虚拟串口 第(\\d+)行\r\n$"));

// A running device; the pty path is its first line of output.
struct Vport
{
    explicit Vport(const QStringList &args)
    {
        process.start(QStringLiteral(ZELCOM_VPORT_PATH), args);
        if (process.waitForStarted() && process.waitForReadyRead(5000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Vport()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    void signal(int sig) const { ::kill(static_cast<pid_t>(process.processId()), sig); }

    QProcess process;
    QString path;
};

// The window's serial component, with COM1 on the device.
struct Port
{
    explicit Port(const QString &path)
    {
        PortMap::setSystemScanner([] { return QStringList(); });
        qputenv("ZELCOM_PORTS", path.toLocal8Bit());
        comm.setCommPort(1);
        comm.setInputMode(MSComm::comInputModeBinary);
    }

    // Collects input until `enough` says so; gives up after 10 s, far beyond what any case needs.
    template <typename Pred> QByteArray readUntil(Pred enough)
    {
        QSignalSpy spy(&comm, &MSComm::OnComm);
        QElapsedTimer clock;
        clock.start();
        while (!enough(received) && clock.elapsed() < 10'000) {
            received += comm.Input().toByteArray();
            if (!enough(received))
                spy.wait(50);
        }
        return received;
    }

    MSComm comm;
    QByteArray received;
};

QStringList completeLines(const QByteArray &bytes)
{
    QStringDecoder gbk("GBK");
    const QString text = gbk.decode(bytes.left(bytes.lastIndexOf('\n') + 1));
    QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    for (QString &line : lines)
        line += u'\n';
    return lines;
}

} // namespace

class TestVport : public QObject
{
    Q_OBJECT

private slots:
    void echoesEveryByteAcrossReopens();
    void sendsNumberedGbkLines();
    void flood_data();
    void flood();
    void stopsCleanly_data();
    void stopsCleanly();
    void refusesBadArguments_data();
    void refusesBadArguments();
    void hardwareLeavesOutTheConsole_data();
    void hardwareLeavesOutTheConsole();
};

void TestVport::echoesEveryByteAcrossReopens()
{
    Vport vport({ QStringLiteral("--quiet") });
    QVERIFY(!vport.path.isEmpty());
    Port port(vport.path);
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    // Every byte value, CR, LF, XON/XOFF and NUL included, must come back unchanged after each reopen.
    for (int cycle = 0; cycle < 5; ++cycle) {
        const QByteArray payload = all + QByteArray("cycle ") + QByteArray::number(cycle);
        port.received.clear();
        port.comm.setPortOpen(true);
        port.comm.setOutput(payload);
        const QByteArray echo = port.readUntil([&](const QByteArray &r) { return r.size() >= payload.size(); });
        QCOMPARE(echo, payload);
        port.comm.setPortOpen(false);
    }
    QCOMPARE(vport.process.state(), QProcess::Running);
}

void TestVport::sendsNumberedGbkLines()
{
    Vport vport({});
    QVERIFY(!vport.path.isEmpty());
    Port port(vport.path);
    port.comm.setPortOpen(true);
    const QByteArray bytes = port.readUntil([](const QByteArray &r) { return r.count('\n') >= 2; });
    const QStringList lines = completeLines(bytes);
    QVERIFY2(lines.size() >= 2, bytes.toHex(' ').constData());
    const auto first = kLine.match(lines[0]);
    const auto second = kLine.match(lines[1]);
    QVERIFY2(first.hasMatch(), qPrintable(lines[0]));
    QVERIFY2(second.hasMatch(), qPrintable(lines[1]));
    QCOMPARE(second.captured(1).toInt(), first.captured(1).toInt() + 1);
}

void TestVport::flood_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("text");
    QTest::newRow("text") << QStringList { QStringLiteral("--flood"), QStringLiteral("200000") } << true;
    QTest::newRow("random") << QStringList { QStringLiteral("--flood"), QStringLiteral("200000"),
        QStringLiteral("--random") }
                            << false;
}

void TestVport::flood()
{
    QFETCH(QStringList, args);
    QFETCH(bool, text);
    Vport vport(args);
    QVERIFY(!vport.path.isEmpty());
    Port port(vport.path);
    port.comm.setPortOpen(true);
    const QByteArray bytes = port.readUntil([](const QByteArray &r) { return r.size() >= 50'000; });
    QVERIFY2(bytes.size() >= 50'000, QByteArray::number(bytes.size()).constData());
    if (text) {
        // Whole lines, numbered without a gap: nothing was dropped or cut in between.
        const QStringList lines = completeLines(bytes);
        int previous = -1;
        for (const QString &line : lines) {
            const auto m = kLine.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            if (previous >= 0)
                QCOMPARE(m.captured(1).toInt(), previous + 1);
            previous = m.captured(1).toInt();
        }
    } else {
        std::set<unsigned char> values(bytes.cbegin(), bytes.cend());
        QCOMPARE(values.size(), std::size_t(256));
    }
}

void TestVport::stopsCleanly_data()
{
    QTest::addColumn<int>("sig");
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("SIGTERM, port closed") << int(SIGTERM) << false;
    QTest::newRow("SIGTERM, port open") << int(SIGTERM) << true;
    QTest::newRow("SIGINT, port closed") << int(SIGINT) << false;
    QTest::newRow("SIGINT, port open") << int(SIGINT) << true;
}

void TestVport::stopsCleanly()
{
    QFETCH(int, sig);
    QFETCH(bool, portOpen);
    Vport vport({});
    QVERIFY(!vport.path.isEmpty());
    Port port(vport.path);
    if (portOpen)
        port.comm.setPortOpen(true);
    vport.signal(sig);
    QVERIFY(vport.process.waitForFinished(5000));
    QCOMPARE(vport.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(vport.process.exitCode(), 0);
    if (portOpen)
        port.comm.setPortOpen(false);
    // The pty is gone once nobody holds it.
    QTRY_VERIFY(!QFile::exists(vport.path));
}

void TestVport::refusesBadArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown") << QStringList { QStringLiteral("--loud") };
    QTest::newRow("flood without rate") << QStringList { QStringLiteral("--flood") };
    QTest::newRow("flood rate zero") << QStringList { QStringLiteral("--flood"), QStringLiteral("0") };
    QTest::newRow("flood rate text") << QStringList { QStringLiteral("--flood"), QStringLiteral("fast") };
    QTest::newRow("flood rate huge") << QStringList { QStringLiteral("--flood"),
        QStringLiteral("99999999999999999999") };
    QTest::newRow("random alone") << QStringList { QStringLiteral("--random") };
}

void TestVport::refusesBadArguments()
{
    QFETCH(QStringList, args);
    QProcess process;
    process.start(QStringLiteral(ZELCOM_VPORT_PATH), args);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

void TestVport::hardwareLeavesOutTheConsole_data()
{
    QTest::addColumn<QString>("console");
    QTest::addColumn<QStringList>("expected");
    const QString s0 = QStringLiteral("/dev/ttyS0");
    const QString s1 = QStringLiteral("/dev/ttyS1");
    const QString usb = QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("no console file") << QString() << QStringList { usb, s0, s1 };
    QTest::newRow("console on a VT") << QStringLiteral("tty0\n") << QStringList { usb, s0, s1 };
    QTest::newRow("console on ttyS0") << QStringLiteral("tty0 ttyS0\n") << QStringList { usb, s1 };
    QTest::newRow("console on ttyS1 only") << QStringLiteral("ttyS1") << QStringList { usb, s0 };
}

void TestVport::hardwareLeavesOutTheConsole()
{
    QFETCH(QString, console);
    QFETCH(QStringList, expected);
    QTemporaryDir sys;
    QDir dir(sys.path());
    for (const char *name : { "ttyS0", "ttyS1", "ttyUSB0", "console" }) {
        const QString n = QString::fromLatin1(name);
        QVERIFY(dir.mkpath(n));
        if (n != QLatin1String("console"))
            QVERIFY(dir.mkpath(n + QStringLiteral("/device")));
        if (n.startsWith(QLatin1String("ttyS"))) {
            QFile type(dir.filePath(n + QStringLiteral("/type")));
            QVERIFY(type.open(QIODevice::WriteOnly));
            type.write("4\n");
        }
    }
    if (!console.isNull()) {
        QFile active(dir.filePath(QStringLiteral("console/active")));
        QVERIFY(active.open(QIODevice::WriteOnly));
        active.write(console.toLatin1());
    }
    QCOMPARE(freeSerialHardware(sys.path()), expected);
}

QTEST_GUILESS_MAIN(TestVport)
#include "tst_vport.moc"
