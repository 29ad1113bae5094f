#pragma once

#include <chrono>
#include <string>

// A small simulated sky and a receiver moving slowly along a track. Epoch() gives one cycle of
// RMC, GGA, GSA and GSV sentences; Restart() makes it lose the fix and reacquire it.
class CSimSky {
public:
    using Clock = std::chrono::system_clock;

    explicit CSimSky(bool bFast) : m_bFast(bFast) {}

    // Advances the receiver by dtSeconds along its track and returns the sentences for 'now'.
    std::string Epoch(Clock::time_point now, double dtSeconds);

    // nResetCfg: 4 cold, 2 warm, 1 hot. Returns false for a configuration it does not know.
    bool Restart(int nResetCfg, Clock::time_point now);
    // Still without its fix after a restart.
    bool Acquiring() const { return m_dAcquireSeconds > 0.0; }

    static constexpr int kSatellites = 11;

private:
    struct Sat {
        int nPrn;
        double dElevation;
        double dAzimuth;
        int nSnr; // 0: no signal (empty field)
        bool bUsed;
    };
    void Sky(double t, Sat (&sats)[kSatellites]) const;

    bool m_bFast;
    double m_dLat = 48.1173;  // degrees north
    double m_dLon = 11.5167;  // degrees east
    double m_dTrackTime = 0.0;
    Clock::time_point m_restartAt{};
    double m_dAcquireSeconds = 0.0; // 0: has its fix
};
