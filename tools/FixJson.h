#pragma once

#include "FixExtra.h"
#include "GpsFix.h"
#include "ScanCounters.h"
#include "SkyTable.h"

#include <string>

// The record as one line of JSON, with the record's own field names and values as stored.
std::string FixToJson(const GpsFix &fix);
// The same with the satellite table: "sky" (every satellite in view with its "signals"),
// "inView", "used", "signalsTracked", "leftOut" and the counts per system in "systems".
std::string FixToJson(const GpsFix &fix, const SkyView &sky);
// The same with GGA's "quality" ({"value": 0-8, "name": ...}, null before any) and the GNS mode.
std::string FixToJson(const GpsFix &fix, const SkyView &sky, const FixExtra &extra);
std::string CountersToJson(const ScanCounters &counters);
