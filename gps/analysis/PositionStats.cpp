#include "analysis/PositionStats.h"

#include "model/Geodesy.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// In constant time: a loop of 360-degree steps never ends on a value too large for a step to
// change it.
double Wrap180(double d) {
    return std::remainder(d, 360.0);
}

// The p-th percentile of the first n values, sorted.
template <typename Values> double SortedPercentile(const Values &v, std::size_t n, double p) {
    if (n == 0)
        return 0.0;
    const double rank = p / 100.0 * static_cast<double>(n - 1);
    const auto lo = static_cast<std::size_t>(std::floor(rank));
    const std::size_t hi = std::min(lo + 1, n - 1);
    return v[lo] + (rank - static_cast<double>(lo)) * (v[hi] - v[lo]);
}

} // namespace

double Percentile(std::vector<double> &values, double p) {
    std::sort(values.begin(), values.end());
    return SortedPercentile(values, values.size(), p);
}

void CPositionStats::Add(const GeoPoint &point) {
    m_lat.push_back(point.lat);
    m_lon.push_back(point.lon);
    m_alt.push_back(point.hasAlt ? point.alt : std::nan(""));
}

// The distances take the latitudes' place and the heights' spread the altitudes'.
PositionStats CPositionStats::Take(const std::optional<GeoPoint> &reference) {
    PositionStats st;
    const std::size_t count = m_lat.size();
    st.fixes = count;
    if (count == 0)
        return st;
    // Longitudes are averaged as offsets from the first fix, so a track across 180 degrees works.
    const double lon0 = m_lon.front();
    double sumLat = 0.0, sumDLon = 0.0, sumAlt = 0.0;
    std::size_t nAlt = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sumLat += m_lat[i];
        sumDLon += Wrap180(m_lon[i] - lon0);
        if (!std::isnan(m_alt[i])) {
            sumAlt += m_alt[i];
            ++nAlt;
        }
    }
    const auto n = static_cast<double>(count);
    st.mean.lat = sumLat / n;
    st.mean.lon = Wrap180(lon0 + sumDLon / n);
    st.mean.hasAlt = nAlt != 0;
    st.mean.alt = nAlt != 0 ? sumAlt / static_cast<double>(nAlt) : 0.0;
    st.centre = reference ? *reference : st.mean;

    const CLocalFrame frame(st.centre.lat, st.centre.lon);
    double sumSq = 0.0;
    std::size_t nVert = 0;
    for (std::size_t i = 0; i < count; ++i) {
        double e, no;
        frame.ToEastNorth(m_lat[i], m_lon[i], e, no);
        const double d2 = e * e + no * no;
        sumSq += d2;
        m_lat[i] = std::sqrt(d2);
        if (!std::isnan(m_alt[i]))
            m_alt[nVert++] = std::fabs(m_alt[i] - st.mean.alt);
    }
    m_lon.clear();
    st.drms2 = 2.0 * std::sqrt(sumSq / n);
    std::sort(m_lat.begin(), m_lat.end());
    st.cep95 = SortedPercentile(m_lat, count, 95.0);
    st.cep50 = SortedPercentile(m_lat, count, 50.0);
    std::sort(m_alt.begin(), m_alt.begin() + static_cast<std::ptrdiff_t>(nVert));
    st.vertical95 = SortedPercentile(m_alt, nVert, 95.0);
    m_lat.clear();
    m_alt.clear();
    frame.ToEastNorth(st.mean.lat, st.mean.lon, st.meanEast, st.meanNorth);
    if (reference && reference->hasAlt && st.mean.hasAlt)
        st.meanUp = st.mean.alt - reference->alt;
    return st;
}

PositionStats ComputePositionStats(std::span<const GeoPoint> fixes,
                                   const std::optional<GeoPoint> &reference) {
    CPositionStats stats;
    for (const GeoPoint &g : fixes)
        stats.Add(g);
    return stats.Take(reference);
}
