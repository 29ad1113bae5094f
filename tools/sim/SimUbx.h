#pragma once

#include <chrono>
#include <string>
#include <vector>

// One satellite as the sentences report it, with the u-blox numbering of its system.
struct SimUbxSat {
    int nGnssId = 0; // u-blox gnssId: 0 GPS, 2 Galileo, 3 BeiDou, 6 GLONASS
    int nSvId = 0;   // within its system (GLONASS 1-24, not the NMEA 65-88)
    int nElevation = 0, nAzimuth = 0;
    int nSnr[2] = {};     // dB-Hz per band as the GSV sends it; 0: no signal
    int nNmeaSig[2] = {}; // the NMEA 4.11 signal id of each band
    bool bUsed = false;
};

// One epoch of the simulated receiver: what its sentences say, kept at full precision.
struct SimUbxEpoch {
    std::chrono::system_clock::time_point time;
    bool bFix = false;
    double dLat = 0.0, dLon = 0.0; // degrees
    double dAltMsl = 0.0, dGeoidSep = 0.0;
    double dKnots = 0.0, dCourse = 0.0;
    double dPdop = 0.0, dHdop = 0.0, dVdop = 0.0;
    int nUsed = 0;
    int nBands = 1;
    double dSinceStart = 0.0; // seconds since power-up or the last restart
    double dTtff = 0.0;       // seconds from then to the fix; 0 while without one
    double dJamDb = 0.0;      // broadband jamming: dB it lowers every signal by
    // RTK: GGA's quality (1, 5 float, 4 fixed), the carrier solution (0 none, 1 float, 2 fixed),
    // and the corrections' age (s) and station while they are used (-1 otherwise).
    int nQuality = 1, nCarrier = 0;
    double dDiffAgeS = -1.0;
    int nDiffStation = -1;
    std::vector<SimUbxSat> sats;
};

// The UBX messages a u-blox receiver sends for that epoch: NAV-STATUS, NAV-DOP, NAV-PVT, NAV-SAT
// and NAV-SIG, and MON-RF when bRf (once a second).
std::string UbxEpoch(const SimUbxEpoch &epoch, bool bRf);
