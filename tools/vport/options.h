// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// What the virtual device does, from its command line.
struct VportOptions
{
    enum class Flood { None, Text, Random };

    bool periodicLine = true; // one GBK line a second; off in quiet mode and under a flood
    Flood flood = Flood::None;
    long long floodRate = 0; // bytes per second
    bool listHardware = false;
    bool help = false;
};

// Parses the arguments after the program name. Returns nothing and sets `error` for anything unknown.
std::optional<VportOptions> parseVportOptions(const QStringList &args, QString &error);

inline constexpr const char *kVportUsage
    = "Usage: zelcom-vport [--quiet] [--flood BYTES_PER_SECOND [--random]]\n"
      "       zelcom-vport --hardware\n"
      "\n"
      "Creates a pseudo-terminal, prints its path and plays a serial device on it:\n"
      "every byte received is echoed back, and once a second a line of GBK text\n"
      "with a running number is sent. Ends on Ctrl+C or SIGTERM.\n"
      "\n"
      "  --quiet          echo only, no periodic line\n"
      "  --flood RATE     send RATE bytes per second of GBK text lines instead of\n"
      "                   one line a second\n"
      "  --random         flood with random bytes instead of text\n"
      "  --hardware       list the serial hardware of this machine that is free to\n"
      "                   use (the system console excluded), one path a line\n";
