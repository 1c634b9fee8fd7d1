// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QContextMenuEvent>
#include <QTest>
#include <QTimer>

// Opens `widget`'s context menu from the keyboard and presses `keys` in it, one after another.
template <typename... Keys> void chooseFromMenu(QWidget *widget, Keys... keys)
{
    QTimer::singleShot(0, widget, [=] {
        for (Qt::Key key : { keys... })
            if (QWidget *menu = QApplication::activePopupWidget())
                QTest::keyClick(menu, key);
    });
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5), widget->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(widget, &event);
}
