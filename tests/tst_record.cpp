// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping what arrives in files: a record byte-exact across a reopen and a clear, in both formats; a full
// disk, a disk that falls behind, and a program killed while it records; a save as a hex dump.
#include "terminal/hexdump.h"
#include "terminal/receiveview/receivearea.h"
#include "terminal/receiveview/recordwriter.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/contextmenu.h"
#include "tests/support/expectnothing.h"
#include "tests/support/files.h"
#include "tests/support/formfixture.h"
#include "tests/support/pattern.h"
#include "tests/support/rows.h"
#include "window/texts.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The helper the kill test runs: records the pattern, 4 KiB every 10 ms, and prints how much it handed over.
int recordChild(const char *path)
{
    int argc = 1;
    char name[] = "record-child";
    char *argv[] = { name, nullptr };
    QCoreApplication app(argc, argv);
    RecordWriter writer;
    if (writer.open(QString::fromLocal8Bit(path)) != 0)
        return 2;
    qint64 total = 0;
    QTimer tick;
    tick.callOnTimeout([&] {
        writer.append(pattern(4096, total));
        total += 4096;
        std::printf("%lld\n", total);
        std::fflush(stdout);
    });
    tick.start(10);
    return app.exec();
}

// Opens the area's context menu from the keyboard and starts or stops recording.
void chooseRecord(ReceiveArea *area)
{
    chooseFromMenu(area->viewport(), Qt::Key_R);
}

} // namespace

class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void recordsWhatArrived_data();
    void recordsWhatArrived();
    void diskFailureStopsWithOneBox_data();
    void diskFailureStopsWithOneBox();
    void slowDiskStopsPastTheBound();
    void killedLosesAtMostTheLastSecond();
    void savesAHexDump_data();
    void savesAHexDump();
};

void TestRecord::recordsWhatArrived_data()
{
    // The display, the format, what arrives before the port is closed and the area cleared, what arrives after
    // it is reopened (with the received counter after each), and what the record must hold.
    addColumns<bool, QString, QByteArray, QString, QByteArray, QString, QByteArray, QString>(
        "hex", "format", "first", "firstCount", "second", "secondCount", "record", "tooltip");
    const QString raw = Texts::kRecordFilterRaw, shown = Texts::kRecordFilterShown;
    QByteArray all(256, 0);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    const QByteArray gbk("\xce\xc2\xb6\xc8 23\xa1\xe6\r\n"); // 温度 23℃ CR LF
    const QString rawTip = QStringLiteral("正在把收到的原始字节追加记录到 FILE");
    const QString shownTip = QStringLiteral("正在把接收区显示的文本（UTF-8）追加记录到 FILE");
    addRow("raw bytes in hex display", true, raw, all, "256", QByteArray("\r\nZ"), "259", all + "\r\nZ", rawTip);
    addRow("raw bytes in character display", false, raw, gbk, "8", QByteArray("ok\xff"), "11", gbk + "ok\xff", rawTip);
    addRow("text as shown in hex display", true, shown, QByteArray("\x00\x0f\xab", 3), "3", QByteArray("\r\nZ"), "6",
        QByteArray("00 0F AB 0D 0A 5A "), shownTip);
    addRow("text as shown in character display", false, shown, gbk, "8", QByteArray("ok\r\n"), "12",
        QStringLiteral("温度 23℃\r\nok\r\n").toUtf8(), shownTip);
}

void TestRecord::recordsWhatArrived()
{
    auto [hex, format, first, firstCount, second, secondCount, record, tooltip]
        = fetchRow<bool, QString, QByteArray, QString, QByteArray, QString, QByteArray, QString>(
            "hex", "format", "first", "firstCount", "second", "secondCount", "record", "tooltip");
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("record.log"));
    QVERIFY(writeFile(path, "earlier\n"));
    FormFixture f(true);
    auto *area = f.get<ReceiveArea>("Text1");
    if (hex)
        f.click("Option1");
    BoxCatcher boxes;
    boxes.answers().setNextFileName(path);
    boxes.answers().setNextFileFilter(format);
    chooseRecord(area);
    QVERIFY(area->recording());
    tooltip.replace(QStringLiteral("FILE"), path);
    QVERIFY2(area->toolTip().split(u'\n').contains(tooltip), qPrintable(area->toolTip()));
    QCOMPARE(area->accessibleDescription(), area->toolTip());

    f.pty.write(first);
    QTRY_COMPARE(f.receivedCount(), firstCount);
    f.click("Command5");
    QTRY_COMPARE(f.portShown(), kShownClosed);
    f.click("Command3");
    f.click("Command5");
    QTRY_COMPARE(f.portShown(), kShownOpen);
    f.pty.write(second);
    QTRY_COMPARE(f.receivedCount(), secondCount);
    chooseRecord(area);
    QVERIFY(!area->recording());
    QVERIFY(!area->toolTip().contains(path));
    f.pty.write("after");
    QTRY_VERIFY(f.received().endsWith(hex ? QStringLiteral("61 66 74 65 72 ") : QStringLiteral("after")));
    QTRY_COMPARE(readFile(path), "earlier\n" + record);
    QVERIFY(boxes.boxes().isEmpty());
}

void TestRecord::diskFailureStopsWithOneBox_data()
{
    addColumns<bool, QString>("lostFolder", "reason");
    QTest::newRow("a full disk") << false << QStringLiteral("磁盘空间已满");
    QTest::newRow("the folder deleted") << true << QStringLiteral("文件或文件夹不存在");
}

void TestRecord::diskFailureStopsWithOneBox()
{
    const auto [lostFolder, reason] = fetchRow<bool, QString>("lostFolder", "reason");
    QTemporaryDir top;
    QVERIFY(QDir(top.path()).mkdir(QStringLiteral("records")));
    const QString folder = top.filePath(QStringLiteral("records"));
    const QByteArray mountPoint = QFile::encodeName(folder);
    if (!lostFolder && ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=16k") != 0)
        QSKIP("no tmpfs can be mounted here (needs root)");
    const auto unmount = qScopeGuard([&] {
        if (!lostFolder)
            ::umount2(mountPoint.constData(), MNT_DETACH);
    });
    const QString path = folder + QStringLiteral("/record.bin");
    BoxCatcher boxes;
    FormFixture f(true);
    auto *area = f.get<ReceiveArea>("Text1");
    f.click("Option1");
    QCOMPARE(area->startRecording(path, ReceiveArea::RecordFormat::Raw), 0);
    const QByteArray before = pattern(8192);
    f.pty.write(before);
    QTRY_COMPARE(QFileInfo(path).size(), 8192);
    QByteArray kept;
    if (lostFolder) {
        kept = readFile(path);
        QVERIFY(QDir(folder).removeRecursively());
    }
    f.pty.write(pattern(65536, 8192));
    QTRY_COMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text, QStringLiteral("记录已停止，未能继续写入 %1。").arg(path));
    QCOMPARE(boxes.boxes()[0].informative, reason + QStringLiteral("。已写入的内容都保留在文件中，接收区照常接收。"));
    QVERIFY(!area->recording());
    // The capture goes on, and what reached the file before it filled stays.
    QTRY_COMPARE(f.receivedCount(), QStringLiteral("73728"));
    QCOMPARE(lostFolder ? kept : readFile(path).left(8192), before);
    QVERIFY(expectNothingFor(100, [&] { return boxes.boxes().size() > 1; }));
}

void TestRecord::slowDiskStopsPastTheBound()
{
    // A pipe nobody reads stands for a disk that has stopped: the writer blocks, and what waits grows.
    QTemporaryDir folder;
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("fifo")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    const auto closeReader = qScopeGuard([&] { ::close(reader); });
    RecordWriter writer(nullptr, 256 << 10);
    QSignalSpy failed(&writer, &RecordWriter::failed);
    QSignalSpy finished(&writer, &RecordWriter::finished);
    QCOMPARE(writer.open(QFile::decodeName(fifo)), 0);
    for (int i = 0; i < 16; ++i)
        writer.append(pattern(65536, i * 65536));
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(failed[0][0].value<RecordWriter::Failure>(), RecordWriter::FellBehind);

    // Once the disk catches up, what was taken before the bound is written whole and in order.
    QByteArray out;
    char chunk[65536];
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const ssize_t n = ::read(reader, chunk, sizeof chunk);
            if (n > 0)
                out.append(chunk, n);
            return n == 0 && finished.size() == 1;
        }(),
        10000);
    QVERIFY(out.size() >= 65536 && out.size() <= (256 << 10) + 65536);
    QCOMPARE(out, pattern(out.size()));
    QCOMPARE(failed.size(), 1);
}

void TestRecord::killedLosesAtMostTheLastSecond()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("record.bin"));
    QProcess child;
    QElapsedTimer clock;
    // When each report arrived, and how much had been handed over by then.
    QList<std::pair<qint64, qint64>> reports;
    connect(&child, &QProcess::readyReadStandardOutput, this, [&] {
        while (child.canReadLine())
            reports.append({ clock.elapsed(), child.readLine().trimmed().toLongLong() });
    });
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--record-child"), path });
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 1500 && !reports.isEmpty() && reports.first().first < 500, 10000);
    ::kill(pid_t(child.processId()), SIGKILL);
    const qint64 killedAt = clock.elapsed();
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    qint64 due = 0;
    for (const auto &[at, total] : reports)
        if (at <= killedAt - 1000)
            due = total;
    QVERIFY(due > 0);
    const QByteArray kept = readFile(path);
    QVERIFY2(kept.size() >= due, qPrintable(QStringLiteral("%1 of %2").arg(kept.size()).arg(due)));
    QCOMPARE(kept, pattern(kept.size()));
}

void TestRecord::savesAHexDump_data()
{
    addColumns<QString, QByteArray>("shown", "dump");
    QTest::newRow("a partial last row")
        << QStringLiteral("41 42 0D 0A 00 01 02 03 04 05 06 07 08 09 0A 0B 7E 7F FF 20 ")
        << QByteArray("00000000  41 42 0d 0a 00 01 02 03  04 05 06 07 08 09 0a 0b  |AB..............|\n"
                      "00000010  7e 7f ff 20                                       |~.. |\n"
                      "00000014\n");
    QTest::newRow("nothing") << QString() << QByteArray("00000000\n");
    QTest::newRow("text from character display kept between rows")
        << QStringLiteral("ok\r\n41 42 温度 23℃43 4")
        << QStringLiteral("ok\r\n00000000  41 42                         "
                          "                    |AB|\n温度 23℃\n00000002  43       "
                          "                                         |C|\n4\n00000003\n")
               .toUtf8();
}

void TestRecord::savesAHexDump()
{
    const auto [shown, dump] = fetchRow<QString, QByteArray>("shown", "dump");
    // A token may be cut anywhere between two slices.
    HexDump bySlices;
    QByteArray out;
    for (const QChar c : shown)
        out += bySlices.feed(QStringView(&c, 1));
    QCOMPARE(out + bySlices.finish(), dump);
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--record-child") == 0)
        return recordChild(argv[2]);
    QApplication app(argc, argv);
    TestRecord test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
