// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTest>
#include <functional>

// The one place a test waits a fixed time: to see that something does not happen (no byte arrives, no box
// opens, a counter stands still). Anything a test expects to happen is waited for with QTRY_* or
// QSignalSpy::wait, which return as soon as it has. Events are handled meanwhile; true when `happened`
// stayed false for all of `ms`.
inline bool expectNothingFor(int ms, const std::function<bool()> &happened)
{
    return !QTest::qWaitFor(happened, ms);
}
