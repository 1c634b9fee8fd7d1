// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/vport/options.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <csignal>
#include <random>

// A serial device on the master side of a pseudo-terminal. The program under test opens the slave
// path as its port, as often as it likes: while nobody holds the slave, the device waits quietly and
// whatever it would have sent is lost, as on a real line with nobody listening.
class VirtualDevice
{
public:
    explicit VirtualDevice(const VportOptions &options);
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice &) = delete;
    VirtualDevice &operator=(const VirtualDevice &) = delete;

    // Creates the pseudo-terminal. Returns false with a reason when the system has none to give.
    bool create(QString &error);
    QString path() const { return m_path; }

    // Serves the line until `stop` becomes true. The stop signals must be blocked by the caller;
    // `waitMask` is the signal mask while waiting, so a signal can only arrive there.
    void run(const sigset_t &waitMask, const volatile std::sig_atomic_t &stop);

private:
    using Clock = std::chrono::steady_clock;

    bool peerPresent() const;
    void onAttached(Clock::time_point now);
    void onDetached();
    void produce(Clock::time_point now);
    void readInput();
    void writeOutput();
    QByteArray nextLine();

    VportOptions m_options;
    int m_master = -1;
    QString m_path;
    bool m_attached = false;

    QByteArray m_out; // bytes waiting to go to the program
    qsizetype m_outStart = 0;
    long long m_lineNumber = 0;
    Clock::time_point m_nextLine;
    Clock::time_point m_floodClock;
    double m_floodBudget = 0.0;
    QByteArray m_floodText; // the rest of a text line begun by the flood
    std::mt19937 m_random { 20250101u };
};
