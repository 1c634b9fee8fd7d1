// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/intervaltimer.h"

IntervalTimer::IntervalTimer(int interval, bool enabled, QObject *parent)
    : QObject(parent)
    , m_interval(interval)
    , m_enabled(enabled)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &IntervalTimer::Timer);
    update();
}

void IntervalTimer::setInterval(int milliseconds)
{
    m_interval = milliseconds;
    update();
}

void IntervalTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    update();
}

void IntervalTimer::update()
{
    if (m_enabled && m_interval > 0) {
        // Restarting with the same interval would push the next tick back.
        if (!m_timer.isActive() || m_timer.interval() != m_interval)
            m_timer.start(m_interval);
    } else {
        m_timer.stop();
    }
}
