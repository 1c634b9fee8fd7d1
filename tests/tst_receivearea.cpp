// The receive area: its text stays exactly what was received and typed, whatever it cuts into
// blocks inside, and received data neither moves the caret nor pulls a view the user scrolled away.

#include "terminal/hexformat.h"
#include "terminal/receivearea.h"
#include "window/windowfont.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

namespace {

// The receive area's size and font in the window.
constexpr int kWidth = 289;
constexpr int kHeight = 249;

struct Area
{
    Area()
    {
        area.setFont(windowFont());
        area.resize(kWidth, kHeight);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
    }

    // Puts the caret at the end of the first block or at the start of the block cut from it, and returns
    // the text offset of that cut (0 when nothing was cut).
    int caretAtFirstCut(bool atLineEnd)
    {
        const QTextBlock cut = area.document()->firstBlock().next();
        if (!cut.isValid())
            return 0;
        QTextCursor caret(area.document());
        caret.setPosition(atLineEnd ? cut.position() - 1 : cut.position());
        area.setTextCursor(caret);
        area.setFocus();
        return cut.previous().length() - 1;
    }

    // Document position of an offset into `text`, the area's text: between two blocks stands a cut (no
    // text), CR LF, CR or LF, each one position.
    int positionOf(int offset, const QString &text) const
    {
        QTextBlock block = area.document()->firstBlock();
        int seen = 0;
        while (block.next().isValid() && seen + block.length() - 1 < offset) {
            seen += block.length() - 1;
            if (text.mid(seen, 2) == u"\r\n")
                seen += 2;
            else if (text[seen] == u'\r' || text[seen] == u'\n')
                seen += 1;
            block = block.next();
        }
        return block.position() + offset - seen;
    }

    // The same where the only separators are cuts.
    int positionOf(int offset) const { return positionOf(offset, QString(offset + 1, u'x')); }

    ReceiveArea area;
};

QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(n, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

QStringList hexChunks(int count, int size)
{
    QStringList chunks;
    for (int i = 0; i < count; ++i)
        chunks << renderHex(randomBytes(size, quint32(i + 1)));
    return chunks;
}

// Text without a line break, mixing half- and full-width characters.
QStringList wordChunks(int count, int size)
{
    const QString pattern = QStringLiteral("温度23.5℃ humidity=41% 串口ok;");
    QString all;
    while (all.size() < count * size)
        all += pattern;
    QStringList chunks;
    for (int i = 0; i < count; ++i)
        chunks << all.mid(i * size, size);
    return chunks;
}

QString hexText(int bytes)
{
    return renderHex(randomBytes(bytes, 7));
}

// Numbered text lines from `first` on, ending in CR LF, a lone CR and LF in turn.
QString textLines(int first, int count)
{
    QString text;
    for (int i = first; i < first + count; ++i) {
        text += QStringLiteral("第%1行 温度=23.5℃").arg(i);
        text += i % 3 == 0 ? QStringView(u"\r\n") : i % 3 == 1 ? QStringView(u"\r") : QStringView(u"\n");
    }
    return text;
}

} // namespace

class TestReceiveArea : public QObject
{
    Q_OBJECT

private slots:
    void appendsKeepExactText_data();
    void appendsKeepExactText();
    void wrapsAsOneParagraph();
    void copyIsSelectedText_data();
    void copyIsSelectedText();
    void editingAtCut_data();
    void editingAtCut();
    void arrowsStepOverCut_data();
    void arrowsStepOverCut();
    void pasteKeepsLineBreaks();
    void setTextAndClear();
    void viewFollowsEndUnlessScrolledAway();
    void dropsOldestPastItsLimit_data();
    void dropsOldestPastItsLimit();
    void viewFollowsEndOfSmallPieces();
    void receivedDataLeavesCaret_data();
    void receivedDataLeavesCaret();
};

void TestReceiveArea::appendsKeepExactText_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<bool>("cut");

    QTest::newRow("hex, 1024-byte events") << hexChunks(12, 1024) << true;
    QTest::newRow("hex, 1-byte events") << hexChunks(1500, 1) << true;
    QTest::newRow("hex, one 32767-byte event") << hexChunks(1, 32767) << true;
    QTest::newRow("text without line breaks") << wordChunks(40, 333) << true;
    QTest::newRow("text with LF lines") << QStringList { QStringLiteral("line 1\nline 2\n"), QStringLiteral("\n\nend") }
                                        << false;
    QTest::newRow("CR LF, lone CR, lone LF") << QStringList { QStringLiteral("a\r\nb\rc\nd\r\r\n\n\re\r") } << false;
    QTest::newRow("CR LF split across two events") << QStringList { QStringLiteral("first\r"),
        QStringLiteral("\nsecond\r"), QStringLiteral("\r"), QStringLiteral("\n") }
                                                   << false;
    QTest::newRow("separators the document treats as breaks")
        << QStringList { QString::fromUtf16(u"a\u2029b\u2028c\ufdd0d\ufdd1e\u00a0f\t\0g", 14) } << false;
    QStringList mixed = hexChunks(3, 1024);
    mixed.insert(1, QStringLiteral("\r\nOK\r\n"));
    mixed << wordChunks(10, 500) << QStringLiteral("\n") << hexChunks(2, 700);
    QTest::newRow("hex, text and line breaks mixed") << mixed << true;
}

void TestReceiveArea::appendsKeepExactText()
{
    QFETCH(QStringList, chunks);
    QFETCH(bool, cut);
    Area a;
    QString expected;
    for (const QString &chunk : chunks) {
        a.area.appendText(chunk);
        expected += chunk;
    }
    QCOMPARE(a.area.text(), expected);
    if (cut)
        QVERIFY(a.area.document()->blockCount() > 3);
}

void TestReceiveArea::wrapsAsOneParagraph()
{
    // Cuts may only fall where the line wraps anyway: the lines on screen are those of one paragraph.
    Area a;
    const QStringList chunks = hexChunks(6, 1024) + wordChunks(6, 700) + hexChunks(300, 3);
    for (const QString &chunk : chunks)
        a.area.appendText(chunk);
    QCoreApplication::processEvents();

    QStringList shown;
    QAbstractTextDocumentLayout *docLayout = a.area.document()->documentLayout();
    qreal width = 0;
    for (QTextBlock block = a.area.document()->firstBlock(); block.isValid(); block = block.next()) {
        docLayout->blockBoundingRect(block);
        const QTextLayout *layout = block.layout();
        QVERIFY(layout->lineCount() > 0);
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            shown << block.text().mid(line.textStart(), line.textLength());
            width = std::max(width, line.width());
        }
    }

    // Lines as wide as the viewport less the document's margins, where the cuts were made.
    QCOMPARE(width, a.area.viewport()->width() - 2 * a.area.document()->documentMargin());

    QTextLayout whole(a.area.text(), a.area.document()->defaultFont());
    whole.setTextOption(a.area.document()->defaultTextOption());
    QStringList expected;
    whole.beginLayout();
    for (QTextLine line = whole.createLine(); line.isValid(); line = whole.createLine()) {
        line.setLineWidth(width);
        expected << a.area.text().mid(line.textStart(), line.textLength());
    }
    whole.endLayout();
    QVERIFY(expected.size() > 100);
    QCOMPARE(shown, expected);
}

void TestReceiveArea::copyIsSelectedText_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");

    QTest::newRow("inside one line") << 3 << 20;
    QTest::newRow("across one cut") << 4000 << 5000;
    QTest::newRow("across many cuts") << 10 << 30000;
    QTest::newRow("across cuts and line breaks") << 35000 << 39000;
    QTest::newRow("longer than a cursor copies") << 7 << 80000;
    QTest::newRow("everything") << 0 << -1;
}

void TestReceiveArea::copyIsSelectedText()
{
    QFETCH(int, from);
    QFETCH(int, to);
    Area a;
    // Hex with no line break, then text lines ending in CR LF, a lone CR and LF, then hex again.
    QString full = hexText(12000) + textLines(0, 600);
    full += hexText(12000);
    for (int i = 0; i < full.size(); i += 3000)
        a.area.appendText(full.mid(i, 3000));
    QVERIFY(a.area.document()->blockCount() > 600);
    if (to < 0)
        to = int(full.size());

    QTextCursor selection(a.area.document());
    selection.setPosition(a.positionOf(from, full));
    selection.setPosition(a.positionOf(to, full), QTextCursor::KeepAnchor);
    a.area.setTextCursor(selection);
    a.area.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), full.mid(from, to - from));
}

void TestReceiveArea::editingAtCut_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>(
        "atLineEnd"); // the caret after the last character of a cut block, else before the first of the next
    QTest::addColumn<int>("removedFrom"); // relative to the cut's text offset
    QTest::addColumn<int>("removedCount");
    QTest::addColumn<QString>("inserted");

    QTest::newRow("type a character at the start of a wrapped line") << 0 << "X" << false << 0 << 0 << "X";
    QTest::newRow("type a character at the end of the line before") << 0 << "Y" << true << 0 << 0 << "Y";
    QTest::newRow("backspace at the start of a wrapped line") << int(Qt::Key_Backspace) << "" << false << -1 << 1 << "";
    QTest::newRow("delete at the end of the line before") << int(Qt::Key_Delete) << "" << true << 0 << 1 << "";
    QTest::newRow("backspace at the end of the line before") << int(Qt::Key_Backspace) << "" << true << -1 << 1 << "";
    QTest::newRow("delete at the start of a wrapped line") << int(Qt::Key_Delete) << "" << false << 0 << 1 << "";
    QTest::newRow("enter at the start of a wrapped line") << int(Qt::Key_Return) << "" << false << 0 << 0 << "\n";
}

void TestReceiveArea::editingAtCut()
{
    QFETCH(int, key);
    QFETCH(QString, typed);
    QFETCH(bool, atLineEnd);
    QFETCH(int, removedFrom);
    QFETCH(int, removedCount);
    QFETCH(QString, inserted);

    Area a;
    QString expected = hexText(3000);
    a.area.appendText(expected);
    const int cutOffset = a.caretAtFirstCut(atLineEnd);
    QVERIFY(cutOffset > 0);
    if (key != 0)
        QTest::keyClick(&a.area, Qt::Key(key));
    else
        QTest::keyClicks(&a.area, typed);

    expected.remove(cutOffset + removedFrom, removedCount);
    expected.insert(cutOffset + removedFrom, inserted);
    QCOMPARE(a.area.text(), expected);

    // Received data still lands at the end, after the edit.
    const QString more = hexText(50);
    a.area.appendText(more);
    QCOMPARE(a.area.text(), expected + more);
}

void TestReceiveArea::arrowsStepOverCut_data()
{
    QTest::addColumn<bool>("atLineEnd");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("selectedFrom"); // relative to the cut's text offset

    QTest::newRow("shift+right at the end of the line before") << true << int(Qt::Key_Right) << 0;
    QTest::newRow("shift+left at the start of a wrapped line") << false << int(Qt::Key_Left) << -1;
    QTest::newRow("shift+right at the start of a wrapped line") << false << int(Qt::Key_Right) << 0;
}

void TestReceiveArea::arrowsStepOverCut()
{
    // Every press of an arrow takes in one character the user can see, also at a cut.
    QFETCH(bool, atLineEnd);
    QFETCH(int, key);
    QFETCH(int, selectedFrom);
    Area a;
    const QString full = hexText(3000);
    a.area.appendText(full);
    const int cutOffset = a.caretAtFirstCut(atLineEnd);
    QVERIFY(cutOffset > 0);

    QTest::keyClick(&a.area, Qt::Key(key), Qt::ShiftModifier);
    a.area.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), full.mid(cutOffset + selectedFrom, 1));
}

void TestReceiveArea::pasteKeepsLineBreaks()
{
    Area a;
    a.area.appendText(QStringLiteral("ab"));
    QTextCursor caret(a.area.document());
    caret.setPosition(1);
    a.area.setTextCursor(caret);
    QGuiApplication::clipboard()->setText(QStringLiteral("1\r\n2\r3"));
    a.area.paste();
    a.area.appendText(QStringLiteral("\n"));
    QCOMPARE(a.area.text(), QStringLiteral("a1\r\n2\r3b\n"));
}

void TestReceiveArea::setTextAndClear()
{
    Area a;
    a.area.setText(QStringLiteral("x\r\ny\rz"));
    QCOMPARE(a.area.text(), QStringLiteral("x\r\ny\rz"));

    for (const QString &chunk : hexChunks(100, 1024))
        a.area.appendText(chunk);
    a.area.setText(QString());
    QCOMPARE(a.area.text(), QString());
    QCOMPARE(a.area.document()->blockCount(), 1);

    // A CR left before the clear must not join with an LF after it.
    a.area.appendText(QStringLiteral("\r"));
    a.area.setText(QString());
    a.area.appendText(QStringLiteral("\nq"));
    QCOMPARE(a.area.text(), QStringLiteral("\nq"));
}

void TestReceiveArea::viewFollowsEndUnlessScrolledAway()
{
    Area a;
    QScrollBar *bar = a.area.verticalScrollBar();
    for (const QString &chunk : hexChunks(20, 1024))
        a.area.appendText(chunk);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    const QString lastLine = hexText(1);
    a.area.appendText(lastLine);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(bar->maximum() / 2);
    const int away = bar->value();
    const int top = a.area.cursorForPosition(QPoint(4, 4)).position();
    for (const QString &chunk : hexChunks(5, 1024))
        a.area.appendText(chunk);
    QCOMPARE(bar->value(), away);
    QCOMPARE(a.area.cursorForPosition(QPoint(4, 4)).position(), top);

    bar->setValue(bar->maximum());
    a.area.appendText(hexText(1024));
    QCOMPARE(bar->value(), bar->maximum());
}

void TestReceiveArea::viewFollowsEndOfSmallPieces()
{
    // Data arriving a few characters at a time grows the last line until it wraps: every new line has to
    // grow the scroll range, or the view stops following the end.
    Area a;
    QScrollBar *bar = a.area.verticalScrollBar();
    for (const QString &chunk : wordChunks(120, 7)) {
        a.area.appendText(chunk);
        QCOMPARE(bar->value(), bar->maximum());
    }
    QVERIFY(bar->maximum() > 0);
    QTextCursor end(a.area.document());
    end.movePosition(QTextCursor::End);
    QVERIFY(a.area.viewport()->rect().contains(a.area.cursorRect(end).center()));
    QCOMPARE(a.area.document()->blockCount(), 1);
}

void TestReceiveArea::dropsOldestPastItsLimit_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::newRow("hex") << hexChunks(40, 1024);
    QTest::newRow("text without line breaks") << wordChunks(60, 2000);
    QStringList lines;
    for (int chunk = 0; chunk < 60; ++chunk)
        lines << textLines(chunk * 30, 30);
    QTest::newRow("text lines") << lines;
}

void TestReceiveArea::dropsOldestPastItsLimit()
{
    // Past its limit the area keeps the newest text, cut where a block starts, and nothing else changes.
    QFETCH(QStringList, chunks);
    constexpr int kLimit = 20000;
    Area a;
    a.area.setMaximumCharacters(kLimit);
    QScrollBar *bar = a.area.verticalScrollBar();
    QString all;
    for (const QString &chunk : chunks) {
        a.area.appendText(chunk);
        all += chunk;
        const int held = a.area.document()->characterCount() - 1;
        QVERIFY2(held <= kLimit, qPrintable(QString::number(held)));
        if (all.size() > 2 * kLimit)
            QVERIFY2(held > kLimit - 4096, qPrintable(QString::number(held)));
        QVERIFY(all.endsWith(a.area.text()));
        QCOMPARE(bar->value(), bar->maximum());
    }

    // A view scrolled away keeps showing the same text while older text goes.
    bar->setValue(bar->maximum() / 2);
    const auto topText = [&a] {
        const int top = a.area.cursorForPosition(QPoint(4, 4)).block().position();
        return a.area.textBetween(top, top + 40);
    };
    const QString shown = topText();
    a.area.appendText(chunks.last());
    QCOMPARE(topText(), shown);
    bar->setValue(bar->maximum());

    // The caret stays on its character while older text goes.
    QTextCursor caret(a.area.document());
    caret.setPosition(a.area.document()->characterCount() - 500);
    a.area.setTextCursor(caret);
    const QString after = a.area.textBetween(caret.position(), a.area.document()->characterCount() - 1);
    a.area.appendText(chunks.first());
    QCOMPARE(a.area.textBetween(a.area.textCursor().position(), a.area.document()->characterCount() - 1),
        after + chunks.first());
}

void TestReceiveArea::receivedDataLeavesCaret_data()
{
    QTest::addColumn<int>("where"); // 0 start, 1 middle, 2 end
    QTest::addColumn<bool>("selecting");

    QTest::newRow("caret at the start") << 0 << false;
    QTest::newRow("caret in the middle") << 1 << false;
    QTest::newRow("caret at the end") << 2 << false;
    QTest::newRow("selection up to the end") << 2 << true;
}

void TestReceiveArea::receivedDataLeavesCaret()
{
    QFETCH(int, where);
    QFETCH(bool, selecting);
    Area a;
    a.area.appendText(hexText(200));
    const QString before = a.area.text();
    const int offset = where == 0 ? 0 : where == 1 ? int(before.size()) / 2 : int(before.size());

    QTextCursor caret(a.area.document());
    if (selecting)
        caret.setPosition(a.positionOf(10));
    caret.setPosition(a.positionOf(offset), selecting ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    a.area.setTextCursor(caret);

    for (const QString &chunk : hexChunks(8, 1024))
        a.area.appendText(chunk);

    const QTextCursor after = a.area.textCursor();
    QCOMPARE(a.area.textBetween(0, after.position()), before.left(offset));
    if (selecting)
        QCOMPARE(a.area.textBetween(0, after.anchor()), before.left(10));
    else
        QVERIFY(!after.hasSelection());
}

QTEST_MAIN(TestReceiveArea)
#include "tst_receivearea.moc"
