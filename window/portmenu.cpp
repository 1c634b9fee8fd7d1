// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/portmenu.h"

#include "window/texts.h"

#include <QAction>
#include <QActionGroup>
#include <QShortcut>

namespace {

QAction *item(QMenu *menu, const QString &text, const char *name, bool checked)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

} // namespace

PortMenu::PortMenu(QWidget *parent)
    : QMenu(parent)
    , FlowMenu(addMenu(Texts::kMenuFlowControl))
    , FlowNone(item(FlowMenu, Texts::kMenuFlowNone, "FlowNone", true))
    , FlowRtsCts(item(FlowMenu, Texts::kMenuFlowRtsCts, "FlowRtsCts", false))
    , FlowXonXoff(item(FlowMenu, Texts::kMenuFlowXonXoff, "FlowXonXoff", false))
    , LineDtr(item(this, Texts::kMenuDtr, "LineDtr", false))
    , LineRts(item(this, Texts::kMenuRts, "LineRts", false))
    , AutoReopen((addSeparator(), item(this, Texts::kMenuAutoReopen, "AutoReopen", true)))
{
    setObjectName(QStringLiteral("PortMenu"));
    FlowMenu->setObjectName(QStringLiteral("FlowMenu"));
    auto *flow = new QActionGroup(this);
    for (QAction *mode : { FlowNone, FlowRtsCts, FlowXonXoff })
        flow->addAction(mode);
    // A disabled item says why in its tooltip.
    setToolTipsVisible(true);
    for (QAction *line : { LineDtr, LineRts }) {
        line->setEnabled(false);
        line->setToolTip(Texts::kLinesNeedOpenPort);
        line->setStatusTip(Texts::kLinesNeedOpenPort);
    }
}

void PortMenu::attachTo(QWidget *widget)
{
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(widget, &QWidget::customContextMenuRequested, this,
        [this, widget](const QPoint &at) { popup(widget->mapToGlobal(at)); });
    // The menu key raises the request by itself; Shift+F10 is the other key desktops use for it.
    auto *key = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), widget, nullptr, nullptr, Qt::WidgetShortcut);
    connect(key, &QShortcut::activated, this, [this, widget] { popup(widget->mapToGlobal(widget->rect().center())); });
}
