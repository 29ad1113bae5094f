#include "Units.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace display {

namespace {

constexpr double kFeetPerMetre = 1.0 / 0.3048;

long long Pow10(int n) {
    long long p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

// value * 10^decimals rounded half away from zero, nudged so that a decimal sent as text and
// read into binary rounds as written.
long long Scaled(double value, int decimals) {
    const double scaled = std::abs(value) * static_cast<double>(Pow10(decimals));
    const double nudged = scaled * (1.0 + 1e-12) + 1e-9;
    const auto whole = static_cast<long long>(std::floor(nudged + 0.5));
    return value < 0.0 ? -whole : whole;
}

QString Digits(long long scaled, int decimals) {
    const long long p = Pow10(decimals);
    const long long a = std::llabs(scaled);
    QString text = QString::number(a / p);
    if (decimals > 0)
        text += QLatin1Char('.') + QStringLiteral("%1").arg(a % p, decimals, 10, QLatin1Char('0'));
    return scaled < 0 ? QLatin1Char('-') + text : text;
}

QString Padded(long long value, int width) {
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

} // namespace

QString Rounded(double value, int decimals) {
    if (!std::isfinite(value) || std::abs(value) > 1e12)
        return QStringLiteral("-");
    return Digits(Scaled(value, decimals), decimals);
}

QString CoordinateText(double degrees, bool latitude, DegreeFormat format) {
    if (!std::isfinite(degrees) || std::abs(degrees) > 360.0)
        return QStringLiteral("-");
    if (format == DegreeFormat::Decimal)
        return Digits(Scaled(degrees, 9), 9) + QChar(0x00b0);
    const QChar hemisphere =
        QLatin1Char(latitude ? (degrees < 0.0 ? 'S' : 'N') : (degrees < 0.0 ? 'W' : 'E'));
    const int width = latitude ? 2 : 3;
    const QString deg = QChar(0x00b0);
    if (format == DegreeFormat::DegreesMinutes) {
        // Hundred-thousandths of a minute, so a carry reaches the degrees.
        const long long units = std::llabs(Scaled(degrees * 60.0, 5));
        const long long perDegree = 60LL * 100000;
        return Padded(units / perDegree, width) + deg + QLatin1Char(' ') +
               Padded(units % perDegree / 100000, 2) + QLatin1Char('.') +
               Padded(units % 100000, 5) + QStringLiteral("' ") + hemisphere;
    }
    const long long units = std::llabs(Scaled(degrees * 3600.0, 4));
    const long long perMinute = 60LL * 10000;
    return Padded(units / (60 * perMinute), width) + deg + QLatin1Char(' ') +
           Padded(units / perMinute % 60, 2) + QStringLiteral("' ") +
           Padded(units % perMinute / 10000, 2) + QLatin1Char('.') + Padded(units % 10000, 4) +
           QStringLiteral("\" ") + hemisphere;
}

QString PositionText(double lat, double lon, DegreeFormat format) {
    return CoordinateText(lat, true, format) + QStringLiteral(", ") +
           CoordinateText(lon, false, format);
}

QString LengthText(double metres, int decimals, LengthUnit unit) {
    const int d = decimals < 0 ? 0 : decimals > 3 ? 3 : decimals;
    if (unit == LengthUnit::Feet)
        return Rounded(metres * kFeetPerMetre, d) + QStringLiteral(" ft");
    return Rounded(metres, d) + QStringLiteral(" m");
}

QString SpeedUnitName(SpeedUnit unit) {
    switch (unit) {
    case SpeedUnit::Mps:
        return QStringLiteral("m/s");
    case SpeedUnit::Knots:
        return QStringLiteral("kn");
    case SpeedUnit::Mph:
        return QStringLiteral("mph");
    case SpeedUnit::Kmh:
        break;
    }
    return QStringLiteral("km/h");
}

QString SpeedText(double kmh, SpeedUnit unit, int decimals) {
    // Knots and miles by their definitions: 1852 m and 1609.344 m.
    const double value = unit == SpeedUnit::Mps     ? kmh / 3.6
                         : unit == SpeedUnit::Knots ? kmh / 1.852
                         : unit == SpeedUnit::Mph   ? kmh / 1.609344
                                                    : kmh;
    return Rounded(value, decimals) + QLatin1Char(' ') + SpeedUnitName(unit);
}

QString DopText(double dop) {
    return Rounded(dop, 2);
}

} // namespace display
