// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMessageBox>

// Shows a modal message box with an OK button only and waits until the user dismisses it. Events go on
// being handled meanwhile (receive notifications, timers).
void MsgBox(QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon = QMessageBox::NoIcon,
    const QString &informative = {});

// Widens a box until each line of its text and of its informative text fits on one line, up to a bound:
// a narrow box breaks Chinese words and shell commands across lines wherever the width runs out. A
// line longer than the bound still wraps, so long sentences carry their own line breaks.
void fitToText(QMessageBox &box);

// True while a box shown by MsgBox waits for the user.
bool msgBoxOpen();
