#pragma once

#include "NtripClient.h"
#include "TextFields.h"
#include "Units.h"
#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "model/SkyTable.h"

#include <QString>
#include <vector>

namespace display {

// One line of the desktop layout's fix panel.
struct FixRow {
    QString label;
    QString value;
    bool greyed; // a value of data that stopped coming
};

// The fix panel: the full layout's fields (fix already under the time rule), VDOP, the fix
// quality the receiver gave, satellites used, in view and signals, and the live state (live is
// "" while data flows). What only binary messages tell (accuracy, carrier solution, jamming,
// spoofing, antenna) adds rows once the receiver reported it, so an NMEA receiver's panel keeps
// its rows. Beside the fix quality, the corrections: the client's state, data and base while it
// runs, and apart from them what the receiver says it uses.
// Position, altitude, speed and DOPs at the precision the receiver sent, in the chosen units;
// the time with its zone's name.
struct PanelOptions {
    UnitChoice units;
    QString zone; // "CEST", "UTC"; "" names none
};
std::vector<FixRow> FixPanelRows(const GpsFix &fix, FixFacts facts, const FixExtra &extra,
                                 const SkyView &sky, const QString &live,
                                 const CorrectionStatus &corrections,
                                 const PanelOptions &options = {});

// The position at the precision the receiver sent: the binary messages' precise one, the
// sentence's digits, or the record's millionths, whichever agrees with the record first.
void PanelPosition(const GpsFix &fix, const FixExtra &extra, double &lat, double &lon);

} // namespace display
