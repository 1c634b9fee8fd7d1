// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual serial device, driven as the window drives a port: through MSComm over its pty.

#include "port/mscomm.h"
#include "port/portmap.h"
#include "tests/support/files.h"
#include "tests/support/rows.h"
#include "tools/vport/hardware.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <functional>
#include <set>

namespace {

const QRegularExpression kLine(QStringLiteral("^虚拟串口 第(\\d+)行\r$"));

// A running device, its pty (the first line it prints) on COM1 of a serial component in binary mode.
struct Device
{
    explicit Device(const QString &args)
    {
        process.start(QStringLiteral(ZELCOM_VPORT_PATH), args.split(u' ', Qt::SkipEmptyParts));
        if (process.waitForStarted() && process.waitForReadyRead(5000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
        PortMap::setSystemScanner([] { return QStringList(); });
        qputenv("ZELCOM_PORTS", path.toLocal8Bit());
        comm.setInputMode(MSComm::comInputModeBinary);
    }
    ~Device()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // Collects input until `enough` says so; gives up after 10 s, far beyond what any case needs.
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &enough)
    {
        QByteArray received;
        static_cast<void>(
            QTest::qWaitFor([&] { return enough(received += std::get<QByteArray>(comm.Input())); }, 10'000));
        return received;
    }

    // Sends `sig`: true when the device then exits by itself with status 0.
    bool stop(int sig)
    {
        ::kill(static_cast<pid_t>(process.processId()), sig);
        return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QProcess process;
    QString path;
    MSComm comm;
};

} // namespace

class TestVport : public QObject
{
    Q_OBJECT

private slots:
    void echoesEveryByteAcrossReopens();
    void output_data();
    void output();
    void refusesBadArguments_data();
    void refusesBadArguments();
    void hardwareLeavesOutTheConsole();
};

void TestVport::echoesEveryByteAcrossReopens()
{
    Device device(QStringLiteral("--quiet"));
    QVERIFY(!device.path.isEmpty());
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    // Every byte value, CR, LF, XON/XOFF and NUL included, must come back unchanged after each reopen.
    for (int cycle = 0; cycle < 5; ++cycle) {
        const QByteArray payload = all + "cycle " + QByteArray::number(cycle);
        device.comm.setPortOpen(true);
        device.comm.setOutput(payload);
        QCOMPARE(device.readUntil([&](const QByteArray &r) { return r.size() >= payload.size(); }), payload);
        device.comm.setPortOpen(false);
    }
    // Still running, it stops cleanly on SIGTERM and its pty goes with it.
    QVERIFY(device.stop(SIGTERM));
    QTRY_VERIFY(!QFile::exists(device.path));
}

void TestVport::output_data()
{
    addColumns<QString, int>("args", "minBytes");
    // Two lines of at least "虚拟串口 第1行" and CR LF in GBK.
    QTest::newRow("a line a second") << QString() << 2 * 16;
    QTest::newRow("flood") << QStringLiteral("--flood 200000") << 50'000;
    QTest::newRow("random flood") << QStringLiteral("--flood 200000 --random") << 50'000;
}

void TestVport::output()
{
    const auto [args, minBytes] = fetchRow<QString, int>("args", "minBytes");
    const bool random = args.contains(QStringLiteral("--random"));
    Device device(args);
    QVERIFY(!device.path.isEmpty());
    device.comm.setPortOpen(true);
    const QByteArray bytes
        = device.readUntil([&](const QByteArray &r) { return r.size() >= minBytes && (random || r.count('\n') >= 2); });
    QVERIFY2(bytes.size() >= minBytes, QByteArray::number(bytes.size()).constData());
    // Interrupted while the port is open, it still exits cleanly; the pty goes once the port closes.
    QVERIFY(device.stop(SIGINT));
    device.comm.setPortOpen(false);
    QTRY_VERIFY(!QFile::exists(device.path));

    if (random) {
        std::set<unsigned char> values(bytes.cbegin(), bytes.cend());
        QCOMPARE(values.size(), std::size_t(256));
        return;
    }
    // Whole GBK lines, numbered without a gap: nothing was dropped or cut in between.
    const QString text = QStringDecoder("GBK").decode(bytes.left(bytes.lastIndexOf('\n')));
    const QStringList lines = text.split(u'\n');
    QVERIFY2(lines.size() >= 2, bytes.toHex(' ').constData());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto m = kLine.match(lines[i]);
        QVERIFY2(m.hasMatch(), qPrintable(lines[i]));
        if (i > 0)
            QCOMPARE(m.captured(1).toInt(), kLine.match(lines[i - 1]).captured(1).toInt() + 1);
    }
}

void TestVport::refusesBadArguments_data()
{
    QTest::addColumn<QString>("args");
    QTest::newRow("unknown") << QStringLiteral("--loud");
    QTest::newRow("flood without rate") << QStringLiteral("--flood");
    QTest::newRow("flood rate zero") << QStringLiteral("--flood 0");
    QTest::newRow("flood rate huge") << QStringLiteral("--flood 99999999999999999999");
    QTest::newRow("random alone") << QStringLiteral("--random");
}

void TestVport::refusesBadArguments()
{
    QFETCH(QString, args);
    QProcess process;
    process.start(QStringLiteral(ZELCOM_VPORT_PATH), args.split(u' '));
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

void TestVport::hardwareLeavesOutTheConsole()
{
    // The kernel lists every console, a virtual terminal among them; a serial one is not offered.
    QTemporaryDir sys;
    QDir dir(sys.path());
    for (const char *path : { "ttyUSB0/device", "ttyUSB1/device", "console" })
        QVERIFY(dir.mkpath(QString::fromLatin1(path)));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("console/active")), "tty0 ttyUSB0\n"));
    QCOMPARE(freeSerialHardware(sys.path()), QStringList({ QStringLiteral("/dev/ttyUSB1") }));
}

QTEST_GUILESS_MAIN(TestVport)
#include "tst_vport.moc"
