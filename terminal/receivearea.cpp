#include "terminal/receivearea.h"

#include <QScrollBar>
#include <QTextCursor>

ReceiveArea::ReceiveArea(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
}

QString ReceiveArea::text() const
{
    return toPlainText();
}

void ReceiveArea::setText(const QString &text)
{
    setPlainText(text);
}

void ReceiveArea::appendText(const QString &more)
{
    if (more.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool followEnd = bar->value() == bar->maximum();
    const int scroll = bar->value();
    const QTextCursor caret = textCursor();
    const int anchor = caret.anchor();
    const int position = caret.position();

    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(more);

    // A caret at the end would be carried along by the insertion; put it back where the user left it.
    const QTextCursor moved = textCursor();
    if (moved.anchor() != anchor || moved.position() != position) {
        QTextCursor restored(document());
        restored.setPosition(anchor);
        restored.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(restored);
    }
    bar->setValue(followEnd ? bar->maximum() : scroll);
}
