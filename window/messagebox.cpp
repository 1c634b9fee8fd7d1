// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/messagebox.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace {
int openBoxes = 0;

// The widest a box's text may grow before it wraps: wide enough for any line the program writes, narrow
// enough to stay on a small screen.
constexpr int kWidestLine = 640;
} // namespace

void fitToText(QMessageBox &box)
{
    int bound = kWidestLine;
    if (const QScreen *screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen())
        bound = std::min(bound, screen->availableGeometry().width() * 3 / 4);
    for (const char *name : { "qt_msgbox_label", "qt_msgbox_informativelabel" }) {
        auto *label = box.findChild<QLabel *>(QLatin1String(name));
        if (!label || label->text().isEmpty())
            continue;
        const QFontMetrics metrics(label->font(), label);
        int widest = 0;
        for (const QString &line : label->text().split(u'\n'))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        // A little room for the label's own margins and for rounding in the layout.
        label->setMinimumWidth(std::min(widest + metrics.averageCharWidth(), bound));
    }
}

void MsgBox(
    QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon, const QString &informative)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("MsgBox"));
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    fitToText(box);
    ++openBoxes;
    box.exec();
    --openBoxes;
}

bool msgBoxOpen()
{
    return openBoxes > 0;
}
