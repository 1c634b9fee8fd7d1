// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/commerror.h"
#include "port/linesettings.h"

#include <QString>
#include <array>
#include <optional>

// The settings timer's period: a box change reaches the port within this time.
inline constexpr int kSettingsTickMs = 100;

// What the settings timer keeps between ticks; the boxes only show it.
struct SettingsState
{
    // Settings the device refused, not offered again on every tick: only once a box changes, the port number
    // changes, or the port is opened again.
    struct Refusal
    {
        LineSettings settings;
        int port = 0;
        bool open = false; // lowered when the port is seen closed, so the next open tries again
        CommError error;
    };
    std::optional<Refusal> refusal;

    // The problem each box shows ("" for none), by LineField.
    std::array<QString, 4> marks;
};
