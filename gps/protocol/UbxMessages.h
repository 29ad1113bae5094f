#pragma once

// protocol: bytes in, messages out: the scanner (FrameScanner.h), NMEA field conversions, UBX
// message layouts, RTCM 3 frames.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The u-blox binary messages the decoder reads. Each message's layout is a table (field name,
// type, scale, offset) per version, walked by one reader; a payload shorter than its layout or of
// a version without one is not read. Values are kept as the receiver sent them (integers in the
// message's own units); the decoder converts them once, into the record's units.
namespace ubx {

// Class and id of each message read.
enum class Msg : std::uint8_t {
    Unknown,
    NavPvt,      // 01 07
    NavSat,      // 01 35
    NavSig,      // 01 43
    NavDop,      // 01 04
    NavStatus,   // 01 03
    NavHpposllh, // 01 14
    NavTimeutc,  // 01 21
    NavSol,      // 01 06
    NavPosllh,   // 01 02
    NavVelned,   // 01 12
    NavSvinfo,   // 01 30
    MonRf,       // 0A 38
    MonHw,       // 0A 09
    SecSig,      // 27 09
    MonVer,      // 0A 04
    AckAck,      // 05 01
    AckNak,      // 05 00
    RxmRtcm,     // 02 32
};
Msg Identify(std::uint8_t cls, std::uint8_t id);
// "NAV-PVT", ...; "" for Unknown.
const char *MsgName(Msg msg);

enum class Result : std::uint8_t {
    Ok,
    Short,   // the payload is shorter than its layout (or than its own count of repeated blocks)
    Version, // a version no layout is written for
};

// 01 07: the navigation solution.
struct NavPvt {
    std::uint32_t iTow = 0; // ms of the GPS week
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, min = 0, sec = 0;
    bool validDate = false, validTime = false, fullyResolved = false;
    std::uint8_t fixType = 0; // 0 none, 1 dead reckoning, 2 2D, 3 3D, 4 GNSS+DR, 5 time only
    bool gnssFixOk = false;
    bool diffSoln = false;
    std::uint8_t carrSoln = 0; // 0 none, 1 float, 2 fixed
    std::uint8_t numSv = 0;
    std::int32_t lon = 0, lat = 0;     // 1e-7 degree
    std::int32_t height = 0, hMsl = 0; // mm above the ellipsoid, above mean sea level
    std::uint32_t hAcc = 0, vAcc = 0;  // mm
    std::int32_t gSpeed = 0;           // mm/s, ground speed
    std::int32_t headMot = 0;          // 1e-5 degree, heading of motion
    std::uint32_t sAcc = 0;            // mm/s
    std::uint16_t pDop = 0;            // 0.01
    bool invalidLlh = false;           // flags3 bit 0 (version with flags3): lon/lat/height bad
    // flags3 bits 1-4: the corrections' age, 0 not available, 1 under 1 s, 2 1-2 s, 3 2-5 s,
    // 4 5-10 s, 5 10-15 s, 6 15-20 s, 7 20-30 s, 8 30-45 s, 9 45-60 s, 10 60-90 s, 11 90-120 s,
    // 12 120 s and more.
    std::uint8_t lastCorrectionAge = 0;
};

// 01 14: the position to 0.1 mm.
struct NavHpposllh {
    std::uint32_t iTow = 0;
    bool invalidLlh = false;
    std::int32_t lon = 0, lat = 0;        // 1e-7 degree
    std::int32_t height = 0, hMsl = 0;    // mm
    std::int8_t lonHp = 0, latHp = 0;     // 1e-9 degree, added to lon, lat
    std::int8_t heightHp = 0, hMslHp = 0; // 0.1 mm
    std::uint32_t hAcc = 0, vAcc = 0;     // 0.1 mm
};

// 01 04: dilutions of precision, 0.01 each.
struct NavDop {
    std::uint32_t iTow = 0;
    std::uint16_t gDop = 0, pDop = 0, tDop = 0, vDop = 0, hDop = 0, nDop = 0, eDop = 0;
};

// 01 03: receiver status.
struct NavStatus {
    std::uint32_t iTow = 0;
    std::uint8_t gpsFix = 0; // as NavPvt::fixType
    bool gpsFixOk = false;
    bool diffSoln = false;
    std::uint8_t carrSoln = 0; // flags2 bits 6-7 (0 where the firmware does not send it)
    std::uint8_t spoofDetState =
        0; // flags2 bits 3-4: 0 unknown/off, 1 none, 2 indicated, 3 multiple
    std::uint32_t ttff = 0, msss = 0; // ms
};

// 01 21: UTC time.
struct NavTimeutc {
    std::uint32_t iTow = 0;
    std::uint32_t tAcc = 0; // ns
    std::int32_t nano = 0;
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, min = 0, sec = 0;
    bool validTow = false, validWkn = false, validUtc = false;
};

// 01 06: the older solution, position and velocity as ECEF.
struct NavSol {
    std::uint32_t iTow = 0;
    std::uint8_t gpsFix = 0;
    bool gpsFixOk = false, diffSoln = false, wknSet = false, towSet = false;
    std::int32_t ecefX = 0, ecefY = 0, ecefZ = 0;    // cm
    std::uint32_t pAcc = 0;                          // cm, 3D
    std::int32_t ecefVx = 0, ecefVy = 0, ecefVz = 0; // cm/s
    std::uint32_t sAcc = 0;                          // cm/s
    std::uint16_t pDop = 0;                          // 0.01
    std::uint8_t numSv = 0;
};

// 01 02: geodetic position.
struct NavPosllh {
    std::uint32_t iTow = 0;
    std::int32_t lon = 0, lat = 0;     // 1e-7 degree
    std::int32_t height = 0, hMsl = 0; // mm
    std::uint32_t hAcc = 0, vAcc = 0;  // mm
};

// 01 12: velocity.
struct NavVelned {
    std::uint32_t iTow = 0;
    std::uint32_t gSpeed = 0; // cm/s
    std::int32_t heading = 0; // 1e-5 degree
    std::uint32_t sAcc = 0;   // cm/s
};

// One satellite of NAV-SAT (01 35).
struct SvInfo {
    std::uint8_t gnssId = 0, svId = 0;
    std::uint8_t cno = 0;  // dB-Hz
    std::int8_t elev = 0;  // degrees, -90..90
    std::int16_t azim = 0; // degrees
    bool elevAzimKnown =
        true; // false when the receiver gives neither (elev -91 or azim out of range: not sent)
    std::uint8_t qualityInd = 0; // 0-7, as SignalInfo::qualityInd
    bool svUsed = false;
    std::uint8_t health = 0; // 0 unknown, 1 healthy, 2 unhealthy
};

// One signal of NAV-SIG (01 43).
struct SignalInfo {
    std::uint8_t gnssId = 0, svId = 0, sigId = 0, freqId = 0;
    std::uint8_t cno = 0;
    // 0 no signal, 1 searching, 2 acquired, 3 unusable, 4 code locked, 5-7 code and carrier locked
    std::uint8_t qualityInd = 0;
    bool prUsed = false, crUsed = false, doUsed = false;
    std::uint8_t health = 0; // 0 unknown, 1 healthy, 2 unhealthy
};

// One channel of the older NAV-SVINFO (01 30); svid is the receiver's own numbering (GPS 1-32,
// SBAS 120-158, GLONASS 65-96, QZSS 193-197, ...).
struct SvinfoChannel {
    std::uint8_t svid = 0;
    bool svUsed = false;
    std::uint8_t quality = 0; // 0-7, as SignalInfo::qualityInd
    std::uint8_t cno = 0;
    std::int8_t elev = 0;
    std::int16_t azim = 0;
    std::uint8_t health = 0; // 0 unknown, 1 healthy, 2 unhealthy (from the unhealthy flag)
};

// One RF block of MON-RF (0A 38). A compact block without the jamming indicator leaves it
// unknown.
struct RfBlock {
    std::uint8_t blockId = 0;
    std::uint8_t jammingState = 0; // 0 unknown, 1 ok, 2 warning, 3 critical
    std::uint8_t antStatus = 0;    // 0 init, 1 don't know, 2 ok, 3 short, 4 open
    std::uint8_t antPower = 0;     // 0 off, 1 on, 2 don't know
    std::uint16_t noisePerMs = 0;
    std::uint16_t agcCnt = 0; // 0-8191
    bool hasJamInd = false;
    std::uint8_t jamInd = 0; // 0-255
};

// 0A 09 (u-blox 8 and older): the one RF block's values.
struct MonHw {
    std::uint16_t noisePerMs = 0;
    std::uint16_t agcCnt = 0; // 0-8191
    std::uint8_t aStatus = 0;
    std::uint8_t aPower = 0;
    std::uint8_t jammingState = 0; // flags bits 2-3
    std::uint8_t jamInd = 0;
};

// 27 09: signal security.
struct SecSig {
    bool jamDetEnabled = false;
    std::uint8_t jammingState = 0; // 0 unknown, 1 none, 2 warning, 3 critical
    bool spfDetEnabled = false;
    std::uint8_t spoofingState = 0; // 0 unknown, 1 none, 2 indicated, 3 affirmed
};

// 05 01 and 05 00: which message was acknowledged or refused.
struct Ack {
    std::uint8_t clsId = 0, msgId = 0;
};

// 02 32: an RTCM 3 frame the receiver was given.
struct RxmRtcm {
    bool crcFailed = false;
    std::uint8_t msgUsed = 0; // 0 not known, 1 not used, 2 used
    std::uint16_t subType = 0;
    std::uint16_t refStation = 0;
    std::uint16_t msgType = 0;
};

// 0A 04: software and hardware versions, zero-terminated.
struct MonVer {
    char swVersion[31] = {};
    char hwVersion[11] = {};
};

// Each reads one payload (len bytes after the length field, before the checksum). Repeated blocks
// go to out, at most room of them; n says how many the payload held that fit.
Result Read(const std::uint8_t *payload, std::size_t len, NavPvt &out);
Result Read(const std::uint8_t *payload, std::size_t len, NavHpposllh &out);
Result Read(const std::uint8_t *payload, std::size_t len, NavDop &out);
Result Read(const std::uint8_t *payload, std::size_t len, NavStatus &out);
Result Read(const std::uint8_t *payload, std::size_t len, NavTimeutc &out);
Result Read(const std::uint8_t *payload, std::size_t len, NavSol &out);
Result Read(const std::uint8_t *payload, std::size_t len, NavPosllh &out);
Result Read(const std::uint8_t *payload, std::size_t len, NavVelned &out);
Result Read(const std::uint8_t *payload, std::size_t len, MonHw &out);
Result Read(const std::uint8_t *payload, std::size_t len, SecSig &out);
Result Read(const std::uint8_t *payload, std::size_t len, Ack &out);
Result Read(const std::uint8_t *payload, std::size_t len, MonVer &out);
Result Read(const std::uint8_t *payload, std::size_t len, RxmRtcm &out);
Result Read(const std::uint8_t *payload, std::size_t len, SvInfo *out, std::size_t room,
            std::size_t &n);
Result Read(const std::uint8_t *payload, std::size_t len, SignalInfo *out, std::size_t room,
            std::size_t &n);
Result Read(const std::uint8_t *payload, std::size_t len, SvinfoChannel *out, std::size_t room,
            std::size_t &n);
Result Read(const std::uint8_t *payload, std::size_t len, RfBlock *out, std::size_t room,
            std::size_t &n);

// The time of week in ms a navigation-class frame ("B5 62" through its checksum) leads with;
// false for frames of other classes or too short to hold it.
bool NavTimeOfWeek(const std::uint8_t *frame, std::size_t len, std::uint32_t &iTow);

// The 8-bit Fletcher checksum over class, id, length and payload (a frame's bytes from 2 up to
// its two checksum bytes).
inline void Checksum(const std::uint8_t *data, std::size_t n, std::uint8_t &ckA,
                     std::uint8_t &ckB) {
    // Four bytes a step (b gains 4a and the bytes weighted 4, 3, 2, 1); the sums wrap modulo
    // 2^32, which keeps them right modulo 256.
    std::uint32_t a = 0, b = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const std::uint32_t d0 = data[i], d1 = data[i + 1], d2 = data[i + 2], d3 = data[i + 3];
        b += 4 * a + 4 * d0 + 3 * d1 + 2 * d2 + d3;
        a += d0 + d1 + d2 + d3;
    }
    for (; i < n; ++i) {
        a += data[i];
        b += a;
    }
    ckA = static_cast<std::uint8_t>(a & 0xFFu);
    ckB = static_cast<std::uint8_t>(b & 0xFFu);
}

// A whole frame: sync, class, id, little-endian length, payload, then the checksum over all but
// the sync.
inline std::string Frame(std::uint8_t cls, std::uint8_t id, std::string_view payload) {
    std::string frame("\xB5\x62", 2);
    frame += static_cast<char>(cls);
    frame += static_cast<char>(id);
    frame += static_cast<char>(payload.size() & 0xFF);
    frame += static_cast<char>((payload.size() >> 8) & 0xFF);
    frame += payload;
    std::uint8_t ckA = 0, ckB = 0;
    Checksum(reinterpret_cast<const std::uint8_t *>(frame.data()) + 2, frame.size() - 2, ckA, ckB);
    frame += static_cast<char>(ckA);
    frame += static_cast<char>(ckB);
    return frame;
}

} // namespace ubx
