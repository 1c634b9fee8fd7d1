// SPDX-License-Identifier: GPL-3.0-or-later
// Times of arrival: lines that arrive in pieces, hex runs, drops, edits and clear; blocks sealed into the
// scratch file and read back; the margin that shows them never entering the text.
#include "terminal/capture/scratchfile.h"
#include "terminal/receiveview/receivearea.h"
#include "terminal/receiveview/savedialog.h"
#include "terminal/receiveview/timegutter.h"
#include "tests/support/files.h"
#include "tests/support/contextmenu.h"
#include "tests/support/rows.h"
#include "window/messagebox.h"
#include "window/texts.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestTimes : public QObject
{
    Q_OBJECT

private slots:
    void linesBegin_data();
    void linesBegin();
    void editsAndDrops_data();
    void editsAndDrops();
    void blocksReadBack_data();
    void blocksReadBack();
    void stampFormats();
    void marginAndIdleRowsStayOutOfTheText();
    void savedAndRecordedWithTimes();
};

// Every line start held in [0, end) as "position@ms", in order, "~idle" after a hex run's pause.
static QString stamps(const LineTimes &times, qint64 from, qint64 end)
{
    QStringList out;
    while (auto stamp = times.firstIn(from, end)) {
        out << QStringLiteral("%1@%2").arg(stamp->at).arg(stamp->ms)
                + (stamp->idleMs ? u"~%1"_qs.arg(stamp->idleMs) : u""_qs);
        from = stamp->at + 1;
    }
    return out.join(u' ');
}

void TestTimes::linesBegin_data()
{
    // Appends "t:" text or "h:" hex bytes, each "@" its time; then the line starts at their times.
    addColumns<QString, QString>("appends", "expected");
    // clang-format off
    QTest::newRow("line in pieces") << "t:ab@100|t:c\r\nde@200|t:f\n@300|t:g@400" << "0@100 5@200 9@400";
    QTest::newRow("CR LF split") << "t:x\r@100|t:\ny@200|t:\n@300" << "0@100 3@200";
    QTest::newRow("lone CR and LF") << "t:a\rb\n\nc@1" << "0@1 2@1 4@1 5@1";
    QTest::newRow("hex runs") << "h:410A42@100|h:43@119|h:44@139|h:0A@500|h:45@501" << "0@100 6@100 12@139~20 15@500~361 18@501";
    QTest::newRow("display switch") << "t:ab@1|h:00@2|t:c@3" << "0@1 2@2 5@3";
    // clang-format on
}

void TestTimes::linesBegin()
{
    const auto [appends, expected] = fetchRow<QString, QString>("appends", "expected");
    LineTimes times;
    qint64 end = 0;
    for (const QString &append : appends.split(u'|')) {
        const qsizetype at = append.lastIndexOf(u'@');
        const QString data = append.mid(2, at - 2);
        const qint64 ms = append.mid(at + 1).toLongLong();
        if (append.startsWith(u'h')) {
            times.hex(QByteArray::fromHex(data.toLatin1()), end, ms);
            end += data.size() / 2 * 3;
        } else {
            times.text(data, end, ms);
            end += data.size();
        }
    }
    QCOMPARE(stamps(times, 0, end), expected);
}

void TestTimes::editsAndDrops_data()
{
    // Lines "L0".."L4" arrive at 0..4 ms; then an edit (from, to, text) or a bound on what is held. Each
    // line is shown with the time of its first character, "-" when the user wrote it.
    addColumns<qint64, qint64, QString, qint64, QString>("from", "to", "typed", "maximum", "expected");
    QTest::newRow("as arrived") << 0ll << 0ll << "" << 0ll << "L0@0 L1@1 L2@2 L3@3 L4@4 L5@5";
    QTest::newRow("line typed in") << 3ll << 3ll << "new\n" << 0ll << "L0@0 new@- L1@1 L2@2 L3@3 L4@4 L5@5";
    QTest::newRow("line removed") << 3ll << 6ll << "" << 0ll << "L0@0 L2@2 L3@3 L4@4 L5@5";
    QTest::newRow("lines joined") << 2ll << 3ll << "" << 0ll << "L0L1@0 L2@2 L3@3 L4@4 L5@5";
    QTest::newRow("start of a line cut") << 3ll << 4ll << "" << 0ll << "L0@0 1@- L2@2 L3@3 L4@4 L5@5";
    QTest::newRow("oldest made way") << 0ll << 0ll << "" << 9ll << "L3@3 L4@4 L5@5";
    QTest::newRow("typed, then made way") << 3ll << 3ll << "new\n" << 9ll << "L3@3 L4@4 L5@5";
}

void TestTimes::editsAndDrops()
{
    const auto [from, to, typed, maximum, expected]
        = fetchRow<qint64, qint64, QString, qint64, QString>("from", "to", "typed", "maximum", "expected");
    ReceiveArea area;
    qint64 now = 0;
    area.setClock([&now] { return now; });
    for (now = 0; now < 5; ++now)
        area.appendText(QStringLiteral("L%1\n").arg(now));
    if (from != to || !typed.isEmpty())
        area.replace(from, to, typed);
    if (maximum > 0)
        area.setMaximumCharacters(maximum);
    area.appendText(QStringLiteral("L5")); // at 5 ms: a drop comes with an append
    QStringList lines;
    const qint64 origin = area.store().origin();
    for (qint64 start = 0; start < area.characterCount();) {
        const qint64 end = area.store().lineEnd(start, area.characterCount());
        const auto stamp = area.lineTimes().firstIn(start + origin, end + origin);
        lines << area.textBetween(start, end) + u'@' + (stamp ? QString::number(stamp->ms) : QStringLiteral("-"));
        start = end + area.store().breakLength(end);
    }
    QCOMPARE(lines.join(u' '), expected);
    area.setText({});
    area.appendText(QStringLiteral("after"));
    QCOMPARE(stamps(area.lineTimes(), 0, 100), QStringLiteral("0@5"));
}

void TestTimes::blocksReadBack_data()
{
    QTest::addColumn<bool>("file");
    QTest::newRow("sealed in the scratch file") << true;
    QTest::newRow("in memory, within its bound") << false;
}

void TestTimes::blocksReadBack()
{
    QFETCH(bool, file);
    QTemporaryDir folder;
    ArrivalTimes times({ 8, 1, file ? qint64(1) << 30 : 64 }); // blocks of a few entries
    if (file)
        times.setFile(ScratchFile::open({ folder.path(), 0, 0, true, true, {}, {} }));
    const auto msOf = [](qint64 i) { return 1'800'000'000'000 + i * i * 37 % 100'003 - (i % 7 == 0 ? 5000 : 0); };
    for (qint64 i = 0; i < 1000; ++i)
        times.add(i * 5 + i % 3, msOf(i), i % 4 * 40);
    times.flush();
    QCOMPARE(times.memoryBytes() == 0, file);
    QCOMPARE(times.diskBytes() > 0, file);
    const qint64 diskBefore = times.diskBytes();
    times.dropBefore(2500); // line 500's text made way
    QVERIFY(!times.firstIn(0, 2500));
    QVERIFY(!file || times.diskBytes() < diskBefore);
    int found = 0; // without a file only the newest blocks stay, within the bound
    for (qint64 i = 500; i < 1000; ++i) {
        const auto stamp = times.firstIn(i * 5, i * 5 + 5);
        if (!stamp)
            continue;
        QCOMPARE(stamp->ms, msOf(i));
        QCOMPARE(stamp->idleMs, i % 4 * 40);
        if (found++ > 0)
            QCOMPARE(stamp->previousMs.value_or(-1), msOf(i - 1));
    }
    QVERIFY(file ? found == 500 : found > 0 && !times.firstIn(0, 4000));
}

void TestTimes::stampFormats()
{
    const qint64 ms = QDateTime(QDate(2026, 12, 7), QTime(13, 4, 5, 7)).toMSecsSinceEpoch();
    const auto format = [ms](std::optional<qint64> previous, StampFormat f) {
        return formatStamp({ 0, ms, previous }, f);
    };
    QCOMPARE(format({}, StampFormat::Clock), u"13:04:05.007"_qs);
    QCOMPARE(format({}, StampFormat::DateAndClock), u"2026-12-07 13:04:05.007"_qs);
    QCOMPARE(format(ms - 61'006, StampFormat::SincePrevious), u"+61.006"_qs);
    QCOMPARE(format(ms + 1, StampFormat::SincePrevious), u"-0.001"_qs); // the clock was set back
    QCOMPARE(format({}, StampFormat::SincePrevious), u"13:04:05.007"_qs); // no line before: its own time
}

// With the times shown the text narrows, and with a pause chosen a hex run after such a pause starts a row
// of its own; what is held, copied and read by a screen reader stays the same.
void TestTimes::marginAndIdleRowsStayOutOfTheText()
{
    ReceiveArea area;
    qint64 now = 0;
    area.setClock([&now] { return now; });
    area.resize(400, 200);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    const QString lines = QStringLiteral("温度 23.5\r\n湿度 40%\r\n") + QString(300, u'x') + u'\n';
    area.appendText(lines);
    // Bytes 1 to 8 in bursts after pauses of 10, 50 and 100 ms: 01 02 03 | 04 05 | 06 07 | 08.
    for (const auto &[pause, bytes] : { std::pair(0, "010203"), { 10, "0405" }, { 50, "0607" }, { 100, "08" } }) {
        now += pause;
        area.appendHex(QByteArray::fromHex(bytes));
    }
    const qint64 h = lines.size();
    const auto rowStarts = [&] { // the bytes that begin a row
        QString starts;
        for (int i = 0; i < 8; ++i)
            starts += area.characterRect(h + 3 * i).left() == area.characterRect(h).left() ? u"%1"_qs.arg(i + 1) : "";
        return starts;
    };
    const int width = area.viewport()->width();
    QCOMPARE(area.idleGap(), 0);
    QCOMPARE(rowStarts(), u"1"_qs);
    area.setTimesShown(true);
    QTRY_VERIFY(area.viewport()->width() < width);
    // The margin shows something on the rows where lines begin.
    const QImage margin = area.findChild<TimeGutter *>()->grab().toImage();
    QVERIFY(std::any_of(margin.constBits(), margin.constBits() + margin.sizeInBytes(),
        [&](uchar b) { return b != margin.constBits()[0]; }));
    // From the keyboard: the context menu, G, then B for 50 ms.
    chooseFromMenu(area.viewport(), Qt::Key_G, Qt::Key_B);
    QCOMPARE(area.idleGap(), 50);
    QCOMPARE(rowStarts(), u"168"_qs);
    // The caret, the mouse and a screen reader go by the rows shown.
    const QRect six = area.characterRect(h + 15);
    QCOMPARE(area.positionAt(QPointF(six.left() + 1, six.center().y())), h + 15);
    area.setSelection(h + 16, h + 16);
    QTest::keyClick(&area, Qt::Key_End);
    QCOMPARE(area.cursorPosition(), h + 20); // before the blank the row ends with
    QTest::keyClick(&area, Qt::Key_Home);
    QTest::keyClick(&area, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&area, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), u"06 07 "_qs);
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&area)->textInterface();
    int start = 0, end = 0;
    QCOMPARE(text->textAtOffset(int(h + 16), QAccessible::LineBoundary, &start, &end), u"06 07 "_qs);
    area.setSelection(0, area.characterCount());
    QTest::keyClick(&area, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), lines + u"01 02 03 04 05 06 07 08 "_qs);
    area.setIdleGap(100); // a pause as long as the gap counts
    QCOMPARE(rowStarts(), u"18"_qs);
    area.setTimesShown(false);
    QTRY_COMPARE(area.viewport()->width(), width);
}

// The same capture saved with times and recorded as shown with times, across midnight: text lines, one
// split across two reads, then hex whose second run begins inside a row.
void TestTimes::savedAndRecordedWithTimes()
{
    QTemporaryDir folder;
    const QString saved = folder.filePath(u"saved.txt"_qs), recorded = folder.filePath(u"recorded.log"_qs);
    ReceiveArea area;
    qint64 now = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59, 999)).toMSecsSinceEpoch();
    area.setClock([&now] { return now; });
    QCOMPARE(area.startRecording(recorded, ReceiveArea::RecordFormat::ShownWithTimes), 0);
    area.appendText(u"温度\r\n湿");
    now += 1;
    area.appendText(u"度\r\n");
    now += 1;
    area.appendHex(QByteArray::fromHex("410A42"));
    area.stopRecording();
    const QByteArray expected = "2026-12-07 23:59:59.999 温度\r\n2026-12-07 23:59:59.999 湿度\r\n"
                                "2026-12-08 00:00:00.001 41 0A \n2026-12-08 00:00:00.001 42 ";
    BoxAnswers answers;
    answers.setNextFileName(saved);
    answers.setNextFileFilter(Texts::kSaveFilterTimes);
    saveCapture(&area, area.store(), 0, area.characterCount(), true, &area.lineTimes());
    QTRY_COMPARE(readFile(saved), expected);
    QTRY_COMPARE(readFile(recorded), expected);
    QVERIFY(answers.boxes().isEmpty());
}

QTEST_MAIN(TestTimes)
#include "tst_times.moc"
