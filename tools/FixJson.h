#pragma once

#include "FixExtra.h"
#include "GpsFix.h"
#include "Ntrip.h"
#include "NtripClient.h"
#include "ScanCounters.h"
#include "SkyTable.h"

#include <string>

// The record as one line of JSON, with the record's own field names and values as stored.
std::string FixToJson(const GpsFix &fix);
// The same with the satellite table: "sky" (every satellite in view with its "signals"),
// "inView", "used", "signalsTracked", "leftOut" and the counts per system in "systems".
std::string FixToJson(const GpsFix &fix, const SkyView &sky);
// The same with GGA's "quality" ({"value": 0-8, "name": ...}, null before any), the GNS mode and
// what binary messages report: "carrier" ("none", "float", "fixed"; null before any), "accuracy"
// (h_m, v_m, speed_mps, each only once reported), "precise" (the full-precision position; null
// before any) and "integrity" (jamInd and agcPct per RF block, null where not sent; jamming,
// spoofing, antenna and antPower as words, "unknown" until reported). A signal's "quality" word
// is there once the receiver gave one.
std::string FixToJson(const GpsFix &fix, const SkyView &sky, const FixExtra &extra);
// The corrections as a JSON object: the client's mount, state, bytes, frames, badCrc, types,
// age_s, station and base_km (null without a client, or before they are known), and the
// receiver's own rxAge_s and rxStation, kept apart. "" when there is no client and the receiver
// reported neither.
std::string CorrectionsToJson(const CorrectionStatus &status, const GpsFix &fix,
                              const FixExtra &extra);
// One mount point of a caster's source table: mount, identifier, format, formatDetails,
// navSystem, network, country, lat and lon (null without a position), nmea (the caster wants the
// rover's position), authentication and distance_km (null before a sort by distance).
std::string SourceEntryToJson(const platform::ntrip::SourceEntry &entry);
// The scanner's counts, with "protocols": per protocol the frames whose checksum held ("ok") and
// those lost to a fault ("bad").
std::string CountersToJson(const ScanCounters &counters);
