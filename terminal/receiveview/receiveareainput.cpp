// SPDX-License-Identifier: GPL-3.0-or-later
// The receive area's input: keys, the input method, the mouse, the wheel and the context menu, each turned
// into moves of the cursor, scrolls of the layout and edits.
#include "terminal/receiveview/receivearea.h"

#include "terminal/receiveview/findbox.h"
#include "terminal/receiveview/receiveaccessible.h"
#include "terminal/receiveview/savedialog.h"
#include "window/texts.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>

void ReceiveArea::pasteSelection(QPointF at)
{
    QClipboard *clipboard = QApplication::clipboard();
    const QString text = clipboard->supportsSelection() ? clipboard->text(QClipboard::Selection) : QString();
    if (text.isEmpty())
        return;
    moveCaret(positionAt(at), false);
    insertAtCaret(text);
}

// --- Keys and the input method -------------------------------------------------------------------------

bool ReceiveArea::moveByKey(QKeyEvent *event)
{
    using Key = QKeySequence::StandardKey;
    const qint64 caret = m_cursor.position();
    const struct
    {
        Key move;
        Key select;
        qint64 to;
    } moves[] = {
        { QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, m_cursor.nextWord(caret) },
        { QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, m_cursor.previousWord(caret) },
        { QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, 0 },
        { QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, m_store.size() },
    };
    for (const auto &move : moves) {
        if (event->matches(move.move) || event->matches(move.select)) {
            moveCaret(move.to, event->matches(move.select));
            return true;
        }
    }
    return false;
}

void ReceiveArea::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::SelectAll))
        return setSelection(0, m_store.size());
    if (event->matches(QKeySequence::Copy))
        return void(copy());
    if (event->matches(QKeySequence::Cut))
        return cut();
    if (event->matches(QKeySequence::Paste))
        return paste();
    if (event->matches(QKeySequence::Find))
        return openFind();
    if (m_findBox && (event->matches(QKeySequence::FindNext) || event->matches(QKeySequence::FindPrevious)))
        return m_findBox->find(event->matches(QKeySequence::FindNext));
    if (moveByKey(event))
        return;

    const bool select = event->modifiers() & Qt::ShiftModifier;
    const bool selection = m_cursor.hasSelection();
    const qint64 caret = m_cursor.position();
    switch (event->key()) {
    case Qt::Key_Left:
        return moveCaret(selection && !select ? selectionStart() : m_cursor.previousCharacter(caret), select);
    case Qt::Key_Right:
        return moveCaret(selection && !select ? selectionEnd() : m_cursor.nextCharacter(caret), select);
    case Qt::Key_Up:
        return moveCaret(m_layout.verticalMove(caret, -1), select);
    case Qt::Key_Down:
        return moveCaret(m_layout.verticalMove(caret, 1), select);
    case Qt::Key_Home:
        return moveCaret(m_layout.rowEdge(caret, false), select);
    case Qt::Key_End:
        return moveCaret(m_layout.rowEdge(caret, true), select);
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int page = event->key() == Qt::Key_PageUp ? -m_layout.pageRows() : m_layout.pageRows();
        m_layout.scrollRows(page);
        return moveCaret(m_layout.verticalMove(caret, page), select);
    }
    case Qt::Key_Backspace:
        return replace(selection ? selectionStart() : m_cursor.previousCharacter(caret), selectionEnd(), {});
    case Qt::Key_Delete:
        return replace(selectionStart(), selection ? selectionEnd() : m_cursor.nextCharacter(caret), {});
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return insertAtCaret(u"\n");
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Tab moves the focus (the widget does that before this); it is never typed.
        return event->ignore();
    default:
        break;
    }
    const QString text = event->text();
    const bool typed = !text.isEmpty() && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        && text.front() >= u' ' && text.front() != u'\x7f';
    if (typed)
        insertAtCaret(text);
    else
        event->ignore();
}

void ReceiveArea::inputMethodEvent(QInputMethodEvent *event)
{
    m_preedit.clear();
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        qint64 from = selectionStart();
        qint64 to = selectionEnd();
        if (from == to && event->replacementLength() > 0) {
            from = std::max<qint64>(m_cursor.position() + event->replacementStart(), 0);
            to = from + event->replacementLength();
        }
        replace(from, to, event->commitString());
    }
    m_preedit = event->preeditString();
    m_preeditCursor = int(m_preedit.size());
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor)
            m_preeditCursor = attribute.start;
    }
    m_layout.setPreedit(m_preedit, m_cursor.position());
    updateMicroFocus();
    viewport()->update();
    event->accept();
}

QVariant ReceiveArea::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const ReceiveLayout::Segment s = m_layout.segmentAt(m_cursor.position());
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle: {
        QRect caret = characterRect(m_cursor.position());
        if (caret.isNull())
            caret = QRect(int(ReceiveLayout::kMargin), int(ReceiveLayout::kMargin), 1, fontMetrics().height());
        return QRect(caret.topLeft() + viewport()->pos(), QSize(1, caret.height()));
    }
    case Qt::ImSurroundingText:
        return m_store.text(s.start, s.end);
    case Qt::ImCursorPosition:
        return int(m_cursor.position() - s.start);
    case Qt::ImAnchorPosition:
        return int(std::clamp<qint64>(m_cursor.anchor() - s.start, 0, s.end - s.start));
    case Qt::ImCurrentSelection:
        return textBetween(
            selectionStart(), std::min(selectionEnd(), selectionStart() + ReceiveAccessible::kQueryChars));
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// --- Mouse, wheel, menu -----------------------------------------------------------------

void ReceiveArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton)
        return pasteSelection(event->position());
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    if (m_tripleClickTimer.isActive()
        && (event->position() - m_doubleClickAt).manhattanLength() < QApplication::startDragDistance()) {
        m_tripleClickTimer.stop();
        const auto [from, to] = m_cursor.lineAt(positionAt(event->position()));
        return setSelection(from, to);
    }
    moveCaret(positionAt(event->position()), event->modifiers() & Qt::ShiftModifier);
}

void ReceiveArea::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    // Dragging past the top or bottom edge scrolls a row at a time.
    if (event->position().y() < 0)
        m_layout.scrollRows(-1);
    else if (event->position().y() > viewport()->height())
        m_layout.scrollRows(1);
    moveCaret(positionAt(event->position()), true);
}

void ReceiveArea::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const auto [from, to] = m_cursor.wordAt(positionAt(event->position()));
    setSelection(from, to);
    m_doubleClickAt = event->position();
    m_tripleClickTimer.start(QApplication::doubleClickInterval(), this);
}

void ReceiveArea::wheelEvent(QWheelEvent *event)
{
    m_wheelDelta += event->angleDelta().y();
    const int notches = m_wheelDelta / QWheelEvent::DefaultDeltasPerStep;
    m_wheelDelta -= notches * QWheelEvent::DefaultDeltasPerStep;
    if (notches != 0) {
        m_layout.scrollRows(-notches * QApplication::wheelScrollLines());
        viewport()->update();
    }
    event->accept();
}

void ReceiveArea::contextMenuEvent(QContextMenuEvent *event)
{
    const bool selection = m_cursor.hasSelection();
    QMenu menu(this);
    // The keys that do the same, shown as a text box's own menu shows them.
    menu.addAction(Texts::kMenuCut, QKeySequence::Cut, this, &ReceiveArea::cut)->setEnabled(selection);
    menu.addAction(Texts::kMenuCopy, QKeySequence::Copy, this, [this] { copy(); })->setEnabled(selection);
    menu.addAction(Texts::kMenuPaste, QKeySequence::Paste, this, &ReceiveArea::paste)
        ->setEnabled(!QApplication::clipboard()->text().isEmpty());
    menu.addSeparator();
    menu.addAction(Texts::kMenuSelectAll, QKeySequence::SelectAll, this, [this] { setSelection(0, m_store.size()); })
        ->setEnabled(m_store.size() > 0);
    menu.addSeparator();
    menu.addAction(Texts::kMenuSaveAll, this,
            [this] { saveCapture(this, m_store, 0, m_store.size(), m_showingHex, &m_lineTimes); })
        ->setEnabled(m_store.size() > 0);
    menu.addAction(Texts::kMenuSaveSelection, this,
            [this] { saveCapture(this, m_store, selectionStart(), selectionEnd(), m_showingHex, &m_lineTimes); })
        ->setEnabled(selection);
    menu.addSeparator();
    menu.addAction(Texts::kMenuFind, QKeySequence::Find, this, &ReceiveArea::openFind);
    if (recording())
        menu.addAction(Texts::kMenuRecordStop, this, &ReceiveArea::stopRecording);
    else
        menu.addAction(Texts::kMenuRecordStart, this, &ReceiveArea::askToRecord);
    menu.addSeparator();
    addTimeActions(menu);
    menu.exec(event->globalPos());
}
