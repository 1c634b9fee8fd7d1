// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

// A timer that ticks once per interval while it is enabled and its interval is above 0. A QTimer with
// interval 0 would fire on every pass of the event loop instead of staying silent.
class IntervalTimer : public QObject
{
    Q_OBJECT

public:
    explicit IntervalTimer(int interval, bool enabled, QObject *parent = nullptr);

    int Interval() const { return m_interval; }
    void setInterval(int milliseconds);

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

signals:
    void Timer();

private:
    void update();

    QTimer m_timer;
    int m_interval;
    bool m_enabled;
};
