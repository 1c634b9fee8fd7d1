// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>

class QAction;

// The port's context menu, on the open/close button and the lamp: flow control, the control lines DTR and
// RTS, and whether an adapter pulled out is opened again when it is back. Every item starts as the program
// starts (no flow control, the lines as the driver leaves them, reopening on); the handlers keep them true.
class PortMenu : public QMenu
{
    Q_OBJECT

public:
    explicit PortMenu(QWidget *parent);

    // Shows the menu for a right click on `widget`, and for the menu key or Shift+F10 while it has the focus.
    void attachTo(QWidget *widget);

    QMenu *FlowMenu;
    QAction *FlowNone;
    QAction *FlowRtsCts;
    QAction *FlowXonXoff;
    QAction *LineDtr;
    QAction *LineRts;
    QAction *AutoReopen;
};
