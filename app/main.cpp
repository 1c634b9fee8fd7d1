// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/binding.h"
#include "window/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zelcom"));
    QApplication::setDesktopFileName(QStringLiteral("org.example.zelcom"));
    const auto form = createForm1();
    form->show();
    return QApplication::exec();
}
