// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/boxcatcher.h"

BoxCatcher::BoxCatcher(QObject *parent)
    : QObject(parent)
{
}
