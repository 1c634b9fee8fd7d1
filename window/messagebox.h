// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMessageBox>

// Shows a modal message box with an OK button only and waits until the user dismisses it. Events go on
// being handled meanwhile (receive notifications, timers).
void MsgBox(QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon = QMessageBox::NoIcon,
    const QString &informative = {});

// True while a box shown by MsgBox waits for the user.
bool msgBoxOpen();
