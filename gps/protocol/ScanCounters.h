#pragma once

#include <cstdint>

// What the scanner did with the stream. Many drops and few decodes usually mean a wrong baud rate.
struct ScanCounters {
    std::uint32_t nGga = 0;
    std::uint32_t nGsa = 0;
    std::uint32_t nGsv = 0;
    std::uint32_t nRmc = 0;
    std::uint32_t nBadChecksum = 0; // checksum wrong or missing
    std::uint32_t nCut = 0;         // a "$" arrived before the line feed
    std::uint32_t nTooLong = 0;     // more than 511 bytes without a line feed
    std::uint32_t nUnknown = 0;     // a good sentence of a type we do not decode
    std::uint32_t nBadByte = 0;     // a byte outside printable ASCII before the "*"
    std::uint32_t nGns = 0;         // GNS, read for its mode letters
    std::uint32_t nGst = 0;         // GST, read for its error estimates
    // Binary frames beside the sentences, never counted as sentences.
    std::uint32_t nUbx = 0;    // UBX frames whose checksum holds, read or not
    std::uint32_t nUbxBad = 0; // UBX frames with a wrong checksum or a length no frame has
    std::uint32_t nUbxSkipped =
        0;                   // good UBX frames shorter than their layout or of an unknown version
    std::uint32_t nRtcm = 0; // RTCM 3 frames whose CRC holds
    std::uint32_t nRtcmBad = 0; // RTCM 3 frames whose CRC fails

    std::uint32_t Decoded() const { return nGga + nGsa + nGsv + nRmc + nGns + nGst; }
    std::uint32_t Dropped() const { return nBadChecksum + nCut + nTooLong + nUnknown + nBadByte; }
    // Sentences decoded and binary frames whose checksum held: what shows that data comes.
    std::uint32_t Heard() const { return Decoded() + nUbx + nRtcm; }
    // Sentences whose checksum held, read or not, and the ones lost to a fault.
    std::uint32_t NmeaGood() const { return Decoded() + nUnknown; }
    std::uint32_t NmeaBad() const { return nBadChecksum + nCut + nTooLong + nBadByte; }
};
