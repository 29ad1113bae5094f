#include "FixPanel.h"

#include "ControlIds.h"

#include <QHash>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace display {

namespace {

const QString kPlusMinus = QStringLiteral("\u00b1");

// An accuracy estimate: millimetres below 10 m, fewer decimals as it grows, whole kilometres
// from 10 km (a receiver without a fix reports thousands of kilometres); in feet when chosen.
QString AccuracyText(float metres, LengthUnit unit) {
    if (metres >= 10000.0f && unit == LengthUnit::Metres)
        return kPlusMinus + QString::number(metres / 1000.0f, 'f', 0) + QStringLiteral(" km");
    const int decimals = metres < 10.0f ? 3 : metres < 100.0f ? 2 : metres < 1000.0f ? 1 : 0;
    return kPlusMinus + LengthText(metres, decimals, unit);
}

// The speed's estimate in the speed field's unit.
QString SpeedAccuracyText(float mps, SpeedUnit unit) {
    const QString text = SpeedText(mps * 3.6, unit); // "0.050 m/s"
    const double value = text.section(QLatin1Char(' '), 0, 0).toDouble();
    return kPlusMinus + QString::number(value, 'f', value < 1.0 ? 2 : value < 10.0 ? 1 : 0);
}

// A finer value of a field, taken only while it agrees with the record's cut one (a sentence
// type the binary messages overrule keeps its last digits).
bool Agrees(double fine, double cut, double step) {
    return std::abs(fine - cut) <= step * 1.01;
}

QString DopRow(std::int16_t tenths, float fine) {
    return Agrees(fine * 10.0, tenths, 1.0) ? DopText(fine)
                                            : Rounded(static_cast<double>(tenths) * 0.1, 1);
}

// The binary messages' precise position, altitude and height, while its position agrees.
bool PreciseAgrees(const GpsFix &fix, const FixExtra &extra) {
    constexpr double kStep = 1e-6; // the record's millionths of a degree
    return extra.hasPrecise && Agrees(extra.preciseLat, fix.lLatitude * 1e-6, kStep) &&
           Agrees(extra.preciseLon, fix.lLongitude * 1e-6, kStep);
}

int RecordAltitude(std::uint16_t stored) {
    return stored >= 64536 ? static_cast<int>(stored) - 65536 : static_cast<int>(stored);
}

// The altitude above mean sea level and, when known, above the ellipsoid.
void AltitudeRows(const GpsFix &fix, const FixExtra &extra, LengthUnit unit, QString &msl,
                  QString &ellipsoid) {
    const int cut = RecordAltitude(fix.wAltitude);
    if (PreciseAgrees(fix, extra) && static_cast<int>(extra.preciseMsl) == cut) {
        msl = LengthText(extra.preciseMsl, 3, unit);
        ellipsoid = LengthText(extra.preciseHeight, 3, unit);
    } else if (extra.altDecimals >= 0 && static_cast<int>(extra.altMslM) == cut) {
        msl = LengthText(extra.altMslM, extra.altDecimals, unit);
        if (extra.sepDecimals >= 0)
            ellipsoid = LengthText(extra.altMslM + extra.geoidSepM,
                                   std::max(extra.altDecimals, extra.sepDecimals), unit);
    } else {
        msl = LengthText(cut, 0, unit);
    }
}

// The band an RF block listens on: u-blox F9 receivers have L1 on the first, L2 or L5 on the
// second.
QString RfBlockLabel(std::size_t block) {
    switch (block) {
    case 0:
        return QStringLiteral("RF L1");
    case 1:
        return QStringLiteral("RF L2/L5");
    default:
        return QStringLiteral("RF block %1").arg(block + 1);
    }
}

void AddIntegrityRows(const Integrity &in, bool g, std::vector<FixRow> &rows) {
    if (in.jamming >= 0)
        rows.push_back(
            {QStringLiteral("Jamming"), QString::fromLatin1(JammingWord(in.jamming)), g});
    for (std::size_t b = 0; b < std::min<std::size_t>(in.nBlocks, Integrity::kMaxBlocks); ++b) {
        const Integrity::RfBlock &rf = in.blocks[b];
        QStringList parts;
        if (rf.jamInd >= 0)
            parts << QStringLiteral("jamming %1/255").arg(rf.jamInd);
        if (rf.agcPermil >= 0)
            parts << QStringLiteral("AGC %1%").arg((rf.agcPermil + 5) / 10);
        if (!parts.isEmpty())
            rows.push_back({RfBlockLabel(b), parts.join(QStringLiteral(", ")), g});
    }
    if (in.spoofing >= 0)
        rows.push_back(
            {QStringLiteral("Spoofing"), QString::fromLatin1(SpoofingWord(in.spoofing)), g});
    QStringList antenna;
    if (in.antenna >= 0)
        antenna << QString::fromLatin1(AntennaWord(in.antenna));
    if (in.antPower >= 0)
        antenna << (in.antPower != 0 ? QStringLiteral("powered") : QStringLiteral("not powered"));
    if (!antenna.isEmpty())
        rows.push_back({QStringLiteral("Antenna"), antenna.join(QStringLiteral(", ")), g});
}

QString SecondsText(double s) {
    return QString::number(s, 'f', s < 100.0 ? 1 : 0) + QStringLiteral(" s");
}

// What answers "why no RTK fix": whether corrections come, reach the receiver, and from how far;
// and, kept apart, whether the receiver says it uses any.
void AddCorrectionRows(const CorrectionStatus &c, const GpsFix &fix, const FixExtra &extra, bool g,
                       std::vector<FixRow> &rows) {
    if (c.on) {
        rows.push_back({QStringLiteral("Corrections"),
                        QStringLiteral("%1 %2").arg(QString::fromStdString(c.mount),
                                                    QString::fromStdString(c.state)),
                        false});
        if (c.bytes > 0 || c.frames > 0 || c.badCrc > 0) {
            QStringList parts;
            if (c.ageS >= 0.0)
                parts << QStringLiteral("age ") + SecondsText(c.ageS);
            parts << QStringLiteral("%1 frames, %2 bad").arg(c.frames).arg(c.badCrc);
            rows.push_back({QStringLiteral("RTCM"), parts.join(QStringLiteral(", ")), false});
        }
        const int station = c.station >= 0 ? c.station : c.hasBase ? c.base.id : -1;
        if (station >= 0 || c.hasBase) {
            QStringList parts;
            if (station >= 0)
                parts << QStringLiteral("station %1").arg(station);
            if (const double km = BaseDistanceKm(c, fix, extra); km >= 0.0)
                parts << QString::number(km, 'f', km < 100.0 ? 1 : 0) + QStringLiteral(" km");
            rows.push_back({QStringLiteral("Base"), parts.join(QStringLiteral(", ")), false});
        }
        if (!c.notForwarded.empty())
            rows.push_back({QStringLiteral("Forwarding"),
                            QStringLiteral("not passed to the receiver: ") +
                                QString::fromStdString(c.notForwarded),
                            false});
        if (c.ggaOn)
            rows.push_back({QStringLiteral("GGA up"),
                            c.ggaSent == 0 ? QStringLiteral("no position sent yet")
                            : c.ggaSent == 1
                                ? QStringLiteral("position sent once")
                                : QStringLiteral("position sent %1 times").arg(c.ggaSent),
                            false});
    }
    QStringList used;
    if (extra.diffAgeS >= 0.0f)
        used << QStringLiteral("age ") + SecondsText(extra.diffAgeS);
    if (extra.diffStation >= 0)
        used << QStringLiteral("station %1").arg(extra.diffStation);
    if (!used.isEmpty())
        rows.push_back({QStringLiteral("Receiver uses"), used.join(QStringLiteral(", ")), g});
}

} // namespace

void PanelPosition(const GpsFix &fix, const FixExtra &extra, double &lat, double &lon) {
    lat = fix.lLatitude * 1e-6;
    lon = fix.lLongitude * 1e-6;
    if (PreciseAgrees(fix, extra)) {
        lat = extra.preciseLat, lon = extra.preciseLon;
    } else if (Agrees(extra.fineLat, lat, 1e-6) && Agrees(extra.fineLon, lon, 1e-6)) {
        lat = extra.fineLat, lon = extra.fineLon;
    }
}

std::vector<FixRow> FixPanelRows(const GpsFix &fix, FixFacts facts, const FixExtra &extra,
                                 const SkyView &sky, const QString &live,
                                 const CorrectionStatus &corrections, const PanelOptions &options) {
    QHash<int, QString> text;
    for (const TextField &f : ChangedTextFields(fix, fix, kViewFull, true, facts, facts))
        text.insert(f.id, f.text);
    const bool g = facts.stale;
    const QString none = QString::fromLatin1(kNotSentText);
    const UnitChoice &units = options.units;
    const auto sent = [&](FixSent bit) { return (facts.sent & bit) != 0; };
    QString time = text.value(ctl::kTime);
    if (sent(kSentTime) && !options.zone.isEmpty())
        time += QLatin1Char(' ') + options.zone;
    QString lat = none, lon = none, altitude = none, ellipsoid, speed = none;
    if (sent(kSentPosition)) {
        double la = 0.0, lo = 0.0;
        PanelPosition(fix, extra, la, lo);
        lat = CoordinateText(la, true, units.degrees);
        lon = CoordinateText(lo, false, units.degrees);
    }
    // A 2D fix holds an altitude fixed beforehand: the receiver did not solve for it.
    const bool heightAside = sent(kSentAltitude) && fix.cFixMode == 2;
    if (sent(kSentAltitude))
        AltitudeRows(fix, extra, units.length, altitude, ellipsoid);
    if (heightAside)
        altitude += QStringLiteral(" (not in the 2D fix)");
    if (sent(kSentSpeed)) {
        const double cut = fix.wSpeed * 0.01;
        speed = Agrees(extra.speedKmh, cut, 0.01) ? SpeedText(extra.speedKmh, units.speed)
                                                  : SpeedText(cut, units.speed, 2);
        if (extra.speedAccMps >= 0.0f)
            speed += QLatin1Char(' ') + SpeedAccuracyText(extra.speedAccMps, units.speed);
    }
    std::vector<FixRow> rows = {
        {QStringLiteral("Time"), time, g},
        {QStringLiteral("Date"), text.value(ctl::kDate), g},
        {QStringLiteral("Latitude"), lat, g},
        {QStringLiteral("Longitude"), lon, g},
        {QStringLiteral("Altitude"), altitude, g || heightAside},
    };
    if (!ellipsoid.isEmpty())
        rows.push_back({QStringLiteral("Ellipsoid height"), ellipsoid, g || heightAside});
    rows.insert(
        rows.end(),
        {
            {QStringLiteral("Speed"), speed, g},
            {QStringLiteral("Course"), text.value(ctl::kCourse), g},
            {QStringLiteral("HDOP"), sent(kSentHdop) ? DopRow(fix.nHdop, extra.hdop) : none, g},
            {QStringLiteral("PDOP"), sent(kSentPdop) ? DopRow(fix.nPdop, extra.pdop) : none, g},
            {QStringLiteral("VDOP"), sent(kSentVdop) ? DopRow(fix.nVdop, extra.vdop) : none, g},
        });
    QStringList accuracy;
    if (extra.hAccM >= 0.0f)
        accuracy << AccuracyText(extra.hAccM, units.length) + QStringLiteral(" horiz");
    if (extra.vAccM >= 0.0f)
        accuracy << AccuracyText(extra.vAccM, units.length) + QStringLiteral(" vert");
    if (!accuracy.isEmpty())
        rows.push_back({QStringLiteral("Accuracy"), accuracy.join(QStringLiteral(", ")), g});
    // GST's 1-sigma errors, each only when sent, with the digits sent (at most millimetres).
    QStringList error;
    const std::pair<const char *, float> errors[] = {
        {"lat", extra.errLatM}, {"lon", extra.errLonM}, {"alt", extra.errAltM}};
    for (const auto &[name, metres] : errors)
        if (metres >= 0.0f)
            error << QString::fromLatin1(name) + QLatin1Char(' ') +
                         LengthText(metres, extra.errDecimals, units.length);
    if (!error.isEmpty())
        rows.push_back({QStringLiteral("Error"), error.join(QStringLiteral(", ")), g});
    rows.insert(rows.end(), {
                                {QStringLiteral("Valid"), text.value(ctl::kValidity), false},
                                {QStringLiteral("Fix mode"), text.value(ctl::kFixMode), g},
                                {QStringLiteral("Quality"),
                                 extra.quality >= 0 && QualityName(extra.quality)[0] != '\0'
                                     ? QString::fromLatin1(QualityName(extra.quality))
                                     : none,
                                 g},
                            });
    // The receiver names its carrier solution, "none" included, only in binary messages.
    if (extra.carrier == kCarrierNone)
        rows.push_back({QStringLiteral("Carrier"), QStringLiteral("none"), g});
    else if (CarrierWord(extra.carrier)[0] != '\0')
        rows.push_back(
            {QStringLiteral("Carrier"), QStringLiteral("RTK ") + CarrierWord(extra.carrier), g});
    AddCorrectionRows(corrections, fix, extra, g, rows);
    // Counts are of data that comes: before it and after it stops they are not known.
    rows.push_back({QStringLiteral("Satellites"),
                    g ? QString::fromLatin1(kNotSentText)
                      : QStringLiteral("%1 used, %2 in view, %3 signals")
                            .arg(sky.used)
                            .arg(sky.count)
                            .arg(sky.signalsTracked),
                    g});
    if (sky.leftOut > 0)
        rows.push_back({QStringLiteral("Left out"),
                        QStringLiteral("%1 satellites did not fit the table").arg(sky.leftOut), g});
    AddIntegrityRows(extra.integrity, g, rows);
    rows.push_back(
        {QStringLiteral("State"), live.isEmpty() ? QStringLiteral("live") : live, false});
    return rows;
}

} // namespace display
