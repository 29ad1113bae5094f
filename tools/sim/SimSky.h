#pragma once

#include "SimRtk.h"
#include "SimUbx.h"

#include <chrono>
#include <random>
#include <string>

// What the receiver sends each epoch: its sentences, the u-blox binary messages, or both (the
// sentences first).
enum class SimProtocol { Nmea, Ubx, Both };

// Interference the receiver meets, in seconds after its first epoch: broadband jamming that
// lowers every signal's C/N0, and a spoofer that takes over its signals; and a loss of its own
// all the time (a poorer antenna or module), which leaves the sky and the jamming indicator alone.
struct SimInterference {
    double dCn0OffsetDb = 0.0; // every signal this much weaker, from the start
    double dJamStart = -1.0;   // negative: no jamming
    double dJamDb = 0.0;
    double dJamSeconds = 0.0;
    double dSpoofStart = -1.0;   // negative: no spoofing
    double dSpoofSeconds = -1.0; // negative: to the end
};

// A small simulated sky and a receiver moving slowly along a track. Epoch() gives one cycle of
// RMC, GGA, GSA and GSV sentences; Restart() makes it lose the fix and reacquire it. The modern
// receiver talks as GN with one GSA per system (NMEA 4.10 system id) and GP, GL, GA and GB GSV;
// the other one as a GPS-only SiRF receiver. SetProtocol makes it send the same fix and sky as
// u-blox UBX messages instead of, or after, its sentences; SetInterference makes it meet a
// jammer or a spoofer.
class CSimSky {
public:
    using Clock = std::chrono::system_clock;

    explicit CSimSky(bool bFast, bool bModern = true) : m_bFast(bFast), m_bModern(bModern) {}

    // Advances the receiver by dtSeconds along its track and returns the sentences for 'now'.
    std::string Epoch(Clock::time_point now, double dtSeconds);

    // nResetCfg: 4 cold, 2 warm, 1 hot. Returns false for a configuration it does not know.
    bool Restart(int nResetCfg, Clock::time_point now);
    // 2: the modern receiver reports each satellite on two signals (NMEA 4.11 signal ids).
    void SetBands(int nBands) { m_nBands = nBands; }
    void SetProtocol(SimProtocol protocol) { m_protocol = protocol; }
    // The modern receiver's systems: 1 GPS, 2 GLONASS, 4 Galileo, 8 BeiDou.
    void SetSystems(unsigned systems) { m_systems = systems; }
    // Spreads every later restart's time to fix evenly over +-seconds around its own, drawn from
    // a generator seeded with seed (never below half a second).
    void SetSpread(double seconds, unsigned seed) {
        m_dSpread = seconds;
        m_random.seed(seed);
    }
    // The interference to play; seed draws the spoofed signals' C/N0.
    void SetInterference(const SimInterference &interference, unsigned seed) {
        m_interference = interference;
        m_spoofNoise.seed(seed);
    }
    // An RTCM 3 frame of station nStation arrived: the receiver works towards an RTK solution.
    void OnCorrections(int nStation, Clock::time_point now) { m_rtk.OnFrame(nStation, now); }
    // Still without its fix after a restart.
    bool Acquiring() const { return m_dAcquireSeconds > 0.0; }

    static constexpr int kSatellites = 11;
    // The modern sky: GPS, GLONASS, Galileo and BeiDou.
    static constexpr int kModernSatellites = 24;

private:
    struct Sat {
        int nPrn;
        double dElevation;
        double dAzimuth;
        int nSnr; // 0: no signal (empty field)
        bool bUsed;
    };
    void Sky(double t, Sat (&sats)[kSatellites]) const;
    // Satellites in view after a restart (all of n once the fix is back); false while no fix.
    bool Acquire(Clock::time_point now, int n, int &nInView);
    std::string ModernEpoch(const std::string &hms, const std::string &date, double t, int nInView,
                            SimUbxEpoch &ubx);
    // A signal's C/N0 (0: none) as this epoch's interference and the receiver's own loss leave it.
    int Cn0(int snr);
    // GGA's quality and its fields 13 and 14 (age and station), as ",age,station" or ",,";
    // uncorrected the SiRF receiver sends station 0000.
    std::string DiffFields(const SimRtkState &rtk, const char *uncorrected) const;
    // What goes out for the epoch in the chosen protocol: the sentences, its UBX messages or both.
    std::string Output(std::string &nmea, SimUbxEpoch &ubx, Clock::time_point now);

    bool m_bFast;
    bool m_bModern;
    int m_nBands = 1;
    unsigned m_systems = 0xF;
    double m_dLat = 48.1173; // degrees north
    double m_dLon = 11.5167; // degrees east
    double m_dTrackTime = 0.0;
    Clock::time_point m_restartAt{};
    double m_dAcquireSeconds = 0.0; // 0: has its fix
    double m_dSpread = 0.0;
    std::mt19937 m_random;
    SimProtocol m_protocol = SimProtocol::Nmea;
    Clock::time_point m_poweredAt{}; // power-up or the last restart
    bool m_bPowered = false;
    double m_dTtff = 0.0; // seconds from m_poweredAt to the fix; 0 until it came
    long long m_lastRfSecond = -1;
    SimInterference m_interference;
    std::mt19937 m_spoofNoise;
    bool m_bStarted = false;
    Clock::time_point m_firstEpoch{};
    double m_dJamDbNow = 0.0; // this epoch's
    bool m_bSpoofNow = false;
    CSimRtk m_rtk;
};
