// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

// The modem control lines of an open serial device, as the kernel's TIOCM bits (TIOCM_DTR, TIOCM_CTS, ...).
// Behind an interface so the lines a pseudo-terminal does not have can be played in tests. Called from the
// window's thread (to raise or drop a line) and from the port's reader thread (to watch them), so an
// implementation must be safe to call from both at once.
class ModemLines
{
public:
    virtual ~ModemLines() = default;
    // The state of every line in `bits`; 0, or the system's error number (EINVAL or ENOTTY: no control lines).
    virtual int get(int fd, int &bits) = 0;
    // Raises (`on`) or drops the lines in `bits`; 0, or the system's error number.
    virtual int set(int fd, int bits, bool on) = 0;

    // The ioctls on the device.
    static std::shared_ptr<ModemLines> system();
};
