// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/messagebox.h"

namespace {
int openBoxes = 0;
}

void MsgBox(
    QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon, const QString &informative)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("MsgBox"));
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    ++openBoxes;
    box.exec();
    --openBoxes;
}

bool msgBoxOpen()
{
    return openBoxes > 0;
}
