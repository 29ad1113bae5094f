#pragma once

#include "model/SkyTable.h"

#include <QString>
#include <vector>

namespace display {

// One signal of one satellite as two receivers hear it: C/N0 in dB-Hz, -1 where one does not.
struct SignalPair {
    Gnss gnss;
    int sv;
    QString band; // the satellite table's column name
    int a = -1;
    int b = -1;
};

// Every signal either receiver hears, by system, number and band. A strength whose sentence named
// no signal is taken for the system's first signal (L1 C/A, G1 C/A, E1, B1I).
std::vector<SignalPair> PairSignals(const SkyView &a, const SkyView &b);

// The median of A's C/N0 less B's over the satellites both hear on one system's band.
struct BandDifference {
    Gnss gnss;
    QString band;
    double median;
    int satellites;
};
std::vector<BandDifference> MedianDifferences(const std::vector<SignalPair> &pairs);

} // namespace display
