#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <vector>

struct GeoPoint {
    double lat = 0.0, lon = 0.0, alt = 0.0;
    bool hasAlt = false;
};

// The spread of a set of fixes about their mean, or about a reference point when one is given.
struct PositionStats {
    std::size_t fixes = 0;
    GeoPoint mean;           // hasAlt: some fix had an altitude
    GeoPoint centre;         // the mean, or the reference
    double cep50 = 0.0;      // median horizontal distance from the centre, metres
    double cep95 = 0.0;      // 95th percentile of the same
    double drms2 = 0.0;      // twice the root of the mean squared distance
    double vertical95 = 0.0; // 95th percentile of |h - mean h| over fixes with an altitude
    double meanEast = 0.0, meanNorth = 0.0; // the mean's offset from the centre, metres
    double meanUp = 0.0; // mean altitude minus the reference's (both must have one)
};

// The p-th percentile (0-100) by linear interpolation between closest ranks, the first rank at 0
// and the last at N-1. Sorts values. Empty input gives 0.
double Percentile(std::vector<double> &values, double p);

// Fixes gathered one by one for their statistics: 24 bytes a fix (latitude, longitude and
// altitude, in blocks, so the store never holds twice what it needs while it grows), the same
// store then sorted in place: a day at 10 Hz fits in 21 MB.
class CPositionStats {
public:
    void Add(const GeoPoint &point);
    std::size_t Count() const { return m_lat.size(); }
    // The statistics of the fixes added; reference replaces the mean as the centre. The store is
    // used up to compute them.
    PositionStats Take(const std::optional<GeoPoint> &reference = std::nullopt);

private:
    std::deque<double> m_lat, m_lon, m_alt; // altitude NaN where the fix had none
};

// Statistics of the fixes, as CPositionStats gives them.
PositionStats ComputePositionStats(std::span<const GeoPoint> fixes,
                                   const std::optional<GeoPoint> &reference = std::nullopt);
