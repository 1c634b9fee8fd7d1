// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/combobox.h"

#include <QHelpEvent>
#include <QLineEdit>
#include <QMetaMethod>
#include <QToolTip>
#include <QWheelEvent>

ComboBox::ComboBox(const QString &text, QWidget *parent)
    : QComboBox(parent)
{
    setEditable(true);
    setEditText(text);
    setInsertPolicy(QComboBox::NoInsert);
    // Inline completion would turn a typed "9" into "9600".
    setCompleter(nullptr);
    // QComboBox selects the entry matching the typed text when editing finishes (Enter, focus out) and
    // reports it as activated; a typed text must stay a typed text and raise no Click.
    QObject::disconnect(lineEdit(), QMetaMethod::fromSignal(&QLineEdit::editingFinished), this, QMetaMethod());
    QObject::disconnect(lineEdit(), QMetaMethod::fromSignal(&QLineEdit::returnPressed), this, QMetaMethod());
    connect(this, &QComboBox::activated, this, &ComboBox::Click);
    // Each notch chooses an entry and applies it to a live port (another port number closes it), so the mouse
    // only passing over a box must neither turn it nor give it the focus that would let it turn.
    setFocusPolicy(Qt::StrongFocus);
}

void ComboBox::AddItem(const QString &item)
{
    const int index = currentIndex();
    const QString shown = currentText();
    addItem(item);
    // The first entry of an empty list becomes the current one by itself; the box keeps what it showed.
    if (index == -1 && currentIndex() != -1) {
        setCurrentIndex(-1);
        setEditText(shown);
    }
}

void ComboBox::setListIndex(int index)
{
    setCurrentIndex(index);
    if (index >= 0)
        setEditText(itemText(index));
    emit Click();
}

bool ComboBox::event(QEvent *e)
{
    if (e->type() == QEvent::ToolTip && m_toolTip) {
        QToolTip::showText(static_cast<QHelpEvent *>(e)->globalPos(), m_toolTip(), this);
        return true;
    }
    return QComboBox::event(e);
}

void ComboBox::wheelEvent(QWheelEvent *e)
{
    // Ignored, the notch goes on to the parent.
    if (!hasFocus()) {
        e->ignore();
        return;
    }
    QComboBox::wheelEvent(e);
}
