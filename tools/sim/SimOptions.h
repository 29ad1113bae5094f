#pragma once

#include "SimChip.h"
#include "SimSky.h"

#include <cstdint>
#include <string>

// The command line of skywatch-sim. Parse returns false with a one-line message on bad input.
struct SimOptions {
    int nBaud = 0;         // 0 until Parse: 9600 for the modern sky, 4800 with --gnss gps
    bool bGpsOnly = false; // --gnss gps: the old SiRF-style GPS-only talk
    int nRate = 1;
    int nSpeed = 1; // --speed: the receiver's clock runs this many times as fast as the wall's
    bool bFast = false;
    bool bRunning = false; // --running: no banner until a restart
    bool bHelp = false;
    std::string strLink;
    std::string strReplay;
    std::string strTcp;         // [HOST:]PORT to serve the stream on, "" for none
    std::string strUdp;         // HOST:PORT to send the stream to, "" for none
    double dUnplugAfter = -1.0; // seconds; negative: never
    double dUnplugPause = 2.0;
    double dWrite = 0.0; // --write: seconds of stream to write to stdout unpaced; 0: run as usual
    int nWriteFrom = -1; // --write-from: the first epoch's UTC, seconds since 1970; -1 the clock's
    double dTtffSpread = 0.0; // seconds either side of each restart's own time to fix
    unsigned nSeed = 0;
    bool bSeedSet = false;
    SimFamily chip = SimFamily::Ublox; // the commonest receivers today
    bool bChipSet = false;
    int nBands = 1; // --bands 2: each satellite on two signals, as dual-band modules send
    SimProtocol protocol = SimProtocol::Nmea; // --protocol: NMEA, u-blox UBX or both
    SimInterference interference;             // --jam, --spoof and --cn0-offset
    int nUbxProtocol = 1800;     // --ubx-protocol 27.11: 2711; from 23.01 the key interface
    std::uint32_t refuseKey = 0; // --refuse-key: a configuration key the u-blox refuses
    bool bAckOnly = false;       // --ack-only: configuration answered, never applied

    bool Parse(int argc, char **argv, std::string &error);
    static const char *Usage();
};
