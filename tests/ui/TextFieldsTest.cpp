#include "TextFields.h"
#include "ControlIds.h"
#include "FixPanel.h"
#include "Units.h"
#include "model/NmeaDecoder.h"

#include <QStringList>
#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <utility>

namespace {

using Fields = std::vector<std::pair<int, QString>>;

GpsFix EmptyFix() {
    GpsFix f;
    std::memset(&f, 0, sizeof f);
    return f;
}

Fields Pass(const GpsFix &cur, const GpsFix &prev, ViewMode mode, bool redrawAll) {
    Fields out;
    for (const display::TextField &f : display::ChangedTextFields(cur, prev, mode, redrawAll))
        out.emplace_back(f.id, f.text);
    return out;
}

QString Text(const GpsFix &cur, int id, ViewMode mode = kViewFull, display::FixFacts facts = {}) {
    for (const display::TextField &f :
         display::ChangedTextFields(cur, cur, mode, true, facts, facts))
        if (f.id == id)
            return f.text;
    return QStringLiteral("<not written>");
}

} // namespace

TEST(TextFields, FirstPassOfTheZeroSnapshotWritesEveryFieldOfTheLayout) {
    const GpsFix zero = EmptyFix();
    GpsFix garbage;
    std::memset(&garbage, 0x5a, sizeof garbage); // m_prevFix has no content before the first pass
    const Fields full{
        {ctl::kDate, QString::fromUtf8("-")},
        {ctl::kTime, QString::fromUtf8("00:00:00")},
        {ctl::kLatitude, QString::fromUtf8("00°00' 0.00\" N")},
        {ctl::kLongitude, QString::fromUtf8("000°00' 0.00\" E")},
        {ctl::kAltitude, QString::fromUtf8("0 M")},
        {ctl::kSpeed, QString::fromUtf8("0 KM/Hr")},
        {ctl::kHdop, QString::fromUtf8("0.0")},
        {ctl::kPdop, QString::fromUtf8("0.0")},
        {ctl::kCourse, QString::fromUtf8("0 Degree")},
        {ctl::kValidity, QString::fromUtf8("InValid")},
        {ctl::kFixMode, QString::fromUtf8("No Fix")},
    };
    EXPECT_EQ(Pass(zero, garbage, kViewFull, true), full);
    EXPECT_EQ(Pass(zero, zero, kViewFull, true), full);
    const Fields compact{
        {ctl::kDate, QString::fromUtf8("-")},
        {ctl::kTime, QString::fromUtf8("00:00:00")},
        {ctl::kCompactLatitude, QString::fromUtf8("00°00' 0.00\" N")},
        {ctl::kCompactLongitude, QString::fromUtf8("000°00' 0.00\" E")},
        {ctl::kCompactPdop, QString::fromUtf8("0.0")},
        {ctl::kCompactValidity, QString::fromUtf8("InValid")},
        {ctl::kCompactFixMode, QString::fromUtf8("No Fix")},
    };
    EXPECT_EQ(Pass(zero, zero, kViewCompact, true), compact);
}

TEST(TextFields, RealValues) {
    struct Row {
        const char *what;
        void (*set)(GpsFix &);
        int id;
        const char *text;
        std::uint16_t sent = display::kSentAll;
        bool stale = false;
    };
    constexpr std::uint16_t all = display::kSentAll;
    const Row rows[] = {
        {"date", [](GpsFix &f) { f.nYear = 2026, f.bMonth = 12, f.bDay = 8; }, ctl::kDate,
         "2026/12/08"},
        {"time", [](GpsFix &f) { f.bHour = 7, f.bMinute = 5, f.bSecond = 9; }, ctl::kTime,
         "07:05:09"},
        {"north", [](GpsFix &f) { f.lLatitude = 25033000; }, ctl::kLatitude, "25°01' 58.80\" N"},
        {"east", [](GpsFix &f) { f.lLongitude = 121565000; }, ctl::kLongitude, "121°33' 54.00\" E"},
        {"south", [](GpsFix &f) { f.lLatitude = -33500000; }, ctl::kLatitude, "33°30' 0.00\" S"},
        {"west", [](GpsFix &f) { f.lLongitude = -151210000; }, ctl::kLongitude,
         "151°12' 36.00\" W"},
        {"north, seconds below 10", [](GpsFix &f) { f.lLatitude = 1001500; }, ctl::kLatitude,
         "01°00' 5.40\" N"},
        {"fraction cut", [](GpsFix &f) { f.lLatitude = 49274166; }, ctl::kLatitude,
         "49°16' 27.00\" N"},
        // r x 3600 passes the 32-bit range; seconds that print as 60.00 carry.
        {"wide product", [](GpsFix &f) { f.lLongitude = 8999999; }, ctl::kLongitude,
         "009°00' 0.00\" E"},
        {"carry into the minute", [](GpsFix &f) { f.lLatitude = 48016666; }, ctl::kLatitude,
         "48°01' 0.00\" N"},
        {"just below the carry", [](GpsFix &f) { f.lLatitude = 48016664; }, ctl::kLatitude,
         "48°00' 59.99\" N"},
        {"carry into the degree", [](GpsFix &f) { f.lLatitude = 89999999; }, ctl::kLatitude,
         "90°00' 0.00\" N"},
        {"carry west", [](GpsFix &f) { f.lLongitude = -179999999; }, -ctl::kCompactLongitude,
         "180°00' 0.00\" W"},
        {"most negative", [](GpsFix &f) { f.lLatitude = INT32_MIN; }, ctl::kLatitude,
         "99°29' 1.13\" S"},
        {"compact latitude", [](GpsFix &f) { f.lLatitude = -33500000; }, -ctl::kCompactLatitude,
         "33°30' 0.00\" S"},
        {"compact longitude", [](GpsFix &f) { f.lLongitude = -1; }, -ctl::kCompactLongitude,
         "000°00' 0.00\" W"},
        {"altitude", [](GpsFix &f) { f.wAltitude = 8848; }, ctl::kAltitude, "8848 M"},
        {"negative altitude", [](GpsFix &f) { f.wAltitude = 65524; }, ctl::kAltitude, "-12 M"},
        {"balloon", [](GpsFix &f) { f.wAltitude = 40000; }, ctl::kAltitude, "40000 M"},
        {"highest", [](GpsFix &f) { f.wAltitude = 64535; }, ctl::kAltitude, "64535 M"},
        {"lowest", [](GpsFix &f) { f.wAltitude = 64536; }, ctl::kAltitude, "-1000 M"},
        {"speed cut", [](GpsFix &f) { f.wSpeed = 199; }, ctl::kSpeed, "1 KM/Hr"},
        {"top speed", [](GpsFix &f) { f.wSpeed = 65535; }, ctl::kSpeed, "655 KM/Hr"},
        {"HDOP", [](GpsFix &f) { f.nHdop = 12; }, ctl::kHdop, "1.2"},
        {"HDOP 10", [](GpsFix &f) { f.nHdop = 100; }, ctl::kHdop, "10.0"},
        {"PDOP 100", [](GpsFix &f) { f.nPdop = 1000; }, ctl::kPdop, "100.0"},
        {"compact PDOP", [](GpsFix &f) { f.nPdop = 23; }, -ctl::kCompactPdop, "2.3"},
        {"course", [](GpsFix &f) { f.nCourse = 359; }, ctl::kCourse, "359 Degree"},
        {"valid", [](GpsFix &f) { f.bValid = 1; }, ctl::kValidity, "Valid"},
        {"valid any nonzero", [](GpsFix &f) { f.bValid = 2; }, -ctl::kCompactValidity, "Valid"},
        {"fix 1", [](GpsFix &f) { f.cFixMode = 1; }, ctl::kFixMode, "No Fix"},
        {"fix 2", [](GpsFix &f) { f.cFixMode = 2; }, ctl::kFixMode, "2D"},
        {"fix 3", [](GpsFix &f) { f.cFixMode = 3; }, ctl::kFixMode, "3D"},
        {"fix 4", [](GpsFix &f) { f.cFixMode = 4; }, ctl::kFixMode, "No Fix"},
        {"fix -1", [](GpsFix &f) { f.cFixMode = -1; }, -ctl::kCompactFixMode, "No Fix"},
        {"compact fix 3", [](GpsFix &f) { f.cFixMode = 3; }, -ctl::kCompactFixMode, "3D"},
        // What the stream did not set, or set off the calendar, shows "-".
        {"course not sent", [](GpsFix &) {}, ctl::kCourse, "-", all & ~kSentCourse},
        {"position not sent", [](GpsFix &) {}, -ctl::kCompactLatitude, "-", all & ~kSentPosition},
        {"nothing sent", [](GpsFix &) {}, ctl::kAltitude, "-", 0},
        {"validity not sent", [](GpsFix &) {}, ctl::kValidity, "-", 0},
        {"time off the clock", [](GpsFix &f) { f.bHour = 25, f.bMinute = 61, f.bSecond = 99; },
         ctl::kTime, "-"},
        {"date off the calendar", [](GpsFix &f) { f.nYear = 2026, f.bMonth = 2, f.bDay = 30; },
         ctl::kDate, "-"},
        {"leap second", [](GpsFix &f) { f.bHour = 23, f.bMinute = 59, f.bSecond = 60; }, ctl::kTime,
         "23:59:60"},
        {"no data", [](GpsFix &f) { f.bValid = 1; }, ctl::kValidity, "No data", all, true},
        {"no data, never sent", [](GpsFix &) {}, -ctl::kCompactValidity, "No data", 0, true},
        {"no data keeps the values", [](GpsFix &f) { f.nHdop = 12; }, ctl::kHdop, "1.2", all, true},
    };
    for (const Row &r : rows) {
        GpsFix f = EmptyFix();
        r.set(f);
        const ViewMode mode = r.id < 0 ? kViewCompact : kViewFull;
        EXPECT_EQ(Text(f, r.id < 0 ? -r.id : r.id, mode, {r.sent, r.stale}),
                  QString::fromUtf8(r.text))
            << r.what;
    }
}

TEST(TextFields, OnlyChangedFieldsAreWritten) {
    GpsFix prev = EmptyFix();
    prev.nYear = 2026, prev.bMonth = 12, prev.bDay = 8;
    prev.bHour = 7, prev.bMinute = 59, prev.bSecond = 59;
    prev.lLatitude = 25033000, prev.nPdop = 15, prev.cFixMode = 3, prev.bValid = 1;

    GpsFix cur = prev;
    EXPECT_TRUE(Pass(cur, prev, kViewFull, false).empty());
    EXPECT_TRUE(Pass(cur, prev, kViewCompact, false).empty());

    cur.bSecond = 0; // only the time
    EXPECT_EQ(Pass(cur, prev, kViewFull, false), (Fields{{ctl::kTime, "07:59:00"}}));
    EXPECT_EQ(Pass(cur, prev, kViewCompact, false), (Fields{{ctl::kTime, "07:59:00"}}));

    // Satellites, the used list and VDOP are behind no control.
    cur = prev;
    cur.sat[3] = SatInfo{9, 10, 20, 0, 30};
    cur.cUsedPrn[0] = 9;
    cur.cSatsUsed = 4;
    cur.nVdop = 17;
    EXPECT_TRUE(Pass(cur, prev, kViewFull, false).empty());

    // HDOP, speed, course and altitude are shown only in the full layout.
    cur = prev;
    cur.nHdop = 9, cur.wSpeed = 500, cur.nCourse = 10, cur.wAltitude = 12;
    EXPECT_EQ(Pass(cur, prev, kViewFull, false).size(), 4u);
    EXPECT_TRUE(Pass(cur, prev, kViewCompact, false).empty());

    cur = prev;
    cur.lLatitude = -1;
    cur.nPdop = 16;
    EXPECT_EQ(Pass(cur, prev, kViewCompact, false),
              (Fields{{ctl::kCompactLatitude, QString::fromUtf8("00°00' 0.00\" S")},
                      {ctl::kCompactPdop, "1.6"}}));

    // A field that starts being sent, and data that stops, rewrite their controls only.
    const auto changed = [&](display::FixFacts now, display::FixFacts before) {
        Fields out;
        for (const display::TextField &f :
             display::ChangedTextFields(prev, prev, kViewFull, false, now, before))
            out.emplace_back(f.id, f.text);
        return out;
    };
    const std::uint16_t all = display::kSentAll;
    EXPECT_EQ(changed({all, false}, {all & ~kSentPdop, false}), (Fields{{ctl::kPdop, "1.5"}}));
    EXPECT_EQ(changed({all, true}, {all, false}), (Fields{{ctl::kValidity, "No data"}}));
    EXPECT_EQ(changed({all, false}, {all, true}), (Fields{{ctl::kValidity, "Valid"}}));
}

// The desktop fix panel: an NMEA receiver's panel has its rows as they always were; what only
// binary messages report adds rows, each value as the receiver gave it and none it did not send;
// the corrections' rows say whether they come, reach the receiver, and whether it uses them.
TEST(FixPanel, RowsOfWhatTheReceiverReported) {
    using Rows = std::vector<std::pair<QString, QString>>;
    GpsFix fix = EmptyFix();
    fix.wSpeed = 1250;
    fix.bValid = 1;
    SkyView sky{};
    const auto panel = [&](const FixExtra &extra, bool stale = false,
                           const CorrectionStatus &corrections = {}) {
        return display::FixPanelRows(fix, {display::kSentAll, stale}, extra, sky, QString(),
                                     corrections);
    };
    FixExtra nmea;
    nmea.quality = 4;
    const std::vector<display::FixRow> base = panel(nmea);
    QStringList labels;
    for (const display::FixRow &r : base)
        labels << r.label;
    EXPECT_EQ(labels.join(','), QStringLiteral("Time,Date,Latitude,Longitude,Altitude,Speed,Course,"
                                               "HDOP,PDOP,VDOP,Valid,Fix mode,Quality,"
                                               "Satellites,State"));
    // The rows that differ from the NMEA receiver's, in order.
    const auto changed = [&](const std::vector<display::FixRow> &rows) {
        Rows out;
        for (const display::FixRow &r : rows)
            if (std::none_of(base.begin(), base.end(), [&](const display::FixRow &b) {
                    return b.label == r.label && b.value == r.value;
                }))
                out.emplace_back(r.label, r.value);
        return out;
    };
    struct Row {
        const char *what;
        void (*set)(FixExtra &);
        Rows rows;
        void (*correct)(CorrectionStatus &) = nullptr;
    };

    const Row rows[] = {
        {"NMEA only", [](FixExtra &) {}, {}},
        {"RTK accuracy",
         [](FixExtra &e) { e.hAccM = 0.014f, e.vAccM = 0.021f; },
         {{"Accuracy", "\u00b10.014 m horiz, \u00b10.021 m vert"}}},
        {"metres, horizontal only",
         [](FixExtra &e) { e.hAccM = 12.345f; },
         {{"Accuracy", "\u00b112.35 m horiz"}}},
        {"no fix: thousands of kilometres",
         [](FixExtra &e) { e.hAccM = 4294967.295f, e.vAccM = 3750.4f; },
         {{"Accuracy", "\u00b14295 km horiz, \u00b13750 m vert"}}},
        {"speed accuracy in the speed's unit",
         [](FixExtra &e) { e.speedAccMps = 0.05f; },
         {{"Speed", "12.50 km/h \u00b10.18"}}},
        {"no carrier solution",
         [](FixExtra &e) { e.carrier = kCarrierNone; },
         {{"Carrier", "none"}}},
        {"RTK float", [](FixExtra &e) { e.carrier = kCarrierFloat; }, {{"Carrier", "RTK float"}}},
        {"RTK fixed", [](FixExtra &e) { e.carrier = kCarrierFixed; }, {{"Carrier", "RTK fixed"}}},
        {"integrity, two RF blocks",
         [](FixExtra &e) {
             Integrity &in = e.integrity;
             in.nBlocks = 2;
             in.blocks[0] = {27, 620};
             in.blocks[1] = {-1, 584}; // a compact MON-RF block: no jamming indicator
             in.jamming = kJamWarning, in.spoofing = kSpoofNone;
             in.antenna = kAntOk, in.antPower = 1;
         },
         {{"Jamming", "warning"},
          {"RF L1", "jamming 27/255, AGC 62%"},
          {"RF L2/L5", "AGC 58%"},
          {"Spoofing", "none"},
          {"Antenna", "ok, powered"}}},
        {"a block that sent nothing, a short antenna",
         [](FixExtra &e) {
             e.integrity.nBlocks = 1;
             e.integrity.antenna = kAntShort;
         },
         {{"Antenna", "short"}}},
        {"an open antenna, unpowered",
         [](FixExtra &e) { e.integrity.antenna = kAntOpen, e.integrity.antPower = 0; },
         {{"Antenna", "open, not powered"}}},
        {"spoofing indicated, jamming critical",
         [](FixExtra &e) {
             e.integrity.spoofing = kSpoofIndicated, e.integrity.jamming = kJamCritical;
         },
         {{"Jamming", "critical"}, {"Spoofing", "indicated"}}},
        {"corrections arriving from a base 11 km away, the receiver using them",
         [](FixExtra &e) {
             e.sent = kSentPosition, e.hasPrecise = true, e.preciseLat = 48.1, e.preciseLon = 11.0;
             e.diffAgeS = 1.0f, e.diffStation = 2045;
         },
         {{"Corrections", "MUNICH receiving"},
          {"RTCM", "age 1.2 s, 1234 frames, 0 bad"},
          {"Base", "station 2045, 11.1 km"},
          {"Receiver uses", "age 1.0 s, station 2045"}},
         [](CorrectionStatus &c) {
             c.on = true, c.mount = "MUNICH", c.state = "receiving", c.receiving = true;
             c.bytes = 180000, c.frames = 1234, c.ageS = 1.2, c.station = 2045;
             // The base at 48 N, 11 E on the ellipsoid, 0.1 degree south of the fix.
             c.hasBase = true, c.base = {2045, 4197160.825, 815845.419, 4716876.330};
         }},
        {"refused login",
         [](FixExtra &) {},
         {{"Corrections", "MUNICH wrong user or password"}},
         [](CorrectionStatus &c) {
             c.on = true, c.mount = "MUNICH", c.state = "wrong user or password";
         }},
        {"stalled and not reaching a replay, position going up",
         [](FixExtra &) {},
         {{"Corrections", "MUNICH no corrections for 15 s"},
          {"RTCM", "age 15.4 s, 40 frames, 2 bad"},
          {"Base", "station 2045"},
          {"Forwarding", "not passed to the receiver: a replay takes no commands"},
          {"GGA up", "position sent 3 times"}},
         [](CorrectionStatus &c) {
             c.on = true, c.mount = "MUNICH", c.state = "no corrections for 15 s";
             c.bytes = 6000, c.frames = 40, c.badCrc = 2, c.ageS = 15.4, c.station = 2045;
             c.notForwarded = "a replay takes no commands";
             c.ggaOn = true, c.ggaSent = 3;
         }},
        {"the receiver's own corrections, no client",
         [](FixExtra &e) { e.diffAgeS = 2.0f; },
         {{"Receiver uses", "age 2.0 s"}}},
    };
    // The client's rows tell its own state, which goes on while the receiver is silent.
    const QStringList client{"Corrections", "RTCM", "Base", "Forwarding", "GGA up"};
    for (const Row &r : rows) {
        FixExtra extra = nmea;
        r.set(extra);
        CorrectionStatus corrections;
        if (r.correct != nullptr)
            r.correct(corrections);
        EXPECT_EQ(changed(panel(extra, false, corrections)), r.rows) << r.what;
        // Stale data greys the new rows as every other; the counts are not known then.
        for (const display::FixRow &row : panel(extra, true, corrections)) {
            EXPECT_EQ(row.greyed,
                      row.label != "Valid" && row.label != "State" && !client.contains(row.label))
                << r.what << ": " << row.label.toStdString();
            if (row.label == "Satellites") {
                EXPECT_EQ(row.value, QStringLiteral("-")) << r.what;
            }
        }
    }
}

TEST(TextFields, SplitDegreesWorkedValues) {
    struct Row {
        std::int32_t value;
        int degrees, minutes;
        float seconds;
        int positive;
    };
    const Row rows[] = {
        {25033000, 25, 1, 58.8f, 1},  {121565000, 121, 33, 54.0f, 1},
        {-33500000, 33, 30, 0.0f, 0}, {0, 0, 0, 0.0f, 1},
        {-1, 0, 0, 0.0036f, 0},       {179999999, 179, 59, 59.9964f, 1},
    };
    for (const Row &r : rows) {
        std::uint8_t d = 0, m = 0, p = 0;
        float s = -1;
        display::SplitDegrees(r.value, d, m, s, p);
        EXPECT_EQ(d, r.degrees) << r.value;
        EXPECT_EQ(m, r.minutes) << r.value;
        EXPECT_NEAR(s, r.seconds, 1e-4) << r.value;
        EXPECT_EQ(p, r.positive) << r.value;
    }
}

// Rounding and units: a table of values and formats; then real sentences through the decoder to
// the fix panel, whose texts keep the digits the receiver sent, in each unit.
TEST(FixPanel, RoundingAndUnits) {
    using namespace display;
    using D = DegreeFormat;
    const std::pair<QString, const char *> values[] = {
        {DopText(0.49), "0.49"},
        {DopText(0.495), "0.50"}, // rounded, not cut
        {DopText(1.234), "1.23"},
        {LengthText(1139.6, 1, LengthUnit::Metres), "1139.6 m"},
        {LengthText(1139.6, 1, LengthUnit::Feet), "3738.8 ft"},
        {LengthText(-12.3456, 3, LengthUnit::Metres), "-12.346 m"},
        {LengthText(0.12345, 5, LengthUnit::Metres), "0.123 m"},
        {SpeedText(0.187, SpeedUnit::Kmh), "0.187 km/h"},
        {SpeedText(0.187, SpeedUnit::Mps), "0.052 m/s"},
        {SpeedText(0.187, SpeedUnit::Knots), "0.101 kn"},
        {SpeedText(0.187, SpeedUnit::Mph), "0.116 mph"},
        {SpeedText(1.852, SpeedUnit::Knots), "1.000 kn"},
        {CoordinateText(48.1173, true, D::Decimal), "48.117300000\u00b0"},
        {CoordinateText(-122.626897, false, D::Decimal), "-122.626897000\u00b0"},
        {CoordinateText(48.1173, true, D::DegreesMinutes), "48\u00b0 07.03800' N"},
        {CoordinateText(-122.626897, false, D::DegreesMinutes), "122\u00b0 37.61382' W"},
        {CoordinateText(38.110494, true, D::Dms), "38\u00b0 06' 37.7784\" N"},
        {CoordinateText(-7.5, false, D::Dms), "007\u00b0 30' 00.0000\" W"},
        {CoordinateText(-33.99999999999, true, D::Dms), "34\u00b0 00' 00.0000\" S"},
        {CoordinateText(47.9999999999, true, D::DegreesMinutes), "48\u00b0 00.00000' N"},
        {PositionText(45.0657718, 7.6590617, D::Decimal), "45.065771800\u00b0, 7.659061700\u00b0"},
    };
    for (const auto &[got, want] : values)
        EXPECT_EQ(got, QString::fromUtf8(want));

    using Rows = std::vector<std::pair<QString, QString>>;
    struct Row {
        const char *what;
        std::vector<const char *> sentences;
        UnitChoice units;
        Rows want; // these rows' values; a row named with "" value must be absent
    };
    // One epoch of a u-blox NEO-M9N (ublox-neo-m9n-nmea.log) and a ZED-F9R's GST.
    const std::vector<const char *> m9n = {
        "$GNRMC,223747.00,A,3806.62968,N,12237.61386,W,0.084,,110720,,,D,V*0C",
        "$GNGGA,223747.00,3806.62968,N,12237.61386,W,2,12,0.56,83.0,M,-29.5,M,,0000*4D",
        "$GNGSA,A,3,29,20,18,16,51,13,44,26,,,,,1.04,0.56,0.88,1*02",
        "$GNGST,223747.00,865,2.5,2.4,125,0.98,1.0,3.0*71"};
    const Row rows[] = {
        {"NEO-M9N in metres, km/h, DMS",
         m9n,
         {},
         {{"Latitude", "38\u00b0 06' 37.7808\" N"},
          {"Longitude", "122\u00b0 37' 36.8316\" W"},
          {"Altitude", "83.0 m"},
          {"Ellipsoid height", "53.5 m"},
          {"Speed", "0.156 km/h"},
          {"HDOP", "0.56"},
          {"PDOP", "1.04"},
          {"VDOP", "0.88"},
          {"Error", "lat 0.98 m, lon 1.00 m, alt 3.00 m"}}},
        {"NEO-M9N in feet, knots, decimal degrees",
         m9n,
         {D::Decimal, SpeedUnit::Knots, LengthUnit::Feet},
         {{"Latitude", "38.110494667\u00b0"},
          {"Longitude", "-122.626897667\u00b0"},
          {"Altitude", "272.3 ft"},
          {"Ellipsoid height", "175.5 ft"},
          {"Speed", "0.084 kn"},
          {"Error", "lat 3.22 ft, lon 3.28 ft, alt 9.84 ft"}}},
        {"NEO-M9N in m/s, degrees and minutes",
         m9n,
         {D::DegreesMinutes, SpeedUnit::Mps, LengthUnit::Metres},
         {{"Latitude", "38\u00b0 06.62968' N"},
          {"Longitude", "122\u00b0 37.61386' W"},
          {"Speed", "0.043 m/s"}}},
        {"NEO-M9N in mph",
         m9n,
         {D::Dms, SpeedUnit::Mph, LengthUnit::Metres},
         {{"Speed", "0.097 mph"}}},
        {"ZED-F9R's centimetre errors",
         {"$GNGST,231408.00,32,0.19,0.12,97,0.049,0.078,0.088*43"},
         {},
         {{"Error", "lat 0.049 m, lon 0.078 m, alt 0.088 m"}, {"Ellipsoid height", ""}}},
        {"an empty latitude error",
         {"$GPGST,172814.0,0.006,0.023,0.020,273.6,,0.022,0.031*47"},
         {},
         {{"Error", "lon 0.022 m, alt 0.031 m"}}},
        {"a negative and a garbled error are not read",
         {"$GPGST,172814.0,0.006,0.023,0.020,273.6,-1.5,0.02x,0.031*0A"},
         {},
         {{"Error", "alt 0.031 m"}}},
        {"no GST, no error row", {m9n[0], m9n[1]}, {}, {{"Error", ""}}},
    };
    for (const Row &r : rows) {
        CNmeaDecoder decoder(0);
        for (const char *s : r.sentences) {
            const std::string line = std::string(s) + "\r\n";
            decoder.ParseBuffer(line.data(), static_cast<int>(line.size()));
        }
        GpsFix fix{};
        FixExtra extra{};
        decoder.CopyFix(fix, extra);
        const std::vector<FixRow> panel =
            FixPanelRows(fix, {extra.sent, false}, extra, SkyView{}, QString(), {}, {r.units, {}});
        for (const auto &[label, value] : r.want) {
            const auto it = std::find_if(panel.begin(), panel.end(),
                                         [&](const FixRow &p) { return p.label == label; });
            if (value.isEmpty())
                EXPECT_EQ(it, panel.end()) << r.what << ": " << label.toStdString();
            else if (it == panel.end())
                ADD_FAILURE() << r.what << ": no row " << label.toStdString();
            else
                EXPECT_EQ(it->value, value) << r.what << ": " << label.toStdString();
        }
    }
}

// The fix mode is the receiver's word; an altitude beside a 2D fix is shown apart from the fix,
// decoded from the captures' own sentences.
TEST(FixPanel, AltitudeBesideATwoDimensionalFixIsSetApart) {
    const struct {
        const char *capture;
        const char *mode;
        bool aside;
    } rows[] = {
        {"telit-pls83-w.log", "2D", true}, // GGA gives 250.8 m, every GSA says 2D
        {"bu353s4.log", "3D", false},
    };
    for (const auto &row : rows) {
        std::ifstream in(std::string(SKYWATCH_NMEA_DIR) + "/" + row.capture, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_FALSE(bytes.empty()) << row.capture;
        CNmeaDecoder decoder(0);
        decoder.ParseBuffer(bytes.data(), static_cast<int>(bytes.size()));
        GpsFix fix{};
        FixExtra extra;
        decoder.CopyFix(fix, extra);
        const auto panel =
            display::FixPanelRows(fix, {extra.sent, false}, extra, SkyView{}, QString(), {});
        const auto find = [&](const char *label) {
            return *std::find_if(panel.begin(), panel.end(),
                                 [&](const display::FixRow &r) { return r.label == label; });
        };
        EXPECT_EQ(find("Fix mode").value, QString::fromLatin1(row.mode)) << row.capture;
        const display::FixRow altitude = find("Altitude");
        EXPECT_EQ(altitude.value.contains(QStringLiteral("not in the 2D fix")), row.aside)
            << row.capture << ": " << altitude.value.toStdString();
        EXPECT_EQ(altitude.greyed, row.aside) << row.capture;
        EXPECT_NE(altitude.value, QStringLiteral("-")) << row.capture;
    }
}
