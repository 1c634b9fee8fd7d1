// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/sendline.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>

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
