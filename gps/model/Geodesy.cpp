#include "model/Geodesy.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kWgs84A = 6378137.0;
constexpr double kWgs84F = 1.0 / 298.257223563;
constexpr double kDegToRad = std::numbers::pi / 180.0;

} // namespace

void GeodeticToEcef(double latDeg, double lonDeg, double h, double &x, double &y, double &z) {
    const double e2 = kWgs84F * (2.0 - kWgs84F);
    const double lat = latDeg * kDegToRad, lon = lonDeg * kDegToRad;
    const double n = kWgs84A / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
    x = (n + h) * std::cos(lat) * std::cos(lon);
    y = (n + h) * std::cos(lat) * std::sin(lon);
    z = (n * (1.0 - e2) + h) * std::sin(lat);
}

void EcefToGeodetic(double x, double y, double z, double &latDeg, double &lonDeg, double &h) {
    const double b = kWgs84A * (1.0 - kWgs84F);
    const double e2 = kWgs84F * (2.0 - kWgs84F);
    const double ep2 = e2 / (1.0 - e2);
    const double p = std::hypot(x, y);
    const double theta = std::atan2(z * kWgs84A, p * b);
    const double st = std::sin(theta), ct = std::cos(theta);
    const double lat = std::atan2(z + ep2 * b * st * st * st, p - e2 * kWgs84A * ct * ct * ct);
    const double sl = std::sin(lat);
    const double n = kWgs84A / std::sqrt(1.0 - e2 * sl * sl);
    h = std::fabs(std::cos(lat)) > 1e-9 ? p / std::cos(lat) - n : std::fabs(z) - b;
    latDeg = lat / kDegToRad;
    lonDeg = std::atan2(y, x) / kDegToRad;
}

void EcefToGroundVelocity(double latDeg, double lonDeg, double vx, double vy, double vz,
                          double &speed, double &courseDeg) {
    const double phi = latDeg * kDegToRad, lam = lonDeg * kDegToRad;
    const double east = -std::sin(lam) * vx + std::cos(lam) * vy;
    const double north = -std::sin(phi) * std::cos(lam) * vx - std::sin(phi) * std::sin(lam) * vy +
                         std::cos(phi) * vz;
    speed = std::hypot(east, north);
    courseDeg = std::atan2(east, north) / kDegToRad;
    if (courseDeg < 0.0)
        courseDeg += 360.0;
}

CLocalFrame::CLocalFrame(double latDeg, double lonDeg) : m_lat0(latDeg), m_lon0(lonDeg) {
    const double e2 = kWgs84F * (2.0 - kWgs84F);
    const double s = std::sin(latDeg * kDegToRad);
    const double w = std::sqrt(1.0 - e2 * s * s);
    m_metresPerRadNorth = kWgs84A * (1.0 - e2) / (w * w * w);
    m_metresPerRadEast = kWgs84A / w * std::cos(latDeg * kDegToRad);
}

void CLocalFrame::ToEastNorth(double latDeg, double lonDeg, double &east, double &north) const {
    east = std::remainder(lonDeg - m_lon0, 360.0) * kDegToRad * m_metresPerRadEast;
    north = (latDeg - m_lat0) * kDegToRad * m_metresPerRadNorth;
}
