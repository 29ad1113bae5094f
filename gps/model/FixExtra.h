#pragma once

#include <cstddef>
#include <cstdint>

// Which fields of the record the stream has set since the record was last cleared; a field
// whose latest sentence left it empty counts as not set.
enum FixSent : std::uint16_t {
    kSentTime = 1u << 0,
    kSentDate = 1u << 1,
    kSentValid = 1u << 2,
    kSentPosition = 1u << 3,
    kSentSpeed = 1u << 4,
    kSentCourse = 1u << 5,
    kSentSatsUsed = 1u << 6,
    kSentAltitude = 1u << 7,
    kSentFixMode = 1u << 8,
    kSentPdop = 1u << 9,
    kSentHdop = 1u << 10,
    kSentVdop = 1u << 11,
};

// The receiver's own view of its signal's integrity; every value stays at its "unknown" marker
// until the receiver reports it.
struct Integrity {
    static constexpr std::size_t kMaxBlocks = 4;
    struct RfBlock {
        std::int16_t jamInd = -1;    // 0-255 (MON-RF, MON-HW); -1 not sent
        std::int16_t agcPermil = -1; // AGC in tenths of a percent of its range; -1 not sent
    };
    RfBlock blocks[kMaxBlocks];
    std::uint8_t nBlocks = 0;
    std::int8_t jamming = -1;  // JammingState: -1 unknown
    std::int8_t spoofing = -1; // SpoofingState: -1 unknown
    std::int8_t antenna = -1;  // AntennaState: -1 unknown
    std::int8_t antPower = -1; // 0 off, 1 on; -1 unknown
};
enum JammingState : std::int8_t { kJamOk = 0, kJamWarning = 1, kJamCritical = 2 };
enum SpoofingState : std::int8_t { kSpoofNone = 0, kSpoofIndicated = 1, kSpoofMultiple = 2 };
enum AntennaState : std::int8_t { kAntInit = 0, kAntOk = 1, kAntShort = 2, kAntOpen = 3 };
// "ok", "warning", "critical"; "unknown" for anything else.
const char *JammingWord(int state);
// "none", "indicated", "multiple"; "unknown".
const char *SpoofingWord(int state);
// "ok", "short", "open", "init"; "unknown".
const char *AntennaWord(int state);

// The carrier-phase solution a receiver reports (RTK).
enum CarrierSolution : std::int8_t { kCarrierNone = 0, kCarrierFloat = 1, kCarrierFixed = 2 };
// "none", "float", "fixed"; "" for anything else.
const char *CarrierWord(int carrier);

// What the decoder keeps beside the 120-byte record, which keeps its own fields.
struct FixExtra {
    std::uint16_t sent = 0;   // FixSent bits
    std::int8_t quality = -1; // GGA field 6, 0-8; -1 before any GGA gave one
    char gnsMode[8] = {};     // GNS mode letters as sent, one per system, zero-terminated
    // From the receiver's binary messages only: NMEA has no words for them.
    std::int8_t carrier = -1; // CarrierSolution; -1 not reported
    // The receiver's own word on the corrections it uses: their age in seconds and the base
    // station's id (GGA fields 13 and 14, or UBX); below 0 when not reported.
    float diffAgeS = -1.0f;
    std::int16_t diffStation = -1;
    // Accuracy estimates in metres and metres per second; below 0 when not reported.
    float hAccM = -1.0f, vAccM = -1.0f, speedAccMps = -1.0f;
    // The position at full precision (degrees; metres above the ellipsoid and mean sea level).
    bool hasPrecise = false;
    double preciseLat = 0.0, preciseLon = 0.0;
    double preciseHeight = 0.0, preciseMsl = 0.0;
    // The record's position, altitude, speed and DOPs at the digits the receiver sent, before
    // the record cuts them; set with the record's field, so a reader checks that they agree.
    double fineLat = 0.0, fineLon = 0.0; // degrees
    double speedKmh = 0.0;
    double altMslM = 0.0, geoidSepM = 0.0;
    std::int8_t altDecimals = -1, sepDecimals = -1; // digits sent after the point; -1 not sent
    float pdop = 0.0f, hdop = 0.0f, vdop = 0.0f;
    // GST's 1-sigma errors of latitude, longitude and altitude in metres; below 0 when not sent.
    float errLatM = -1.0f, errLonM = -1.0f, errAltM = -1.0f;
    std::int8_t errDecimals = -1; // the most digits any of them was sent with after the point
    Integrity integrity;
};

// GGA's quality indicator as a word: "no fix", "GPS", "DGPS", "PPS", "RTK fixed", "RTK float",
// "dead reckoning", "manual", "simulated"; "" outside 0-8.
const char *QualityName(int quality);
