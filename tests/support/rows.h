// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTest>
#include <tuple>

// The columns of a data-driven test, their types in order: addColumns<bool, QString>("hex", "text").
template <typename... Types, typename... Names> void addColumns(const Names &...names)
{
    static_assert(sizeof...(Types) == sizeof...(Names));
    (QTest::addColumn<Types>(names), ...);
}

// The current row's values of the columns named, as QFETCH takes them: auto [hex, text] = fetchRow<bool,
// QString>("hex", "text").
template <typename... Types, typename... Names> std::tuple<Types...> fetchRow(const Names &...names)
{
    static_assert(sizeof...(Types) == sizeof...(Names));
    return { *static_cast<Types *>(QTest::qData(names, qMetaTypeId<Types>()))... };
}

// One data row, its values in the order of the columns: QTest::newRow(name) << a << b ..., on one line.
template <typename... Values> void addRow(const char *name, const Values &...values)
{
    (QTest::newRow(name) << ... << values);
}
