#pragma once

#include "GpsFix.h"
#include "ScanCounters.h"
#include "SkyTable.h"

#include <string>

// The record as one line of JSON, with the record's own field names and values as stored.
std::string FixToJson(const GpsFix &fix);
// The same with the satellite table: "sky" (every satellite in view), "inView", "used" and the
// counts per system in "systems".
std::string FixToJson(const GpsFix &fix, const SkyView &sky);
std::string CountersToJson(const ScanCounters &counters);
