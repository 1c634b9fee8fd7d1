// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/portmap.h"
#include "terminal/receiveview/receivearea.h"
#include "tests/support/ptypair.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/shape.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <memory>

// portShown() while the port is open and while it is closed.
inline const QString kShownOpen = QStringLiteral("关闭串口 #ff0000 串口已打开");
inline const QString kShownClosed = QStringLiteral("打开串口 #c0ffff 串口已关闭");

// A started window whose COM1 is a fresh pty and which never sees the machine's own serial ports; its port
// opened by its own button when asked.
struct FormFixture
{
    explicit FormFixture(bool openPort = false)
    {
        PortMap::setSystemScanner([] { return QStringList(); });
        qputenv("ZELCOM_PORTS", pty.slavePath().toLocal8Bit());
        form = createForm1();
        if (openPort)
            click("Command5");
    }

    template <typename T = QWidget> T *get(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }

    void click(QAbstractButton *button) const { QTest::mouseClick(button, Qt::LeftButton); }
    void click(const char *name) const { click(get<QAbstractButton>(name)); }
    void setText(const char *name, const QString &text) const { get<QLineEdit>(name)->setText(text); }
    QString caption(const char *name) const { return get<QAbstractButton>(name)->text(); }
    // Types `text` into the send area and clicks the send button.
    void send(const QString &text) const
    {
        setText("Text2", text);
        click("Command6");
    }

    QString received() const { return get<ReceiveArea>("Text1")->text(); }
    QString receivedCount() const { return get<QLabel>("Label10")->text(); }
    QString sentCount() const { return get<QLabel>("Label11")->text(); }

    // What the window shows of the port: the open/close button's caption, the lamp's colour and what a screen
    // reader says of the lamp.
    QString portShown() const
    {
        auto *lamp = get<Shape>("Shape1");
        return caption("Command5") + u' ' + lamp->FillColor().name() + u' '
            + QAccessible::queryAccessibleInterface(lamp)->text(QAccessible::Name);
    }

    PtyPair pty;
    std::unique_ptr<Form1> form;
};
