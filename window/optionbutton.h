// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRadioButton>

// An option button that raises Click when it becomes selected, by the user or from code, before the
// call that selected it returns.
class OptionButton : public QRadioButton
{
    Q_OBJECT

public:
    explicit OptionButton(const QString &caption, QWidget *parent = nullptr);

    bool Value() const { return isChecked(); }
    void setValue(bool selected) { setChecked(selected); }

signals:
    void Click();
};
