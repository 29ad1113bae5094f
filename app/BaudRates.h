#pragma once

// The baud list of the dialog, entries 0 to 7: "1200" to "115200". Every entry opens at the rate
// its text names, and an open rate maps back to its entry through the same list, so each entry
// round-trips between the Re-set command and the start-up.

inline constexpr int kBaudEntries = 8;

// The rate entry nIndex opens at; 4800 for an index outside the list.
inline constexpr int BaudRateForIndex(int nIndex) {
    constexpr int kRates[kBaudEntries] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return nIndex >= 0 && nIndex < kBaudEntries ? kRates[nIndex] : 4800;
}

// The entry of an open rate: the highest entry whose rate does not exceed it (0 below 1200).
inline constexpr int BaudIndexForRate(int nRate) {
    int nIndex = 0;
    for (int i = 1; i < kBaudEntries; ++i)
        if (BaudRateForIndex(i) <= nRate)
            nIndex = i;
    return nIndex;
}
