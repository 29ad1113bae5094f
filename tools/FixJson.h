#pragma once

#include "GpsFix.h"
#include "ScanCounters.h"

#include <string>

// The record as one line of JSON, with the record's own field names and values as stored.
std::string FixToJson(const GpsFix& fix);
std::string CountersToJson(const ScanCounters& counters);
