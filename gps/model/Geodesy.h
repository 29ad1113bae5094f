#pragma once

// WGS84 conversions the decoders and the analyses share.

// ECEF metres to WGS84 latitude and longitude in degrees and height above the ellipsoid in
// metres (Bowring's method, better than a millimetre near the earth's surface).
void EcefToGeodetic(double x, double y, double z, double &latDeg, double &lonDeg, double &h);
// WGS84 latitude and longitude in degrees and height above the ellipsoid in metres to ECEF metres.
void GeodeticToEcef(double latDeg, double lonDeg, double h, double &x, double &y, double &z);
// An ECEF velocity (m/s) at a point, turned to east and north: ground speed (m/s) and course
// (degrees true, 0 to 360).
void EcefToGroundVelocity(double latDeg, double lonDeg, double vx, double vy, double vz,
                          double &speed, double &courseDeg);

// East/north metres of a point from a centre, from WGS84's radii of curvature at the centre's
// latitude (meridian for north, prime vertical times cos(latitude) for east).
class CLocalFrame {
public:
    CLocalFrame(double latDeg, double lonDeg);
    void ToEastNorth(double latDeg, double lonDeg, double &east, double &north) const;

private:
    double m_lat0, m_lon0;
    double m_metresPerRadNorth, m_metresPerRadEast;
};
