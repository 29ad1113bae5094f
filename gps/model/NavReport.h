#pragma once

#include <cstdint>

// What one UBX navigation message says of the fix, converted once by the decoder as it reads the
// message, for those that make fixes of it (the fix track). A part the message does not carry is
// left unset.
struct NavReport {
    enum class Kind : std::uint8_t {
        Pvt,        // NAV-PVT
        Sol,        // NAV-SOL
        Status,     // NAV-STATUS
        Posllh,     // NAV-POSLLH
        Hpposllh,   // NAV-HPPOSLLH, only when its position is valid
        Velned,     // NAV-VELNED
        Timeutc,    // NAV-TIMEUTC
        Dop,        // NAV-DOP
        EndOfEpoch, // NAV-EOE: nothing else is set
    };
    Kind kind = Kind::Pvt;
    std::uint32_t iTow = 0; // ms of the GPS week

    // NAV-PVT, NAV-SOL, NAV-STATUS.
    bool hasStatus = false;
    int fixType = 0; // 0 none, 1 dead reckoning, 2 2D, 3 3D, 4 GNSS+DR, 5 time only
    bool fixOk = false;
    bool diff = false;
    int carrier = 0; // 0 none, 1 float, 2 fixed (NAV-SOL gives none)

    // NAV-PVT (unless flagged invalid), NAV-SOL (unless its ECEF position is all zero),
    // NAV-POSLLH, NAV-HPPOSLLH; degrees, and metres above mean sea level where the message has it.
    bool hasPosition = false;
    double lat = 0.0, lon = 0.0;
    bool hasAlt = false;
    double alt = 0.0;
    // NAV-SOL: the height above the ellipsoid its ECEF position gives, metres.
    bool hasHeight = false;
    double height = 0.0;

    // NAV-PVT, NAV-VELNED, and NAV-SOL with its position.
    bool hasVelocity = false;
    double speedKmh = 0.0;
    double course = 0.0; // degrees

    int satsUsed = -1; // NAV-PVT, NAV-SOL

    // NAV-PVT (each as its flags say) and NAV-TIMEUTC (both as its UTC validity says).
    bool validTime = false, validDate = false;
    int year = 0, month = 0, day = 0, hour = 0, min = 0, sec = 0;

    // NAV-DOP.
    bool hasHdop = false;
    double hdop = 0.0;
};
