// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/receivearea.h"

#include "terminal/capture/textunits.h"
#include "terminal/receiveview/findbox.h"
#include "terminal/receiveview/receiveaccessible.h"
#include "terminal/receiveview/recordwriter.h"
#include "terminal/receiveview/savedialog.h"
#include "terminal/receiveview/timegutter.h"
#include "window/texts.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QTextLayout>

namespace {

// Received data is shown this often at most (a screen refresh).
constexpr int kPaintMs = 16;

// A selection longer than what may be copied does not become the primary selection either: taking it
// would copy it all on every move of a drag.
constexpr qint64 kPrimaryChars = kCopyLimitChars;

QAccessibleInterface *receiveAccessible(const QString &, QObject *object)
{
    if (auto *area = qobject_cast<ReceiveArea *>(object))
        return new ReceiveAccessible(area);
    return nullptr;
}

// Why the capture is held in memory only, in the user's words; empty while it has its scratch file.
QString inMemoryNotice(const ReceiveStore &store)
{
    using R = ScratchFile::Refusal;
    const ScratchFile::Why &why = store.inMemoryBecause();
    const QString folder = why.folder;
    QString reason;
    switch (why.refusal) {
    case R::None:
        return {};
    case R::NoKey:
        reason = Texts::kCaptureNoKey;
        break;
    case R::FolderFailed:
        reason = Texts::kCaptureFolderFailed.arg(folder, Texts::systemReason(why.error));
        break;
    case R::FolderIsLink:
        reason = Texts::kCaptureFolderIsLink.arg(folder);
        break;
    case R::FolderNotOwned:
        reason = Texts::kCaptureFolderNotOwned.arg(folder);
        break;
    case R::FolderOpenToOthers:
        reason = Texts::kCaptureFolderOpenToOthers.arg(folder);
        break;
    case R::InMemory:
        reason = Texts::kCaptureInMemoryFileSystem.arg(folder);
        break;
    case R::FileFailed:
        reason = Texts::kCaptureFileFailed.arg(folder, Texts::systemReason(why.error));
        break;
    case R::TooLittleRoom:
        reason = Texts::kCaptureTooLittleRoom.arg(folder);
        break;
    }
    // Text costs two bytes a character.
    return Texts::kCaptureInMemory.arg(
        reason, Texts::chineseCount(store.maximum()), QString::number(store.maximum() * 2 / 1000000));
}

} // namespace

ReceiveArea::ReceiveArea(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    m_lineTimes.setFile(m_store.scratchFile());
    syncGeometry();
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(receiveAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    // Said once, where the user looks and where a screen reader reads.
    m_captureNotice = inMemoryNotice(m_store);
    showNotices();
}

// The find box is a window of its own (a child of the top-level window) that reads this area's store.
ReceiveArea::~ReceiveArea()
{
    delete m_findBox;
}

QString ReceiveArea::text() const
{
    return m_store.text(0, m_store.size());
}

qint64 ReceiveArea::characterCount() const
{
    return m_store.size();
}

QString ReceiveArea::textBetween(qint64 from, qint64 to) const
{
    return m_store.text(from, to);
}

void ReceiveArea::setMaximumCharacters(qint64 characters)
{
    m_store.setMaximum(characters);
}

void ReceiveArea::setText(const QString &text)
{
    // A search over what is cleared would hold the old capture, and find in it, until it ended.
    if (m_findBox)
        m_findBox->cancel();
    m_notifier.beforeClear();
    // The times let go of the scratch file first: the store closes it off this thread.
    m_lineTimes.clear();
    m_store.clear();
    m_lineTimes.setFile(m_store.scratchFile());
    m_layout.follow();
    m_layout.forget();
    m_preedit.clear();
    m_layout.setPreedit({}, 0);
    m_store.appendText(text);
    m_lineTimes.edited(0, 0, m_store.size());
    m_cursor.moveTo(0, false);
    m_notifier.flush();
    viewport()->update();
}

qint64 ReceiveArea::keep(QStringView text)
{
    m_showingHex = false;
    const qint64 at = m_store.origin() + m_store.size();
    m_lineTimes.text(text, at, m_clock());
    if (m_record && m_recordFormat != RecordFormat::Raw)
        recordShown(text, at);
    return m_store.appendText(text);
}

qint64 ReceiveArea::keep(QByteArrayView bytes)
{
    m_showingHex = true;
    const qint64 at = m_store.origin() + m_store.size();
    m_lineTimes.hex(bytes, at, m_clock());
    if (m_record && m_recordFormat != RecordFormat::Raw)
        recordShown(QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper() + ' '), at);
    return m_store.appendHex(bytes);
}

void ReceiveArea::appendText(QStringView text)
{
    if (!text.isEmpty())
        afterAppend(keep(text));
}

void ReceiveArea::appendHex(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        afterAppend(keep(bytes));
}

template <typename Pieces> void ReceiveArea::keepAll(const Pieces &pieces)
{
    qint64 dropped = 0;
    bool any = false;
    for (const auto &piece : pieces) {
        if (piece.isEmpty())
            continue;
        any = true;
        dropped += keep(piece);
    }
    if (any)
        afterAppend(dropped);
}

void ReceiveArea::appendText(const QStringList &pieces)
{
    keepAll(pieces);
}

void ReceiveArea::appendHex(const QByteArrayList &pieces)
{
    keepAll(pieces);
}

void ReceiveArea::afterAppend(qint64 dropped)
{
    if (dropped > 0) {
        m_layout.afterDrop(dropped);
        m_lineTimes.dropBefore(m_store.origin());
    }
    // The LF of a CR LF may arrive after the caret was put after its CR: the caret steps past it.
    m_cursor.afterChange(dropped);
    m_layout.setPreedit(m_preedit, m_cursor.position());
    m_notifier.appended();
    // A clear makes the next scratch file on a worker, and the append after it learns whether it could;
    // the times' blocks follow the text's into it.
    if (m_lineTimes.file() != m_store.scratchFile())
        m_lineTimes.setFile(m_store.scratchFile());
    if ((m_store.inMemoryBecause().refusal != ScratchFile::Refusal::None) == m_captureNotice.isEmpty()) {
        m_captureNotice = inMemoryNotice(m_store);
        showNotices();
    }
    // A flood brings an append every turn of the event loop, and a paint after each would cost more than
    // the appends themselves: received data is painted at most once per kPaintMs.
    if (!m_paintTimer.isActive())
        m_paintTimer.start(kPaintMs, this);
}

// --- Painting and geometry -----------------------------------------------------------------------------

void ReceiveArea::syncGeometry()
{
    m_layout.setGeometry(font(), viewport()->width(), viewport()->height());
}

void ReceiveArea::paintEvent(QPaintEvent *)
{
    if (m_gutter)
        m_gutter->update();
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const QList<ReceiveLayout::ScreenRow> rows = m_layout.screenRows();
    const qint64 caret = m_cursor.position();
    const qint64 caretSegment = hasFocus() && m_caretShown ? m_layout.segmentAt(caret).start : -1;
    const QRectF clip = viewport()->rect();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        // Each segment once, from its first row on screen; the clip leaves out the rows off screen.
        if (i > 0 && rows[i].segment.start == rows[i - 1].segment.start)
            continue;
        const ReceiveLayout::ScreenRow &row = rows[i];
        const QPointF origin(ReceiveLayout::kMargin, row.top - row.layout->lineAt(row.row).y());
        QList<QTextLayout::FormatRange> selections;
        const qint64 from = std::max(selectionStart(), row.segment.start);
        const qint64 to = std::min(selectionEnd(), row.segment.end);
        if (from < to) {
            QTextLayout::FormatRange selected;
            selected.start = int(from - row.segment.start);
            selected.length = int(to - from);
            selected.format.setBackground(palette().brush(QPalette::Highlight));
            selected.format.setForeground(palette().brush(QPalette::HighlightedText));
            selections.append(selected);
        }
        row.layout->draw(&painter, origin, selections, clip);
        if (row.segment.start == caretSegment) {
            const int at = int(caret - row.segment.start) + (m_preedit.isEmpty() ? 0 : m_preeditCursor);
            row.layout->drawCursor(&painter, origin, at, 1);
        }
    }
}

QRect ReceiveArea::characterRect(qint64 position) const
{
    return m_layout.characterRect(position).toAlignedRect();
}

qint64 ReceiveArea::positionAt(QPointF point) const
{
    return m_layout.positionAt(point);
}

void ReceiveArea::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    placeGutter();
    syncGeometry();
}

void ReceiveArea::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_layout.forget();
        placeGutter();
    }
    viewport()->update();
}

// --- The caret, the selection and edits ----------------------------------------------------------------

void ReceiveArea::moveCaret(qint64 position, bool select)
{
    const bool hadSelection = m_cursor.hasSelection();
    m_cursor.moveTo(position, select);
    caretMoved(hadSelection || m_cursor.hasSelection());
}

void ReceiveArea::setSelection(qint64 anchor, qint64 caret)
{
    m_cursor.select(anchor, caret);
    caretMoved(true);
}

void ReceiveArea::caretMoved(bool selectionChanged)
{
    m_layout.setPreedit(m_preedit, m_cursor.position());
    restartBlink();
    m_layout.ensureVisible(m_cursor.position());
    m_notifier.caretMoved(m_cursor.position());
    if (selectionChanged) {
        m_notifier.selectionChanged(selectionStart(), selectionEnd());
        // Any selection becomes the primary selection, once the event that made it is done.
        if (m_cursor.hasSelection() && !m_primaryTimer.isActive())
            m_primaryTimer.start(0, this);
    }
    // An input method places its candidate window at the caret: it has to be told the caret moved.
    updateMicroFocus();
    viewport()->update();
}

void ReceiveArea::replace(qint64 from, qint64 to, QStringView text)
{
    from = std::clamp<qint64>(from, 0, m_store.size());
    to = std::clamp<qint64>(to, 0, m_store.size());
    if (from > to)
        std::swap(from, to);
    // Typing at the middle of a CR LF goes after the pair.
    if (from == to)
        from = to = TextUnits::outOfUnit(m_store, from);
    m_notifier.beforeEdit(from, to);
    const qint64 origin = m_store.origin();
    m_store.remove(from, to);
    const qint64 dropped = m_store.insert(from, text);
    m_lineTimes.edited(from + origin, to + origin, text.size());
    if (dropped > 0)
        m_lineTimes.dropBefore(m_store.origin());
    m_layout.afterEdit(from, to, text.size(), dropped);
    m_notifier.afterEdit(from, to, text);
    moveCaret(std::max<qint64>(from + text.size() - dropped, 0), false);
}

void ReceiveArea::insertAtCaret(QStringView text)
{
    replace(selectionStart(), selectionEnd(), text);
}

bool ReceiveArea::copy()
{
    if (!m_cursor.hasSelection() || !mayCopy(this, selectionEnd() - selectionStart()))
        return false;
    QApplication::clipboard()->setText(textBetween(selectionStart(), selectionEnd()));
    return true;
}

void ReceiveArea::cut()
{
    if (copy())
        replace(selectionStart(), selectionEnd(), {});
}

void ReceiveArea::paste()
{
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty())
        insertAtCaret(text);
}

// --- Focus and timers ---------------------------------------------------------------------------------

void ReceiveArea::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
    viewport()->update();
}

void ReceiveArea::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_caretShown = false;
    viewport()->update();
}

void ReceiveArea::restartBlink()
{
    m_caretShown = true;
    const int flash = QApplication::cursorFlashTime();
    if (flash > 0 && hasFocus())
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
}

void ReceiveArea::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_blink.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update();
    } else if (event->timerId() == m_paintTimer.timerId()) {
        m_paintTimer.stop();
        viewport()->update();
    } else if (event->timerId() == m_primaryTimer.timerId()) {
        m_primaryTimer.stop();
        QClipboard *clipboard = QApplication::clipboard();
        const qint64 length = selectionEnd() - selectionStart();
        if (!clipboard->supportsSelection() || length <= 0)
            return;
        // Too large to hand over: the previous selection must not stay behind for a middle click to paste.
        if (length > kPrimaryChars)
            clipboard->clear(QClipboard::Selection);
        else
            clipboard->setText(textBetween(selectionStart(), selectionEnd()), QClipboard::Selection);
    } else if (event->timerId() == m_tripleClickTimer.timerId()) {
        m_tripleClickTimer.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}
