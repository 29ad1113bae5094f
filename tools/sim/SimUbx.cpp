#include "SimUbx.h"

#include "UbxWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr long long kWeekMs = 7LL * 24 * 3600 * 1000;
// GPS time began on 6 January 1980 and runs 18 leap seconds ahead of UTC.
constexpr long long kGpsEpochMs = 315964800000LL;
constexpr long long kLeapMs = 18000;
constexpr std::uint8_t kNav = 0x01, kMon = 0x0A;
constexpr std::uint32_t kUnknownAcc = 0xFFFFFFFFu;

// A DOP in 0.01 as the GSA prints it (one decimal), so both protocols say the same.
unsigned Dop(double value, bool bFix) {
    if (!bFix)
        return 9999; // 99.99: what the receiver sends without a solution
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return static_cast<unsigned>(std::lround(std::strtod(text, nullptr) * 100.0));
}

// u-blox's signal id for the NMEA 4.11 signal id of a system's band.
unsigned SigId(int gnssId, int nmeaSig) {
    static constexpr struct {
        int gnss, nmea, sig;
    } kSigs[] = {
        {0, 1, 0}, {0, 6, 3},   {0, 5, 4}, {0, 7, 6}, {0, 8, 7}, // GPS L1C/A, L2 CL, L2 CM, L5 I, Q
        {2, 7, 0}, {2, 1, 4},   {2, 2, 6},                       // Galileo E1 C, E5a Q, E5b Q
        {3, 1, 0}, {3, 0xB, 2}, {3, 3, 5}, {3, 5, 7},            // BeiDou B1I, B2I, B1C, B2a
        {6, 1, 0}, {6, 3, 2},                                    // GLONASS L1 OF, L2 OF
    };
    for (const auto &s : kSigs)
        if (s.gnss == gnssId && s.nmea == nmeaSig)
            return static_cast<unsigned>(s.sig);
    return 0;
}

// 0 no signal .. 7 code and carrier locked: a searched satellite, a tracked one, a used one.
unsigned Quality(int snr, bool bUsed) {
    return snr <= 0 ? 1 : bUsed ? 7 : 4;
}

// NAV-PVT's flags3 lastCorrectionAge: 1 under 1 s, then 1-2, 2-5, 5-10, 10-15, 15-20, 20-30,
// 30-45, 45-60, 60-90, 90-120 s, 12 beyond; 0 without corrections.
unsigned CorrectionAgeCode(double ageS) {
    static constexpr double kUpper[] = {1, 2, 5, 10, 15, 20, 30, 45, 60, 90, 120};
    if (ageS < 0.0)
        return 0;
    unsigned code = 1;
    for (double upper : kUpper) {
        if (ageS < upper)
            return code;
        ++code;
    }
    return code;
}

std::string NavStatus(const SimUbxEpoch &e, std::uint32_t iTow) {
    CUbxWriter w;
    w.U4(iTow).U1(e.bFix ? 3 : 0);
    w.U1((e.bFix ? 0x01u : 0u) | 0x0Cu); // gpsFixOk, week and time of week set
    w.U1(0);                             // fixStat
    w.U1(1u << 3);                       // flags2: spoofDetState 1, no spoofing indicated
    w.U4(static_cast<std::uint32_t>(std::lround(e.dTtff * 1000.0)));
    w.U4(static_cast<std::uint32_t>(std::lround(e.dSinceStart * 1000.0)));
    return w.Frame(kNav, 0x03);
}

std::string NavDop(const SimUbxEpoch &e, std::uint32_t iTow) {
    const double tdop = e.dPdop * 0.7;
    CUbxWriter w;
    w.U4(iTow)
        .U2(Dop(std::hypot(e.dPdop, tdop), e.bFix))
        .U2(Dop(e.dPdop, e.bFix))
        .U2(Dop(tdop, e.bFix))
        .U2(Dop(e.dVdop, e.bFix))
        .U2(Dop(e.dHdop, e.bFix))
        .U2(Dop(e.dHdop * 0.7, e.bFix))
        .U2(Dop(e.dHdop * 0.7, e.bFix));
    return w.Frame(kNav, 0x04);
}

std::string NavPvt(const SimUbxEpoch &e, std::uint32_t iTow, long long unixMs) {
    const auto secs = static_cast<std::time_t>(unixMs / 1000);
    std::tm utc{};
    gmtime_r(&secs, &utc);
    const double speed = e.dKnots * 1852.0 / 3.6; // mm/s
    const double course = e.dCourse * kPi / 180.0;
    const auto mm = [](double metres) {
        return static_cast<std::int32_t>(std::lround(metres * 1000.0));
    };
    CUbxWriter w;
    w.U4(iTow)
        .U2(static_cast<unsigned>(utc.tm_year + 1900))
        .U1(static_cast<unsigned>(utc.tm_mon + 1))
        .U1(static_cast<unsigned>(utc.tm_mday))
        .U1(static_cast<unsigned>(utc.tm_hour))
        .U1(static_cast<unsigned>(utc.tm_min))
        .U1(static_cast<unsigned>(utc.tm_sec));
    w.U1(e.bFix ? 0x07 : 0x03); // validDate, validTime, fullyResolved
    w.U4(e.bFix ? 20 : 500000); // tAcc, ns
    w.I4(static_cast<std::int32_t>(unixMs % 1000 * 1000000));
    // flags: gnssFixOK, diffSoln, carrSoln (bits 6-7: 1 float, 2 fixed).
    const bool bRtk = e.bFix && e.nCarrier > 0;
    const unsigned flags =
        e.bFix ? 0x01u | (bRtk ? 0x02u | static_cast<unsigned>(e.nCarrier) << 6 : 0u) : 0u;
    w.U1(e.bFix ? 3 : 0).U1(flags);
    w.U1(0xE0); // flags2: date and time confirmed
    w.U1(static_cast<unsigned>(e.nUsed));
    if (e.bFix) {
        w.I4(static_cast<std::int32_t>(std::lround(e.dLon * 1e7)))
            .I4(static_cast<std::int32_t>(std::lround(e.dLat * 1e7)))
            .I4(mm(e.dAltMsl + e.dGeoidSep))
            .I4(mm(e.dAltMsl))
            .U4(static_cast<std::uint32_t>(std::lround(e.dHdop * 1500.0)))
            .U4(static_cast<std::uint32_t>(std::lround(e.dVdop * 2500.0)));
        w.I4(static_cast<std::int32_t>(std::lround(speed * std::cos(course))))
            .I4(static_cast<std::int32_t>(std::lround(speed * std::sin(course))))
            .I4(0)
            .I4(static_cast<std::int32_t>(std::lround(speed)))
            .I4(static_cast<std::int32_t>(std::lround(e.dCourse * 1e5) % 36000000))
            .U4(150)     // sAcc, mm/s
            .U4(250000); // headAcc, 1e-5 degree
    } else {
        w.I4(0).I4(0).I4(0).I4(0).U4(kUnknownAcc).U4(kUnknownAcc);
        w.I4(0).I4(0).I4(0).I4(0).I4(0).U4(kUnknownAcc).U4(18000000);
    }
    w.U2(Dop(e.dPdop, e.bFix));
    // flags3: invalidLlh, lastCorrectionAge in bits 1-4.
    w.U2((e.bFix ? 0u : 1u) | (bRtk ? CorrectionAgeCode(e.dDiffAgeS) << 1 : 0u));
    w.Zeros(4).I4(0).I2(0).U2(0); // reserved, headVeh, magDec, magAcc
    return w.Frame(kNav, 0x07);
}

std::string NavSat(const SimUbxEpoch &e, std::uint32_t iTow) {
    CUbxWriter w;
    w.U4(iTow).U1(1).U1(static_cast<unsigned>(e.sats.size())).Zeros(2);
    for (const SimUbxSat &s : e.sats) {
        // The satellite's strongest signal.
        const int snr = e.nBands > 1 ? std::max(s.nSnr[0], s.nSnr[1]) : s.nSnr[0];
        std::uint32_t flags = Quality(snr, s.bUsed) | (s.bUsed ? 1u << 3 : 0u) | 1u << 4;
        flags |= snr > 0 ? 1u << 8 | 1u << 11 : 2u << 8; // orbit from ephemeris, else almanac
        flags |= 1u << 12;                               // almanac available
        w.U1(static_cast<unsigned>(s.nGnssId)).U1(static_cast<unsigned>(s.nSvId));
        w.U1(static_cast<unsigned>(snr)).I1(s.nElevation).I2(s.nAzimuth).I2(0).U4(flags);
    }
    return w.Frame(kNav, 0x35);
}

std::string NavSig(const SimUbxEpoch &e, std::uint32_t iTow) {
    CUbxWriter w;
    w.U4(iTow).U1(0).U1(static_cast<unsigned>(e.sats.size()) * static_cast<unsigned>(e.nBands));
    w.Zeros(2);
    for (const SimUbxSat &s : e.sats) {
        for (int band = 0; band < e.nBands; ++band) {
            const int snr = s.nSnr[band];
            const bool bUsed = s.bUsed && snr > 0;
            // GLONASS: its frequency slot (-7..6) + 7; the simulated sky spreads them by number.
            const unsigned freqId = s.nGnssId == 6 ? static_cast<unsigned>(s.nSvId % 14) : 0u;
            w.U1(static_cast<unsigned>(s.nGnssId)).U1(static_cast<unsigned>(s.nSvId));
            w.U1(SigId(s.nGnssId, s.nNmeaSig[band])).U1(freqId).I2(0);
            w.U1(static_cast<unsigned>(snr)).U1(Quality(snr, bUsed));
            w.U1(0).U1(bUsed ? (e.nBands > 1 ? 8u : 1u) : 0u); // corrSource; ionoModel
            // sigFlags: healthy, pseudorange and Doppler used.
            w.U2(1u | (bUsed ? 1u << 3 | 1u << 5 : 0u)).Zeros(4);
        }
    }
    return w.Frame(kNav, 0x43);
}

std::string MonRf(const SimUbxEpoch &e, long long unixMs) {
    const double t = static_cast<double>(unixMs / 1000);
    // Broadband jamming raises the CW jamming indicator by about 5 a dB and turns the gain
    // control down by about 2% of its 0..8191 range a dB; the jamming state stays "ok", as many
    // receivers leave it for broadband noise.
    const long jamRise = std::lround(5.0 * e.dJamDb);
    const long agcDrop = std::lround(0.02 * 8191.0 * e.dJamDb);
    CUbxWriter w;
    w.U1(0).U1(static_cast<unsigned>(e.nBands)).Zeros(2);
    for (int b = 0; b < e.nBands; ++b) {
        w.U1(static_cast<unsigned>(b)).U1(1).U1(2).U1(1); // jamming ok, antenna ok, power on
        w.U4(0).Zeros(4);                                 // postStatus, reserved
        w.U2(static_cast<unsigned>(88 + 6 * b));          // noisePerMS
        const long agc = 5600 - 300 * b + std::lround(60.0 * std::sin(t / 40.0)) - agcDrop;
        w.U2(static_cast<unsigned>(std::max(0L, agc)));
        const long jamInd = 12 + 3 * b + std::lround(3.0 + 3.0 * std::sin(t / 17.0)) + jamRise;
        w.U1(static_cast<unsigned>(std::min(255L, jamInd)));
        w.I1(0).U1(120).I1(0).U1(118).Zeros(3); // ofsI, magI, ofsQ, magQ
    }
    return w.Frame(kMon, 0x38);
}

} // namespace

std::string UbxEpoch(const SimUbxEpoch &e, bool bRf) {
    const long long unixMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(e.time.time_since_epoch()).count();
    const auto iTow = static_cast<std::uint32_t>(
        ((unixMs - kGpsEpochMs + kLeapMs) % kWeekMs + kWeekMs) % kWeekMs);
    // In the order of their ids, as the receiver sends an epoch's messages.
    std::string out = NavStatus(e, iTow) + NavDop(e, iTow) + NavPvt(e, iTow, unixMs) +
                      NavSat(e, iTow) + NavSig(e, iTow);
    if (bRf)
        out += MonRf(e, unixMs);
    return out;
}
