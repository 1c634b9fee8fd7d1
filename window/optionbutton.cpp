// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/optionbutton.h"

OptionButton::OptionButton(const QString &caption, QWidget *parent)
    : QRadioButton(caption, parent)
{
    connect(this, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            emit Click();
    });
}
