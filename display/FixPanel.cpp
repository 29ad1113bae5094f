#include "FixPanel.h"

#include "ControlIds.h"

#include <QHash>
#include <QStringList>
#include <algorithm>

namespace display {

namespace {

const QString kPlusMinus = QStringLiteral("\u00b1");

// An accuracy estimate in metres: millimetres below 10 m, fewer decimals as it grows, whole
// kilometres from 10 km (a receiver without a fix reports thousands of kilometres).
QString AccuracyText(float metres) {
    if (metres >= 10000.0f)
        return kPlusMinus + QString::number(metres / 1000.0f, 'f', 0) + QStringLiteral(" km");
    const int decimals = metres < 10.0f ? 3 : metres < 100.0f ? 2 : metres < 1000.0f ? 1 : 0;
    return kPlusMinus + QString::number(metres, 'f', decimals) + QStringLiteral(" m");
}

// The speed's estimate in the speed field's unit, km/h.
QString SpeedAccuracyText(float mps) {
    const float kmh = mps * 3.6f;
    return kPlusMinus + QString::number(kmh, 'f', kmh < 1.0f ? 2 : kmh < 10.0f ? 1 : 0);
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

} // namespace

std::vector<FixRow> FixPanelRows(const GpsFix &fix, FixFacts facts, const FixExtra &extra,
                                 const SkyView &sky, const QString &live) {
    QHash<int, QString> text;
    for (const TextField &f : ChangedTextFields(fix, fix, kViewFull, true, facts, facts))
        text.insert(f.id, f.text);
    const bool g = facts.stale;
    const QString none = QString::fromLatin1(kNotSentText);
    QString speed = text.value(ctl::kSpeed);
    if (extra.speedAccMps >= 0.0f && (facts.sent & kSentSpeed) != 0)
        speed += QLatin1Char(' ') + SpeedAccuracyText(extra.speedAccMps);
    std::vector<FixRow> rows = {
        {QStringLiteral("Time"), text.value(ctl::kTime), g},
        {QStringLiteral("Date"), text.value(ctl::kDate), g},
        {QStringLiteral("Latitude"), text.value(ctl::kLatitude), g},
        {QStringLiteral("Longitude"), text.value(ctl::kLongitude), g},
        {QStringLiteral("Altitude"), text.value(ctl::kAltitude), g},
        {QStringLiteral("Speed"), speed, g},
        {QStringLiteral("Course"), text.value(ctl::kCourse), g},
        {QStringLiteral("HDOP"), text.value(ctl::kHdop), g},
        {QStringLiteral("PDOP"), text.value(ctl::kPdop), g},
        {QStringLiteral("VDOP"),
         (facts.sent & kSentVdop) != 0 ? QString::asprintf("%3.1f", fix.nVdop * 0.1) : none, g},
    };
    QStringList accuracy;
    if (extra.hAccM >= 0.0f)
        accuracy << AccuracyText(extra.hAccM) + QStringLiteral(" horiz");
    if (extra.vAccM >= 0.0f)
        accuracy << AccuracyText(extra.vAccM) + QStringLiteral(" vert");
    if (!accuracy.isEmpty())
        rows.push_back({QStringLiteral("Accuracy"), accuracy.join(QStringLiteral(", ")), g});
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
    rows.push_back({QStringLiteral("Satellites"),
                    QStringLiteral("%1 used, %2 in view, %3 signals")
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
