// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/boxcatcher.h"

#include <QAbstractButton>
#include <QApplication>

BoxCatcher::BoxCatcher(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &BoxCatcher::poll);
    m_timer.start(5);
}

void BoxCatcher::closeAll()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            box->button(QMessageBox::Ok)->click();
}

void BoxCatcher::poll()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible())
            continue;
        if (!m_seen.contains(box)) {
            m_seen << box;
            m_boxes << Box { box->windowTitle(), box->text(), box->informativeText(), box->icon() };
            connect(box, &QObject::destroyed, this, [this, box] { m_seen.removeAll(box); });
        }
        if (m_autoClose)
            box->button(QMessageBox::Ok)->click();
    }
}
