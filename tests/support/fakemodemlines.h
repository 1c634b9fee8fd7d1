// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/modemlines.h"

#include <mutex>
#include <sys/ioctl.h>

// Control lines a pseudo-terminal does not have: a test raises the device's lines (CTS, DSR, ...) and sees
// which ones the program raised or dropped. Safe from the reader thread as the real lines are.
class FakeModemLines : public ModemLines
{
public:
    explicit FakeModemLines(int bits = TIOCM_DTR | TIOCM_RTS)
        : m_bits(bits)
    {
    }

    int get(int, int &bits) override
    {
        const std::lock_guard lock(m_mutex);
        bits = m_bits;
        return m_getError;
    }
    int set(int, int bits, bool on) override
    {
        const std::lock_guard lock(m_mutex);
        if (m_setError != 0)
            return m_setError;
        m_bits = on ? (m_bits | bits) : (m_bits & ~bits);
        return 0;
    }

    // What the device does: its lines, or an error for every look (a device without lines) or every change.
    void setBits(int bits)
    {
        const std::lock_guard lock(m_mutex);
        m_bits = bits;
    }
    int bits()
    {
        const std::lock_guard lock(m_mutex);
        return m_bits;
    }
    void setErrors(int getError, int setError)
    {
        const std::lock_guard lock(m_mutex);
        m_getError = getError;
        m_setError = setError;
    }

private:
    std::mutex m_mutex;
    int m_bits;
    int m_getError = 0;
    int m_setError = 0;
};
