// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/sendline.h"

#include "window/texts.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

SendLine::SendLine(QWidget *parent)
    : QLineEdit(parent)
{
    setMaxLength(kCapacity);
    // Every change lays out the whole text as one line; at 1 Mi characters shaping is most of that cost
    // (about half to two thirds). Scripts that need shaping to be legible are still shaped; the window's
    // Latin and Chinese text only loses kerning and ligatures, which a send area does not need.
    QFont unshaped;
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    setFont(unshaped);

    setToolTip(Texts::kSendLineTip);

    // The menu's own entries live as long as the box, so a choice holds until the program ends.
    m_lineEnds = new QActionGroup(this);
    m_lineEnds->setExclusive(true);
    const struct
    {
        const char *name;
        const QString &text, &tip;
        const char *characters;
    } lineEnds[] = {
        { "LineEndNone", Texts::kMenuLineEndNone, Texts::kLineEndNoneTip, "" },
        { "LineEndCr", Texts::kMenuLineEndCr, Texts::kLineEndCrTip, "\r" },
        { "LineEndLf", Texts::kMenuLineEndLf, Texts::kLineEndLfTip, "\n" },
        { "LineEndCrLf", Texts::kMenuLineEndCrLf, Texts::kLineEndCrLfTip, "\r\n" },
    };
    for (const auto &end : lineEnds) {
        QAction *action = m_lineEnds->addAction(end.text);
        action->setObjectName(QLatin1String(end.name));
        action->setCheckable(true);
        action->setToolTip(end.tip);
        action->setData(QString::fromLatin1(end.characters));
    }
    m_lineEnds->actions().constFirst()->setChecked(true);
    m_sendFile = new QAction(Texts::kMenuSendFile, this);
    m_sendFile->setObjectName(QStringLiteral("SendFile"));
    m_sendFile->setToolTip(Texts::kSendFileTip);
    connect(m_sendFile, &QAction::triggered, this, &SendLine::SendFile);
}

QString SendLine::lineEnd() const
{
    const QAction *checked = m_lineEnds->checkedAction();
    return checked ? checked->data().toString() : QString();
}

// The stock box keeps the head of a paste that is too long and drops the rest without a word; a send
// area that silently sends part of what the user pasted is worse than one that says no.
bool SendLine::fits(const QString &incoming)
{
    if (text().size() - selectedText().size() + incoming.size() <= maxLength())
        return true;
    m_refusedLength = incoming.size();
    emit PasteRefused();
    return false;
}

void SendLine::checkedPaste()
{
    if (!isReadOnly() && fits(QGuiApplication::clipboard()->text()))
        paste();
}

void SendLine::keyPressEvent(QKeyEvent *e)
{
    // Shift+F10 opens the context menu, as the Menu key does, for keyboards that have no Menu key.
    if (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent menuEvent(
            QContextMenuEvent::Keyboard, cursorRect().center(), mapToGlobal(cursorRect().center()));
        contextMenuEvent(&menuEvent);
        e->accept();
        return;
    }
    if ((e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) && e->modifiers() == Qt::NoModifier) {
        const auto shown = e->key() == Qt::Key_Up ? m_history.older(text()) : m_history.newer();
        if (shown)
            setText(*shown);
        e->accept();
        return;
    }
    if (e->matches(QKeySequence::Paste)) {
        checkedPaste();
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void SendLine::mouseReleaseEvent(QMouseEvent *e)
{
    // X11's middle-click paste inserts the primary selection in place of any selected text.
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (e->button() == Qt::MiddleButton && clipboard->supportsSelection() && !isReadOnly()) {
        deselect();
        const QString selection = clipboard->text(QClipboard::Selection);
        if (fits(selection))
            insert(selection);
        e->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

void SendLine::contextMenuEvent(QContextMenuEvent *e)
{
    QMenu *menu = createStandardContextMenu();
    // The stock menu connects its paste entry by name and gives it no object name: undoing that connection
    // is how the entry is found.
    for (QAction *action : menu->actions())
        if (disconnect(action, SIGNAL(triggered()), this, SLOT(paste())))
            connect(action, &QAction::triggered, this, &SendLine::checkedPaste);
    menu->addSeparator();
    menu->addActions(m_lineEnds->actions());
    menu->addSeparator();
    menu->addAction(m_sendFile);
    menu->setToolTipsVisible(true);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

void SendLine::dropEvent(QDropEvent *e)
{
    // A drag within the box only moves text; anything from outside adds its whole length.
    if (e->source() != this && e->mimeData()->hasText() && !fits(e->mimeData()->text())) {
        e->ignore();
        return;
    }
    QLineEdit::dropEvent(e);
}

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// A CR as a left arrow (back to the start of the line), an LF as a down arrow (on to the next), centred on the
// blank the box leaves where the character sits.
void drawLineBreakMark(QPainter &painter, QChar c, qreal left, qreal width, qreal middle, qreal size)
{
    const qreal x = left + width / 2;
    const qreal half = size / 2;
    const qreal head = size / 3;
    QPainterPath path;
    if (c == u'\r') {
        path.moveTo(x + half, middle);
        path.lineTo(x - half, middle);
        path.moveTo(x - half + head, middle - head);
        path.lineTo(x - half, middle);
        path.lineTo(x - half + head, middle + head);
    } else {
        path.moveTo(x, middle - half);
        path.lineTo(x, middle + half);
        path.moveTo(x - head, middle + half - head);
        path.lineTo(x, middle + half);
        path.lineTo(x + head, middle + half - head);
    }
    painter.drawPath(path);
}

} // namespace

void SendLine::paintEvent(QPaintEvent *e)
{
    QLineEdit::paintEvent(e);
    const QString t = text();
    if (!t.contains(u'\r') && !t.contains(u'\n'))
        return;

    // The box tells where its caret is drawn and nothing else; the marks are measured from there, one
    // character's advance at a time, as far as the box shows text. The font does no shaping (see above), so
    // advances add up as the box lays them out; a CR or LF is laid out as a blank.
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    const QRect contents
        = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).marginsRemoved(textMargins());
    // The caret's rectangle starts five pixels left of the caret itself.
    const qreal caretX = cursorRect().left() + 5;
    const QFontMetricsF metrics(font());
    const qreal blank = metrics.horizontalAdvance(u' ');
    const auto advance = [&](qsizetype i, qsizetype length) {
        return isLineBreak(t.at(i)) ? blank : metrics.horizontalAdvance(t.mid(i, length));
    };
    const auto lengthAt = [&](qsizetype i) { return t.at(i).isHighSurrogate() && i + 1 < t.size() ? 2 : 1; };

    QPainter painter(this);
    painter.setClipRect(contents);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1.2));
    const qreal size = metrics.ascent() * 0.6;
    const qreal middle
        = contents.top() + (contents.height() - metrics.height()) / 2 + metrics.ascent() - metrics.xHeight() / 2;
    const auto mark = [&](qsizetype i, qreal x) {
        if (isLineBreak(t.at(i)))
            drawLineBreakMark(painter, t.at(i), x, blank, middle, size);
    };

    qreal x = caretX;
    // A run of characters with no width (combining marks, joiners) would otherwise be walked to its end.
    const qsizetype reach = 4 * std::max(contents.width(), 1);
    const qsizetype caret = cursorPosition();
    for (qsizetype i = caret; i < t.size() && i < caret + reach && x < contents.right(); i += lengthAt(i)) {
        mark(i, x);
        x += advance(i, lengthAt(i));
    }
    x = caretX;
    for (qsizetype i = caret - 1; i >= 0 && i > caret - reach && x > contents.left(); --i) {
        qsizetype length = 1;
        if (t.at(i).isLowSurrogate() && i > 0 && t.at(i - 1).isHighSurrogate()) {
            --i;
            length = 2;
        }
        x -= advance(i, length);
        mark(i, x);
    }
}
