#pragma once

#include <chrono>

// The receiver's own clock. At speed 1 it is the system's; at speed N it starts at the system's
// time and runs N times as fast, so that everything timed by it (its epochs, a restart's time to
// fix, the interference, the RTK rover, a power cycle) comes N times sooner on the wall.
class CSimClock {
public:
    using Clock = std::chrono::system_clock;
    using Steady = std::chrono::steady_clock;

    explicit CSimClock(int nSpeed = 1) : m_nSpeed(nSpeed) {}

    int Speed() const { return m_nSpeed; }
    Clock::time_point Now() const {
        if (m_nSpeed == 1)
            return Clock::now();
        return m_start + std::chrono::duration_cast<Clock::duration>(
                             (Steady::now() - m_steadyStart) * m_nSpeed);
    }
    // The wall time that seconds of the receiver's time take.
    Steady::duration Wall(double seconds) const {
        return std::chrono::duration_cast<Steady::duration>(
            std::chrono::duration<double>(seconds / m_nSpeed));
    }

private:
    int m_nSpeed;
    Clock::time_point m_start = Clock::now();
    Steady::time_point m_steadyStart = Steady::now();
};
