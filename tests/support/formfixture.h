#pragma once

#include "port/portmap.h"
#include "tests/support/ptypair.h"
#include "window/binding.h"
#include "window/form1.h"
#include "window/shape.h"

#include <QAbstractButton>
#include <QTest>
#include <memory>

// portShown() while the port is open and while it is closed.
inline const QString kShownOpen = QStringLiteral("关闭串口 #ff0000");
inline const QString kShownClosed = QStringLiteral("打开串口 #c0ffff");

// A started window whose COM1 is a fresh pty and which never sees the machine's own serial ports.
struct FormFixture
{
    FormFixture()
    {
        PortMap::setSystemScanner([] { return QStringList(); });
        qputenv("ZELCOM_PORTS", pty.slavePath().toLocal8Bit());
        form = createForm1();
    }

    template <typename T = QWidget> T *get(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }

    void click(QAbstractButton *button) const { QTest::mouseClick(button, Qt::LeftButton); }
    void click(const char *name) const { click(get<QAbstractButton>(name)); }

    // What the window shows of the port: the open/close button's caption and the lamp's colour.
    QString portShown() const
    {
        return get<QAbstractButton>("Command5")->text() + u' ' + get<Shape>("Shape1")->FillColor().name();
    }

    PtyPair pty;
    std::unique_ptr<Form1> form;
};
