// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <functional>

// An editable drop-down whose text is whatever the user typed, and whose Click is raised only when an
// entry of the list is chosen: by the user (even the entry already chosen) or by setListIndex from code,
// at once, before setListIndex returns. Typing, Enter and leaving the box raise nothing and add nothing.
// The wheel turns the box only while it has the keyboard focus.
class ComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ComboBox(const QString &text, QWidget *parent = nullptr);

    // Appends an entry; the box keeps showing its text even when the list was empty.
    void AddItem(const QString &item);

    int ListIndex() const { return currentIndex(); }
    void setListIndex(int index);

    QString text() const { return currentText(); }
    void setText(const QString &text) { setEditText(text); }

    // Computes the tooltip at the moment it is shown.
    void setToolTipProvider(std::function<QString()> provider) { m_toolTip = std::move(provider); }

signals:
    void Click();

protected:
    bool event(QEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;

private:
    std::function<QString()> m_toolTip;
};
