#pragma once

#include <QString>

namespace display {

// How the desktop layout writes positions, lengths and speeds; kept between runs.
enum class DegreeFormat { Decimal, DegreesMinutes, Dms };
enum class SpeedUnit { Kmh, Mps, Knots, Mph };
enum class LengthUnit { Metres, Feet };
struct UnitChoice {
    DegreeFormat degrees = DegreeFormat::Dms;
    SpeedUnit speed = SpeedUnit::Kmh;
    LengthUnit length = LengthUnit::Metres;
};

// A latitude or longitude: decimal degrees to 9 places (signed), degrees and minutes to
// 0.00001', or degrees, minutes and seconds to 0.0001", rounded.
QString CoordinateText(double degrees, bool latitude, DegreeFormat format);
// Both, as the clipboard gets them: "latitude, longitude".
QString PositionText(double lat, double lon, DegreeFormat format);
// Metres with the decimals the receiver sent (at most 3), or feet with as many.
QString LengthText(double metres, int decimals, LengthUnit unit);
// A speed given in km/h, to 0.001 of the unit (or fewer decimals, when fewer are known).
QString SpeedText(double kmh, SpeedUnit unit, int decimals = 3);
// A speed's unit alone: "km/h", "m/s", "kn", "mph".
QString SpeedUnitName(SpeedUnit unit);
// A dilution of precision to two decimals, rounded.
QString DopText(double dop);
// The digits of value rounded half away from zero to decimals places, robust to the binary
// representation of a decimal written by the receiver (0.495 gives "0.50").
QString Rounded(double value, int decimals);

} // namespace display
