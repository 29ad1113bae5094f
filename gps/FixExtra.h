#pragma once

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

// What the decoder keeps beside the 120-byte record, which keeps its own fields.
struct FixExtra {
    std::uint16_t sent = 0;   // FixSent bits
    std::int8_t quality = -1; // GGA field 6, 0-8; -1 before any GGA gave one
    char gnsMode[8] = {};     // GNS mode letters as sent, one per system, zero-terminated
};

// GGA's quality indicator as a word: "no fix", "GPS", "DGPS", "PPS", "RTK fixed", "RTK float",
// "dead reckoning", "manual", "simulated"; "" outside 0-8.
const char *QualityName(int quality);
