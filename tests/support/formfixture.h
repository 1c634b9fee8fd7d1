#pragma once

#include "port/portmap.h"
#include "tests/support/ptypair.h"
#include "window/binding.h"
#include "window/form1.h"

#include <QAbstractButton>
#include <QTest>
#include <memory>

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

    PtyPair pty;
    std::unique_ptr<Form1> form;
};
