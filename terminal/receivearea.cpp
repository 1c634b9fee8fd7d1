#include "terminal/receivearea.h"

#include "terminal/hexformat.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QVarLengthArray>

#include <climits>
#include <cmath>
#include <malloc.h>

namespace {

// What stands between a block and the one before it, kept as the block's user state. A block the
// widget creates itself (the user pressing Enter) starts with -1, so -1 has to mean a line feed.
enum Separator : int {
    kLineFeed = -1,
    kJoined = 1, // nothing: the block continues the line before it where it wraps anyway
    kReturn = 2,
    kReturnLineFeed = 3,
    kParagraph = 4,
    kFrameStart = 5,
    kFrameEnd = 6,
};

// Characters the text document turns into a block break instead of keeping them as text.
constexpr char16_t kParagraphChar = 0x2029;
constexpr char16_t kFrameStartChar = 0xfdd0;
constexpr char16_t kFrameEndChar = 0xfdd1;

// A block is cut once it holds this many characters; the pieces hold about kPieceChars each. The last
// line stays with the block that keeps growing, because its wrap point can still move.
constexpr int kCutChars = 1024;
constexpr int kPieceChars = 2048;

// Blocks at the end whose layout is kept: more than a screenful.
constexpr int kKeepLaidOut = 32;

// A range longer than this is read out of the whole raw text rather than through a cursor.
constexpr int kRawCopyChars = 1 << 16;

// Below this many characters a clear does not bother handing freed memory back to the system.
constexpr int kTrimChars = 1 << 20;

// The caret stands just after a cut (at the start of a block that continues the line before it), or
// just before one.
bool afterCut(const QTextCursor &cursor)
{
    return cursor.atBlockStart() && cursor.block().userState() == kJoined && cursor.block().previous().isValid();
}

bool beforeCut(const QTextCursor &cursor)
{
    return cursor.atBlockEnd() && cursor.block().next().isValid() && cursor.block().next().userState() == kJoined;
}

QStringView separatorText(int state)
{
    switch (state) {
    case kJoined:
        return {};
    case kReturn:
        return u"\r";
    case kReturnLineFeed:
        return u"\r\n";
    case kParagraph:
        return u"\u2029";
    case kFrameStart:
        return u"\ufdd0";
    case kFrameEnd:
        return u"\ufdd1";
    default:
        return u"\n";
    }
}

// The plain text layout, laying out blocks itself. The stock one also tracks the document's widest
// line, and whenever the block holding it gets narrower it looks at every block of the document for the
// next widest. The growing last line does that often: before it wraps for good it can be wider than any
// finished line, and then it breaks at a word boundary and gets narrower; with a hundred thousand
// blocks each look costs milliseconds. The area always wraps at its width and has no horizontal scroll
// bar, so the widest line is of no use here: blocks laid out by this class leave it alone.
class ReceiveLayout : public QPlainTextDocumentLayout
{
public:
    ReceiveLayout(QTextDocument *document, QWidget *viewport)
        : QPlainTextDocumentLayout(document)
        , m_viewport(viewport)
        , m_blockCount(document->blockCount())
    {
    }

    QRectF blockBoundingRect(const QTextBlock &block) const override
    {
        if (block.isValid() && block.layout()->lineCount() == 0)
            const_cast<ReceiveLayout *>(this)->layOut(block);
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override
    {
        // A change inside one block: lay it out again here (the stock layout would do it its own way),
        // then ask for the same repaint it asks for.
        QTextDocument *doc = document();
        const QTextBlock block = doc->findBlock(from);
        const bool oneBlock = block == doc->findBlock(std::max(0, from + charsRemoved + charsAdded - 1));
        if (oneBlock && doc->blockCount() == m_blockCount && block.isValid() && block.length() > 0) {
            const qreal oldHeight = blockBoundingRect(block).height();
            layOut(block);
            if (blockBoundingRect(block).height() == oldHeight)
                emit updateBlock(block);
            else
                emit update(QRectF(0., -doc->documentMargin(), 1000000000., 1000000000.));
            return;
        }
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        m_blockCount = doc->blockCount();
    }

private:
    // Lines as wide as the viewport less the margins, as the stock layout makes them.
    void layOut(const QTextBlock &block)
    {
        QTextDocument *doc = document();
        const qreal margin = doc->documentMargin();
        const QTextOption option = doc->defaultTextOption();
        QTextLayout *layout = block.layout();
        layout->setTextOption(option);
        qreal width = m_viewport->width() > 0 ? qreal(m_viewport->width()) : qreal(INT_MAX);
        width -= 2 * margin;
        if (option.flags() & QTextOption::AddSpaceForLineAndParagraphSeparators)
            width -= QFontMetrics(block.charFormat().font()).horizontalAdvance(QChar(0x21B5));
        qreal height = 0;
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLeadingIncluded(true);
            line.setLineWidth(width);
            line.setPosition(QPointF(margin, height));
            height += line.height();
            if (line.leading() < 0)
                height += std::ceil(line.leading());
        }
        layout->endLayout();

        const int linesBefore = block.lineCount();
        const int lines = block.isVisible() ? layout->lineCount() : 0;
        const_cast<QTextBlock &>(block).setLineCount(lines);
        // The view sizes its scroll range from the line count. Answering the notice it lays out more
        // blocks through here; those need no notice of their own.
        if (lines != linesBefore && !m_notifying) {
            m_notifying = true;
            emit documentSizeChanged(documentSize());
            m_notifying = false;
        }
    }

    QWidget *m_viewport;
    int m_blockCount;
    bool m_notifying = false;
};

} // namespace

ReceiveArea::ReceiveArea(QWidget *parent)
    : QPlainTextEdit(parent)
{
    auto *doc = new QTextDocument(this);
    doc->setDocumentLayout(new ReceiveLayout(doc, viewport()));
    setDocument(doc);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
}

QString ReceiveArea::text() const
{
    return textBetween(0, document()->characterCount() - 1);
}

void ReceiveArea::appendHex(QByteArrayView bytes)
{
    appendText(renderHex(bytes.toByteArray()));
}

qint64 ReceiveArea::characterCount() const
{
    return document()->isEmpty() ? 0 : text().size();
}

QString ReceiveArea::textBetween(int from, int to) const
{
    if (from >= to)
        return {};
    // The document keeps every block break as a paragraph separator. Copy the range out with the breaks,
    // then put back what each break stood for: that touches each block once, in order. Asking each block
    // for its position or text, or a cursor for its selected text, walks the document's tree for every
    // block or piece, which adds up to seconds over millions of lines; so a long range is cut out of the
    // whole raw text, which the document copies out piece after piece.
    QString raw;
    if (to - from > kRawCopyChars) {
        raw = document()->toRawText();
        raw.truncate(to);
        raw.remove(0, from);
    } else {
        QTextCursor range(document());
        range.setPosition(from);
        range.setPosition(to, QTextCursor::KeepAnchor);
        raw = range.selectedText();
    }
    QString out;
    out.reserve(raw.size());
    QTextBlock block = document()->findBlock(from);
    qsizetype done = 0;
    for (qsizetype at = raw.indexOf(kParagraphChar); at >= 0; at = raw.indexOf(kParagraphChar, done)) {
        out += QStringView(raw).sliced(done, at - done);
        block = block.next();
        out += separatorText(block.userState());
        done = at + 1;
    }
    out += QStringView(raw).sliced(done);
    return out;
}

void ReceiveArea::setText(const QString &text)
{
    const bool large = document()->characterCount() > kTrimChars;
    setPlainText(QString());
    m_laidOutFrom = 0;
    // The document hands back its big buffer at once, but the many small pieces of a large area's layout
    // stay with the allocator unless asked.
    if (large)
        malloc_trim(0);
    if (!text.isEmpty()) {
        QTextCursor cursor(document());
        cursor.beginEditBlock();
        insertExact(cursor, text);
        splitLongBlocks(document()->firstBlock());
        cursor.endEditBlock();
    }
}

void ReceiveArea::appendText(const QString &more)
{
    if (more.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool followEnd = bar->value() == bar->maximum();
    const int scroll = bar->value();
    // Plain numbers: a copy of the caret would be carried along with it.
    const int anchor = textCursor().anchor();
    const int position = textCursor().position();
    const int end = document()->characterCount() - 1;
    // Appending at the end drags a caret (or selection edge) standing there along; it has to stay put.
    const bool caretDragged = anchor == end || position == end;

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    const QTextBlock firstChanged = cursor.block();
    cursor.beginEditBlock();
    insertExact(cursor, more);
    QTextCursor restored;
    if (caretDragged) {
        // Nothing before `end` moved yet, so the old numbers are still right; the cuts below then shift
        // this cursor along with the text like any other.
        restored = QTextCursor(document());
        restored.setPosition(anchor);
        restored.setPosition(position, QTextCursor::KeepAnchor);
    }
    splitLongBlocks(firstChanged);
    cursor.endEditBlock();
    // An edit of its own: one edit at both ends would count as a change to every block in between.
    const int droppedLines = dropOldest();

    if (caretDragged)
        setTextCursor(restored);
    bar->setValue(followEnd ? bar->maximum() : std::max(scroll - droppedLines, 0));
    forgetLayoutsAbove();
}

void ReceiveArea::setMaximumCharacters(int characters)
{
    m_maxCharacters = std::max(characters, 1);
}

int ReceiveArea::dropOldest()
{
    QTextDocument *doc = document();
    const int excess = doc->characterCount() - 1 - m_maxCharacters;
    if (excess <= 0)
        return 0;
    // Whole blocks where there are any, so the top line shown is never a stub; the cursors, the caret
    // among them, move with the text that stays.
    const QTextBlock at = doc->findBlock(excess);
    int upTo = excess;
    if (at.position() != excess && at.next().isValid())
        upTo = at.next().position();
    int lines = 0;
    int removedBlocks = 0;
    QTextBlock block = doc->firstBlock();
    for (int start = 0; block.isValid() && start + block.length() <= upTo; start += block.length()) {
        lines += block.lineCount();
        ++removedBlocks;
        block = block.next();
    }
    QTextCursor cut(doc);
    cut.setPosition(upTo, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    m_laidOutFrom = std::max(m_laidOutFrom - removedBlocks, 0);
    return lines;
}

void ReceiveArea::forgetLayoutsAbove()
{
    // The layouts of lines that have scrolled away only take memory: they are laid out again when shown.
    const int upTo = document()->blockCount() - kKeepLaidOut;
    if (m_laidOutFrom >= upTo)
        return;
    QTextBlock block = document()->findBlockByNumber(std::max(m_laidOutFrom, 0));
    for (int number = m_laidOutFrom; number < upTo && block.isValid(); ++number, block = block.next())
        block.clearLayout();
    m_laidOutFrom = upTo;
}

void ReceiveArea::insertExact(QTextCursor &cursor, QStringView text)
{
    if (text.startsWith(u'\n') && cursor.atBlockStart() && cursor.block().userState() == kReturn
        && cursor.block().previous().isValid()) {
        // A CR at the end of one read and the LF at the start of the next make one line break.
        cursor.block().setUserState(kReturnLineFeed);
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return;

    // The document breaks a block at the same characters, CR LF counting as one; it only forgets which
    // it was. Note them, insert everything at once (far cheaper than line by line), then mark the blocks.
    QVarLengthArray<int, 64> separators;
    for (qsizetype i = 0; i < text.size(); ++i) {
        switch (text[i].unicode()) {
        case u'\n':
            separators.append(kLineFeed);
            break;
        case u'\r':
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                separators.append(kReturnLineFeed);
                ++i;
            } else {
                separators.append(kReturn);
            }
            break;
        case kParagraphChar:
            separators.append(kParagraph);
            break;
        case kFrameStartChar:
            separators.append(kFrameStart);
            break;
        case kFrameEndChar:
            separators.append(kFrameEnd);
            break;
        default:
            break;
        }
    }
    const QTextBlock first = cursor.block();
    cursor.insertText(text.toString());
    QTextBlock block = first.next();
    for (int separator : separators) {
        block.setUserState(separator);
        block = block.next();
    }
}

void ReceiveArea::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    // The document's own layout has just taken the viewport's width as its text width; each line gets
    // that less the margins.
    qreal width = viewport()->width() - 2 * document()->documentMargin();
    if (document()->defaultTextOption().flags() & QTextOption::AddSpaceForLineAndParagraphSeparators)
        width -= QFontMetrics(document()->defaultFont()).horizontalAdvance(QChar(0x21B5));
    m_wrapWidth = std::max<qreal>(width, 0);
}

bool ReceiveArea::isHexTokens(QStringView text)
{
    if (text.size() % 3 != 0)
        return false;
    const auto hexDigit = [](char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); };
    for (qsizetype i = 0; i < text.size(); i += 3) {
        if (!hexDigit(text[i].unicode()) || !hexDigit(text[i + 1].unicode()) || text[i + 2] != u' ')
            return false;
    }
    return true;
}

int ReceiveArea::hexTokensPerLine()
{
    const QFont font = document()->defaultFont();
    if (m_hexWidth == m_wrapWidth && m_hexFont == font)
        return m_hexPerLine;
    m_hexWidth = m_wrapWidth;
    m_hexFont = font;
    m_hexPerLine = 0;

    // Hex tokens all have the same width when the digits do, so each line holds the same number of them,
    // and the wrap points of a hex dump can be counted instead of laid out. Let the real layout say how
    // many fit, and trust the count only if every full line agrees.
    const QFontMetricsF metrics(font);
    const qreal digit = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char c : QByteArrayView("123456789ABCDEF")) {
        if (metrics.horizontalAdvance(QLatin1Char(c)) != digit)
            return 0;
    }
    const int perLineAtMost = int(m_wrapWidth / (2 * digit)) + 1;
    QString sample;
    for (int i = 0; i < 4 * perLineAtMost; ++i)
        sample += QString::asprintf("%02X ", (i * 37) & 0xff);
    QList<int> starts = layoutLineStarts(sample);
    if (starts.size() < 3 || starts[1] % 3 != 0)
        return 0;
    for (qsizetype i = 1; i + 1 < starts.size(); ++i) {
        if (starts[i + 1] - starts[i] != starts[1])
            return 0;
    }
    m_hexPerLine = starts[1] / 3;
    return m_hexPerLine;
}

QList<int> ReceiveArea::layoutLineStarts(const QString &text) const
{
    QTextLayout layout(text, document()->defaultFont());
    layout.setTextOption(document()->defaultTextOption());
    layout.setCacheEnabled(false);
    QList<int> starts;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(m_wrapWidth);
        starts.append(line.textStart());
    }
    layout.endLayout();
    return starts;
}

void ReceiveArea::splitLongBlocks(QTextBlock block)
{
    // Not laid out yet (never shown): nothing is known about the wrap points; the first append after
    // showing cuts what has collected.
    if (m_wrapWidth <= 0)
        return;
    const int hexPerLine = hexTokensPerLine();
    const int hexLine = 3 * hexPerLine;
    QTextCursor cursor(document());
    QList<int> starts;
    QList<int> cuts;
    for (; block.isValid(); block = block.next()) {
        const int length = block.length() - 1;
        const bool growing = !block.next().isValid();
        const bool countable = hexLine > 0 && length > hexLine;
        if (length <= kCutChars && !countable)
            continue;
        const QString held = block.text();
        starts.clear();
        if (countable && isHexTokens(held)) {
            for (int at = 0; at < length; at += hexLine)
                starts.append(at);
        } else if (length > kCutChars) {
            starts = layoutLineStarts(held);
        }

        cuts.clear();
        int last = 0;
        for (qsizetype i = 1; i < starts.size(); ++i) {
            const bool lastLine = i + 1 == starts.size();
            if (starts[i] - last >= kPieceChars || (growing && lastLine)) {
                cuts.append(starts[i]);
                last = starts[i];
            }
        }
        // Cut from the back so the earlier positions stay valid; each cut block continues its line.
        const int base = block.position();
        for (qsizetype i = cuts.size() - 1; i >= 0; --i) {
            cursor.setPosition(base + cuts[i]);
            cursor.insertBlock();
            cursor.block().setUserState(kJoined);
        }
        // Skip the pieces just made: they hold whole lines and need no more cutting.
        for (qsizetype i = 0; i < cuts.size(); ++i)
            block = block.next();
    }
}

QMimeData *ReceiveArea::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    auto *mime = new QMimeData;
    mime->setText(textBetween(cursor.selectionStart(), cursor.selectionEnd()));
    return mime;
}

bool ReceiveArea::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasText();
}

void ReceiveArea::insertFromMimeData(const QMimeData *source)
{
    if (!source->hasText() || isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    const QTextBlock firstChanged = cursor.block();
    insertExact(cursor, source->text());
    splitLongBlocks(firstChanged);
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void ReceiveArea::keyPressEvent(QKeyEvent *event)
{
    // At a cut between two blocks the document has a position the reader cannot see: deleting there
    // would remove only the cut. Remove the cut and then the character the user meant.
    QTextCursor cursor = textCursor();
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    const bool back = event->key() == Qt::Key_Backspace;
    if (plain && !isReadOnly() && !cursor.hasSelection()
        && ((back && afterCut(cursor)) || (event->key() == Qt::Key_Delete && beforeCut(cursor)))) {
        const auto erase = [&cursor, back] { back ? cursor.deletePreviousChar() : cursor.deleteChar(); };
        cursor.beginEditBlock();
        while (back ? afterCut(cursor) : beforeCut(cursor))
            erase();
        if (!(back ? cursor.atStart() : cursor.atEnd()))
            erase();
        cursor.endEditBlock();
        setTextCursor(cursor);
        event->accept();
        return;
    }
    // The same at the arrows: step over the cut together with the character beyond it, so every press
    // moves the caret (or grows the selection) by one character the user can see.
    const bool shift = event->modifiers() == Qt::ShiftModifier;
    if ((plain || shift) && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
        const auto mode = shift ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
        const bool right = event->key() == Qt::Key_Right;
        const bool atCut = right ? beforeCut(cursor) : afterCut(cursor);
        if (atCut && (shift || !cursor.hasSelection())) {
            cursor.movePosition(right ? QTextCursor::NextCharacter : QTextCursor::PreviousCharacter, mode, 2);
            setTextCursor(cursor);
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}
