#pragma once

#include "BaudList.h"

#include <cstddef>

// The baud list of the dialog, one entry per listed rate. Every entry opens at the rate its text
// names, and an open rate maps back to its entry through the same list, so each entry
// round-trips between the Re-set command and the start-up.

inline constexpr int kBaudEntries = static_cast<int>(platform::kBaudRates.size());

// The rate entry nIndex opens at; 4800 for an index outside the list.
inline constexpr int BaudRateForIndex(int nIndex) {
    return nIndex >= 0 && nIndex < kBaudEntries
               ? platform::kBaudRates[static_cast<std::size_t>(nIndex)]
               : platform::kNmeaBaud;
}

// The entry of an open rate: the highest entry whose rate does not exceed it (0 below 1200).
inline constexpr int BaudIndexForRate(int nRate) {
    int nIndex = 0;
    for (int i = 1; i < kBaudEntries; ++i)
        if (BaudRateForIndex(i) <= nRate)
            nIndex = i;
    return nIndex;
}

// The entry the dialog falls back to while the port is closed: the NMEA rate.
inline constexpr int kNmeaBaudIndex = BaudIndexForRate(platform::kNmeaBaud);
static_assert(BaudRateForIndex(kNmeaBaudIndex) == platform::kNmeaBaud);
