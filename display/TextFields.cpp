#include "TextFields.h"

#include "ControlIds.h"

#include <chrono>

namespace display {

namespace {

// The seconds as "%2.2f" prints them; a value that rounds to 60.00 carries into the minute, and
// the minute into the degree.
QString DegreesText(std::int32_t value, const char *degreeFormat, char positiveLetter,
                    char negativeLetter) {
    std::uint8_t deg = 0, min = 0, positive = 0;
    float sec = 0;
    SplitDegrees(value, deg, min, sec, positive);
    QString seconds = QString::asprintf("%2.2f", static_cast<double>(sec));
    int degrees = deg, minutes = min;
    if (seconds == QLatin1String("60.00")) {
        seconds = QStringLiteral("0.00");
        if (++minutes == 60) {
            minutes = 0;
            ++degrees;
        }
    }
    return QString::asprintf(degreeFormat, degrees) + QString::asprintf("\u00b0%02d' ", minutes) +
           seconds + QString::asprintf("\" %c", positive ? positiveLetter : negativeLetter);
}

QString LatitudeText(std::int32_t value) {
    return DegreesText(value, "%02d", 'N', 'S');
}

QString LongitudeText(std::int32_t value) {
    return DegreesText(value, "%03d", 'E', 'W');
}

// The 16 bits hold -1000 to 64535 m: a value from 64536 up is below sea level.
int AltitudeMetres(std::uint16_t stored) {
    return stored >= 64536 ? static_cast<int>(stored) - 65536 : static_cast<int>(stored);
}

QString DopText(std::int16_t tenths) {
    // Single precision, as the value was always shown; 100 tenths print as 10.0.
    const float v = static_cast<float>(tenths) * 0.1f;
    return QString::asprintf("%3.1f", static_cast<double>(v));
}

QString ValidText(std::uint8_t valid) {
    return valid ? QStringLiteral("Valid") : QStringLiteral("InValid");
}

QString FixModeText(std::int8_t mode) {
    switch (mode) {
    case 2:
        return QStringLiteral("2D");
    case 3:
        return QStringLiteral("3D");
    default:
        return QStringLiteral("No Fix");
    }
}

} // namespace

void SplitDegrees(std::int32_t value, std::uint8_t &degrees, std::uint8_t &minutes, float &seconds,
                  std::uint8_t &positive) {
    positive = value >= 0 ? 1 : 0;
    // Unsigned, so the magnitude of the most negative value does not overflow.
    const std::uint32_t a =
        value >= 0 ? static_cast<std::uint32_t>(value) : 0u - static_cast<std::uint32_t>(value);
    const std::uint32_t deg = a / 1000000u;
    const std::uint64_t r = a - deg * 1000000u;
    const std::uint64_t min = r * 60u / 1000000u;
    degrees = static_cast<std::uint8_t>(deg);
    minutes = static_cast<std::uint8_t>(min);
    // r * 3600 passes the signed 32-bit range above r = 596523, hence 64 bits.
    seconds = static_cast<float>(r * 3600u - min * 60000000u) * 0.000001f;
}

bool TimeOnClock(const GpsFix &fix) {
    return fix.bHour <= 23 && fix.bMinute <= 59 && fix.bSecond <= 60;
}

bool DateOnCalendar(const GpsFix &fix) {
    using namespace std::chrono;
    return year_month_day{year{fix.nYear}, month{fix.bMonth}, day{fix.bDay}}.ok();
}

std::vector<TextField> ChangedTextFields(const GpsFix &cur, const GpsFix &prev, ViewMode mode,
                                         bool redrawAll, FixFacts curFacts, FixFacts prevFacts) {
    std::vector<TextField> out;
    const QString notSent = QString::fromLatin1(kNotSentText);
    // A field is rewritten when its value, whether it was sent, or the data's staleness changed.
    auto write = [&](bool changed, std::uint16_t bit, int id, auto &&text) {
        const bool isSent = (curFacts.sent & bit) != 0;
        if (changed || redrawAll || isSent != ((prevFacts.sent & bit) != 0))
            out.push_back({id, isSent ? text() : notSent});
    };
    const bool latChanged = cur.lLatitude != prev.lLatitude;
    const bool lonChanged = cur.lLongitude != prev.lLongitude;
    const bool pdopChanged = cur.nPdop != prev.nPdop;
    const bool validChanged = cur.bValid != prev.bValid || curFacts.stale != prevFacts.stale;
    const bool fixModeChanged = cur.cFixMode != prev.cFixMode;
    // Stale data says so whether or not the validity was ever sent.
    auto writeValid = [&](int id) {
        const bool isSent = (curFacts.sent & kSentValid) != 0;
        if (validChanged || redrawAll || isSent != ((prevFacts.sent & kSentValid) != 0))
            out.push_back({id, curFacts.stale ? QString::fromLatin1(kNoDataText)
                                              : (isSent ? ValidText(cur.bValid) : notSent)});
    };

    write(cur.nYear != prev.nYear || cur.bMonth != prev.bMonth || cur.bDay != prev.bDay, kSentDate,
          ctl::kDate, [&] {
              return DateOnCalendar(cur)
                         ? QString::asprintf("%4d/%02d/%02d", cur.nYear, cur.bMonth, cur.bDay)
                         : notSent;
          });
    write(cur.bHour != prev.bHour || cur.bMinute != prev.bMinute || cur.bSecond != prev.bSecond,
          kSentTime, ctl::kTime, [&] {
              return TimeOnClock(cur)
                         ? QString::asprintf("%02d:%02d:%02d", cur.bHour, cur.bMinute, cur.bSecond)
                         : notSent;
          });

    if (mode == kViewFull) {
        write(latChanged, kSentPosition, ctl::kLatitude,
              [&] { return LatitudeText(cur.lLatitude); });
        write(lonChanged, kSentPosition, ctl::kLongitude,
              [&] { return LongitudeText(cur.lLongitude); });
        write(cur.wAltitude != prev.wAltitude, kSentAltitude, ctl::kAltitude,
              [&] { return QString::asprintf("%d M", AltitudeMetres(cur.wAltitude)); });
        write(cur.wSpeed != prev.wSpeed, kSentSpeed, ctl::kSpeed,
              [&] { return QString::asprintf("%d KM/Hr", cur.wSpeed / 100); });
        write(cur.nHdop != prev.nHdop, kSentHdop, ctl::kHdop, [&] { return DopText(cur.nHdop); });
        write(pdopChanged, kSentPdop, ctl::kPdop, [&] { return DopText(cur.nPdop); });
        write(cur.nCourse != prev.nCourse, kSentCourse, ctl::kCourse,
              [&] { return QString::asprintf("%d Degree", cur.nCourse); });
        writeValid(ctl::kValidity);
        write(fixModeChanged, kSentFixMode, ctl::kFixMode,
              [&] { return FixModeText(cur.cFixMode); });
    } else {
        write(latChanged, kSentPosition, ctl::kCompactLatitude,
              [&] { return LatitudeText(cur.lLatitude); });
        write(lonChanged, kSentPosition, ctl::kCompactLongitude,
              [&] { return LongitudeText(cur.lLongitude); });
        write(pdopChanged, kSentPdop, ctl::kCompactPdop, [&] { return DopText(cur.nPdop); });
        writeValid(ctl::kCompactValidity);
        write(fixModeChanged, kSentFixMode, ctl::kCompactFixMode,
              [&] { return FixModeText(cur.cFixMode); });
    }
    return out;
}

QHash<int, QStringList> WidestTexts() {
    // Widest where every digit is used: 359 degrees, 655 km/h, far south-west, both altitude
    // ends, the last day of the year; digits share one width in the faces we pick.
    GpsFix a{};
    a.nYear = 2026, a.bMonth = 12, a.bDay = 31, a.bHour = 23, a.bMinute = 59, a.bSecond = 59;
    a.lLatitude = -89999997, a.lLongitude = -179999997;
    a.wAltitude = 64535, a.wSpeed = 65535, a.nCourse = 359, a.nHdop = 999, a.nPdop = 999;
    GpsFix b = a;
    b.wAltitude = 64536, b.bValid = 1, b.cFixMode = 3;
    b.lLatitude = 89999997, b.lLongitude = 179999997;
    QHash<int, QStringList> widest;
    for (const GpsFix &f : {a, b})
        for (ViewMode mode : {kViewFull, kViewCompact})
            for (const TextField &t : ChangedTextFields(f, f, mode, true))
                widest[t.id] << t.text;
    for (int id : {ctl::kFixMode, ctl::kCompactFixMode})
        widest[id] << FixModeText(2);
    for (int id : {ctl::kValidity, ctl::kCompactValidity})
        widest[id] << QString::fromLatin1(kNoDataText);
    return widest;
}

} // namespace display
