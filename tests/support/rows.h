// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTest>

// One data row, its values in the order of the columns: QTest::newRow(name) << a << b ..., on one line.
template <typename... Values> void addRow(const char *name, const Values &...values)
{
    (QTest::newRow(name) << ... << values);
}
