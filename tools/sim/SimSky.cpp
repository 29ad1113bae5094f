#include "SimSky.h"

#include "NmeaLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPrns[CSimSky::kSatellites] = {2, 5, 7, 9, 13, 15, 18, 21, 24, 26, 30};
// Below 20 dB-Hz a consumer receiver's carrier loop loses lock (high-sensitivity ones hold a
// little lower only with aiding); from 25 the simulated receiver uses a signal in its fix.
constexpr int kTrackFloor = 20;
constexpr int kUseFloor = 25;
// A spoofer's signals all come from one transmitter: about one strength, a little above the sky's.
constexpr int kSpoofCn0 = 45;
// It drags the position away north-east at 30 m/s, while the velocity it reports stays the
// receiver's true one, and its clock runs two hours ahead of the true time.
constexpr double kSpoofDriftMps = 30.0;
constexpr double kSpoofDriftBearing = 45.0;
constexpr std::chrono::seconds kSpoofClockAhead{2 * 3600};

std::string Format(const char *fmt, auto... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

// ddmm.mmmm or dddmm.mmmm with its hemisphere letter.
std::string Angle(double deg, int degDigits, char pos, char neg) {
    const char hemi = deg < 0 ? neg : pos;
    deg = std::fabs(deg);
    int whole = static_cast<int>(deg);
    double minutes = (deg - whole) * 60.0;
    if (minutes >= 59.99995) { // would print as 60.0000
        minutes = 0.0;
        ++whole;
    }
    return Format("%0*d%07.4f,%c", degDigits, whole, minutes, hemi);
}

} // namespace

void CSimSky::Sky(double t, Sat (&sats)[kSatellites]) const {
    for (int i = 0; i < kSatellites; ++i) {
        // Slow passes: each satellite swings between 5 and 85 degrees over a few hours.
        const double phase = i * 0.9;
        const double el = 45.0 + 40.0 * std::sin(t / 2400.0 + phase);
        double az = std::fmod(i * 33.0 + t / 60.0, 360.0);
        // Two satellites without signal, the low ones tracked but not used.
        int snr = (i == 3 || i == 8) ? 0 : static_cast<int>(std::lround(18.0 + el * 0.3));
        sats[i] = {kPrns[i], el, az, snr, snr >= 25};
    }
}

bool CSimSky::Restart(int nResetCfg, Clock::time_point now) {
    double seconds = 0.0;
    switch (nResetCfg) {
    case 4:
        seconds = 35.0;
        break;
    case 2:
        seconds = 30.0;
        break;
    case 1:
        seconds = m_bFast ? 20.0 : 2.0;
        break;
    default:
        return false;
    }
    m_restartAt = now;
    m_poweredAt = now;
    m_bPowered = true;
    m_dTtff = 0.0;
    m_dAcquireSeconds = m_bFast ? seconds / 10.0 : seconds;
    if (m_dSpread > 0.0) {
        std::uniform_real_distribution<double> spread(-m_dSpread, m_dSpread);
        m_dAcquireSeconds = std::max(0.5, m_dAcquireSeconds + spread(m_random));
    }
    return true;
}

bool CSimSky::Acquire(Clock::time_point now, int n, int &nInView) {
    // After a restart: nothing, then satellites coming back one by one, then the fix.
    nInView = n;
    if (m_dAcquireSeconds <= 0.0)
        return true;
    const double since = std::chrono::duration<double>(now - m_restartAt).count();
    const double part = since / m_dAcquireSeconds;
    if (part >= 1.0) {
        m_dAcquireSeconds = 0.0;
        return true;
    }
    // The first 30% without anything, then the satellites return before the fix.
    nInView = part < 0.3 ? 0 : static_cast<int>(n * (part - 0.3) / 0.7 + 1.0);
    if (nInView > n)
        nInView = n;
    return false;
}

int CSimSky::Cn0(int snr) {
    if (snr <= 0)
        return 0;
    int cn0 = m_bSpoofNow ? kSpoofCn0 + static_cast<int>(m_spoofNoise() % 3) - 1 : snr;
    if (const double loss = m_dJamDbNow + m_interference.dCn0OffsetDb; loss > 0.0) {
        cn0 = static_cast<int>(std::lround(cn0 - loss));
        if (cn0 < kTrackFloor)
            return 0;
    }
    return cn0;
}

std::string CSimSky::ModernEpoch(const std::string &hms, const std::string &date, double t,
                                 int nInView, SimUbxEpoch &ubx) {
    struct System {
        const char *talker; // of its GSV
        int id;             // NMEA 4.10 system id of its GSA
        int count;
        int firstPrn; // numbers as a u-blox receiver sends them
        int prnStep;
        int gnssId; // u-blox's number of the system
        int svBase; // NMEA number of its satellite 0 (GLONASS 65-96 is 1-32)
    };
    static const System kSystems[] = {{"GP", 1, 9, 2, 3, 0, 0},
                                      {"GL", 2, 6, 66, 3, 6, 64},
                                      {"GA", 3, 5, 3, 7, 2, 0},
                                      {"GB", 4, 4, 6, 8, 3, 0}};
    // NMEA 4.11 signal ids of the two bands a dual-band module tracks, per system: GPS L1 C/A and
    // L5 Q, GLONASS G1 and G2 C/A, Galileo E1 and E5a, BeiDou B1I and B2a.
    static const int kBandIds[4][2] = {{1, 8}, {1, 3}, {7, 1}, {1, 5}};
    // Each satellite's signals first: with fewer than 4 strong enough to use there is no fix.
    struct Signals {
        int snr, snr2;
    };
    std::vector<Signals> signals;
    int nUsable = 0;
    // Which system each satellite belongs to: the receiver tracks only those it is set to.
    const auto enabled = [&](int index) {
        int k = 0;
        for (int first = 0; k < 3 && index >= first + kSystems[k].count; ++k)
            first += kSystems[k].count;
        return (m_systems & (1u << k)) != 0;
    };
    for (int index = 0; index < nInView && index < kModernSatellites; ++index) {
        const double el = 45.0 + 40.0 * std::sin(t / 2400.0 + index * 0.7);
        // Every fifth satellite without signal, the low ones tracked but not used.
        const int snr = index % 5 == 4 ? 0 : static_cast<int>(std::lround(18.0 + el * 0.3));
        // The second band is a little weaker, and lost on the weakest satellites.
        const Signals s{Cn0(snr), Cn0(snr > 24 ? snr - 4 : 0)};
        nUsable += s.snr >= kUseFloor && enabled(index);
        signals.push_back(s);
    }
    const bool bFix = ubx.bFix && nUsable >= 4;
    ubx.bFix = bFix;
    std::string gsa[4], gsv;
    int nUsed = 0, index = 0;
    for (int k = 0; k < 4; ++k) {
        const System &sys = kSystems[k];
        if ((m_systems & (1u << k)) == 0) {
            index += sys.count;
            continue;
        }
        std::string prns, body;
        int nUsedHere = 0;
        std::vector<std::string> sats, second;
        for (int i = 0; i < sys.count; ++i, ++index) {
            if (index >= nInView)
                break;
            const double el = 45.0 + 40.0 * std::sin(t / 2400.0 + index * 0.7);
            const int az =
                static_cast<int>(std::lround(std::fmod(index * 47.0 + t / 60.0, 360.0))) % 360;
            const auto [snr, snr2] = signals[static_cast<std::size_t>(index)];
            const int prn = sys.firstPrn + i * sys.prnStep;
            std::string sat =
                Format(",%02d,%02d,%03d,", prn, static_cast<int>(std::lround(el)), az);
            if (snr > 0)
                sat += Format("%02d", snr);
            sats.push_back(sat);
            std::string sat2 =
                Format(",%02d,%02d,%03d,", prn, static_cast<int>(std::lround(el)), az);
            if (snr2 > 0)
                sat2 += Format("%02d", snr2);
            second.push_back(sat2);
            const bool bUsed = bFix && snr >= kUseFloor && nUsedHere < 12;
            if (bUsed) {
                prns += Format("%02d,", prn);
                ++nUsedHere;
            }
            SimUbxSat us;
            us.nGnssId = sys.gnssId;
            us.nSvId = prn - sys.svBase;
            us.nElevation = static_cast<int>(std::lround(el));
            us.nAzimuth = az;
            us.nSnr[0] = snr;
            us.nSnr[1] = snr2;
            us.nNmeaSig[0] = kBandIds[k][0];
            us.nNmeaSig[1] = kBandIds[k][1];
            us.bUsed = bUsed;
            ubx.sats.push_back(us);
        }
        nUsed += nUsedHere;
        for (int i = nUsedHere; i < 12; ++i)
            prns += ",";
        gsa[k] = prns;
        const int n = static_cast<int>(sats.size());
        const int nMessages = n == 0 ? 1 : (n + 3) / 4;
        // One sequence per band; with two bands each message ends in its signal id.
        for (int band = 0; band < m_nBands; ++band) {
            const std::vector<std::string> &list = band == 0 ? sats : second;
            for (int m = 0; m < nMessages; ++m) {
                std::string line = Format("%sGSV,%d,%d,%02d", sys.talker, nMessages, m + 1, n);
                for (int i = m * 4; i < n && i < m * 4 + 4; ++i)
                    line += list[static_cast<std::size_t>(i)];
                if (m_nBands > 1)
                    line += Format(",%X", kBandIds[k][band]);
                gsv += NmeaLine(line);
            }
        }
    }
    const double hdop = bFix ? 0.5 + 6.0 / (nUsed + 1) : 0.0;
    const double pdop = hdop * 1.6;
    const double vdop = hdop * 1.3;
    ubx.nUsed = nUsed;
    ubx.dHdop = hdop;
    ubx.dPdop = pdop;
    ubx.dVdop = vdop;
    ubx.nBands = m_nBands;
    std::string out;
    if (bFix) {
        const std::string lat = Angle(ubx.dLat, 2, 'N', 'S'), lon = Angle(ubx.dLon, 3, 'E', 'W');
        const SimRtkState rtk{ubx.nQuality, ubx.nCarrier, ubx.dDiffAgeS, ubx.nDiffStation};
        out += NmeaLine(Format("GNRMC,%s,A,%s,%s,%.1f,%.1f,%s,,,%c,V", hms.c_str(), lat.c_str(),
                               lon.c_str(), ubx.dKnots, ubx.dCourse, date.c_str(),
                               rtk.nCarrier == 2   ? 'R'
                               : rtk.nCarrier == 1 ? 'F'
                                                   : 'A'));
        out += NmeaLine(Format("GNGGA,%s,%s,%s,%d,%02d,%.1f,%.1f,M,47.6,M%s", hms.c_str(),
                               lat.c_str(), lon.c_str(), rtk.nQuality, nUsed, hdop, ubx.dAltMsl,
                               DiffFields(rtk, ",").c_str()));
    } else {
        out += NmeaLine(Format("GNRMC,%s,V,,,,,,,%s,,,N,V", hms.c_str(), date.c_str()));
        out += NmeaLine(Format("GNGGA,%s,,,,,0,00,,,M,,M,,", hms.c_str()));
    }
    for (int k = 0; k < 4; ++k)
        if ((m_systems & (1u << k)) != 0)
            out += NmeaLine(Format("GNGSA,A,%d,%s%.1f,%.1f,%.1f,%d", bFix ? 3 : 1, gsa[k].c_str(),
                                   pdop, hdop, vdop, kSystems[k].id));
    return out + gsv;
}

std::string CSimSky::Epoch(Clock::time_point now, double dtSeconds) {
    // The track: about 3 knots, course wandering slowly around north-east.
    m_dTrackTime += dtSeconds;
    const double course = std::fmod(45.0 + 30.0 * std::sin(m_dTrackTime / 300.0) + 360.0, 360.0);
    const double knots = 3.0 + 0.5 * std::sin(m_dTrackTime / 47.0);
    const double metres = knots * 1852.0 / 3600.0 * dtSeconds;
    m_dLat += metres * std::cos(course * kPi / 180.0) / 111320.0;
    m_dLon += metres * std::sin(course * kPi / 180.0) / (111320.0 * std::cos(m_dLat * kPi / 180.0));

    // The interference of this epoch, by its time since the first one.
    if (!m_bStarted) {
        m_bStarted = true;
        m_firstEpoch = now;
    }
    const double since = std::chrono::duration<double>(now - m_firstEpoch).count();
    const auto within = [since](double start, double seconds) {
        // A microsecond's grace: --write's epochs fall on whole cycles, give or take rounding.
        return start >= 0.0 && since + 1e-6 >= start &&
               (seconds < 0.0 || since + 1e-6 < start + seconds);
    };
    const SimInterference &in = m_interference;
    m_dJamDbNow = within(in.dJamStart, in.dJamSeconds) ? in.dJamDb : 0.0;
    m_bSpoofNow = within(in.dSpoofStart, in.dSpoofSeconds);

    SimUbxEpoch ubx;
    ubx.time = now;
    ubx.dLat = m_dLat;
    ubx.dLon = m_dLon;
    ubx.dAltMsl = 520.0 + 3.0 * std::sin(m_dTrackTime / 90.0);
    ubx.dGeoidSep = 47.6; // as the GGA says
    ubx.dKnots = knots;
    ubx.dCourse = course;
    ubx.dJamDb = m_dJamDbNow;
    if (m_bSpoofNow) {
        // The spoofer's fix: dragged away from the truth, its clock ahead; the velocity true.
        const double drift = kSpoofDriftMps * (since - in.dSpoofStart);
        ubx.dLat += drift * std::cos(kSpoofDriftBearing * kPi / 180.0) / 111320.0;
        ubx.dLon += drift * std::sin(kSpoofDriftBearing * kPi / 180.0) /
                    (111320.0 * std::cos(ubx.dLat * kPi / 180.0));
        ubx.time += kSpoofClockAhead;
    }

    const auto sinceEpoch = ubx.time.time_since_epoch();
    const std::time_t secs = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const int millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
    std::tm utc{};
    gmtime_r(&secs, &utc);
    const std::string hms =
        Format("%02d%02d%02d.%03d", utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    const std::string date = Format("%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    // The satellites stand where they truly are.
    const auto trueSecs = static_cast<double>(
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());

    // The corrections as they stand now; the sky decides below whether there is a fix to correct.
    const SimRtkState rtk = m_rtk.At(now);
    ubx.nQuality = rtk.nQuality;
    ubx.nCarrier = rtk.nCarrier;
    ubx.dDiffAgeS = rtk.dAgeS;
    ubx.nDiffStation = rtk.nStation;

    int nInView = 0;
    ubx.bFix = Acquire(now, m_bModern ? kModernSatellites : kSatellites, nInView);
    if (m_bModern) {
        std::string out = ModernEpoch(hms, date, trueSecs, nInView, ubx);
        return Output(out, ubx, now);
    }

    Sat sats[kSatellites];
    Sky(trueSecs, sats);
    int nUsable = 0;
    for (int i = 0; i < nInView; ++i) {
        sats[i].nSnr = Cn0(sats[i].nSnr);
        sats[i].bUsed = sats[i].nSnr >= kUseFloor;
        nUsable += sats[i].bUsed;
    }
    // With fewer than 4 satellites strong enough to use there is no fix.
    const bool bFix = ubx.bFix && nUsable >= 4;
    ubx.bFix = bFix;
    int nUsed = 0;
    std::string prns;
    for (int i = 0; i < nInView; ++i) {
        if (bFix && sats[i].bUsed) {
            prns += Format("%02d,", sats[i].nPrn);
            ++nUsed;
        }
        SimUbxSat us;
        us.nSvId = sats[i].nPrn;
        us.nElevation = static_cast<int>(std::lround(sats[i].dElevation));
        us.nAzimuth = static_cast<int>(std::lround(sats[i].dAzimuth)) % 360;
        us.nSnr[0] = sats[i].nSnr;
        us.nNmeaSig[0] = 1; // L1 C/A
        us.bUsed = bFix && sats[i].bUsed;
        ubx.sats.push_back(us);
    }
    for (int i = nUsed; i < 12; ++i)
        prns += ",";
    const double hdop = bFix ? 0.8 + 6.0 / (nUsed + 1) : 0.0;
    const double pdop = hdop * 1.6;
    const double vdop = hdop * 1.3;
    const double alt = ubx.dAltMsl;
    ubx.nUsed = nUsed;
    ubx.dHdop = hdop;
    ubx.dPdop = pdop;
    ubx.dVdop = vdop;

    std::string out;
    if (bFix) {
        out += NmeaLine(Format("GPRMC,%s,A,%s,%s,%.1f,%.1f,%s,,,A", hms.c_str(),
                               Angle(ubx.dLat, 2, 'N', 'S').c_str(),
                               Angle(ubx.dLon, 3, 'E', 'W').c_str(), knots, course, date.c_str()));
        out += NmeaLine(Format("GPGGA,%s,%s,%s,%d,%02d,%.1f,%.1f,M,47.6,M%s", hms.c_str(),
                               Angle(ubx.dLat, 2, 'N', 'S').c_str(),
                               Angle(ubx.dLon, 3, 'E', 'W').c_str(), rtk.nQuality, nUsed, hdop, alt,
                               DiffFields(rtk, ",0000").c_str()));
        out += NmeaLine(Format("GPGSA,A,3,%s%.1f,%.1f,%.1f", prns.c_str(), pdop, hdop, vdop));
    } else {
        out += NmeaLine(Format("GPRMC,%s,V,,,,,,,%s,,,N", hms.c_str(), date.c_str()));
        out += NmeaLine(Format("GPGGA,%s,,,,,0,00,,,M,,M,,0000", hms.c_str()));
        out += NmeaLine("GPGSA,A,1," + prns + ",,");
    }
    const int nMessages = nInView == 0 ? 1 : (nInView + 3) / 4;
    for (int m = 0; m < nMessages; ++m) {
        std::string body = Format("GPGSV,%d,%d,%02d", nMessages, m + 1, nInView);
        for (int i = m * 4; i < nInView && i < m * 4 + 4; ++i) {
            body += Format(",%02d,%02d,%03d,", sats[i].nPrn,
                           static_cast<int>(std::lround(sats[i].dElevation)),
                           static_cast<int>(std::lround(sats[i].dAzimuth)) % 360);
            if (sats[i].nSnr > 0)
                body += Format("%02d", sats[i].nSnr);
        }
        out += NmeaLine(body);
    }
    return Output(out, ubx, now);
}

std::string CSimSky::DiffFields(const SimRtkState &rtk, const char *uncorrected) const {
    if (!rtk.Corrected())
        return std::string(",") + uncorrected;
    return Format(",%.1f,", rtk.dAgeS) + (rtk.nStation >= 0 ? Format("%04d", rtk.nStation) : "");
}

std::string CSimSky::Output(std::string &nmea, SimUbxEpoch &ubx, Clock::time_point now) {
    if (m_protocol == SimProtocol::Nmea)
        return std::move(nmea);
    // Power-up counts as a hot start a second before the first epoch.
    if (!m_bPowered) {
        m_bPowered = true;
        m_poweredAt = now - std::chrono::seconds(1);
    }
    ubx.dSinceStart = std::chrono::duration<double>(now - m_poweredAt).count();
    if (ubx.bFix && m_dTtff <= 0.0)
        m_dTtff = ubx.dSinceStart;
    ubx.dTtff = ubx.bFix ? m_dTtff : 0.0;
    const long long second =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const std::string frames = UbxEpoch(ubx, second != m_lastRfSecond);
    m_lastRfSecond = second;
    return m_protocol == SimProtocol::Ubx ? frames : std::move(nmea) + frames;
}
