#include "FixJson.h"

#include <cstdio>

namespace {

void Add(std::string &out, const char *name, long value, bool comma = true) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "\"%s\":%ld%s", name, value, comma ? "," : "");
    out += buf;
}

} // namespace

std::string FixToJson(const GpsFix &fix) {
    std::string out = "{";
    Add(out, "bValid", fix.bValid);
    Add(out, "bDay", fix.bDay);
    Add(out, "bMonth", fix.bMonth);
    Add(out, "nYear", fix.nYear);
    Add(out, "bHour", fix.bHour);
    Add(out, "bMinute", fix.bMinute);
    Add(out, "bSecond", fix.bSecond);
    Add(out, "lLatitude", fix.lLatitude);
    Add(out, "lLongitude", fix.lLongitude);
    Add(out, "wSpeed", fix.wSpeed);
    Add(out, "nCourse", fix.nCourse);
    Add(out, "cSatsUsed", fix.cSatsUsed);
    Add(out, "wAltitude", fix.wAltitude);
    Add(out, "cFixMode", fix.cFixMode);
    out += "\"cUsedPrn\":[";
    for (int i = 0; i < 12; ++i)
        out += std::to_string(fix.cUsedPrn[i]) + (i < 11 ? "," : "");
    out += "],";
    Add(out, "nPdop", fix.nPdop);
    Add(out, "nHdop", fix.nHdop);
    Add(out, "nVdop", fix.nVdop);
    out += "\"sat\":[";
    for (int i = 0; i < 12; ++i) {
        const SatInfo &s = fix.sat[i];
        out += "{";
        Add(out, "bPrn", s.bPrn);
        Add(out, "bElevation", s.bElevation);
        Add(out, "bSnr", s.bSnr);
        Add(out, "nAzimuth", s.nAzimuth, false);
        out += i < 11 ? "}," : "}";
    }
    out += "]}";
    return out;
}

std::string CountersToJson(const ScanCounters &c) {
    std::string out = "{";
    Add(out, "GGA", c.nGga);
    Add(out, "GSA", c.nGsa);
    Add(out, "GSV", c.nGsv);
    Add(out, "RMC", c.nRmc);
    Add(out, "badChecksum", c.nBadChecksum);
    Add(out, "cut", c.nCut);
    Add(out, "tooLong", c.nTooLong);
    Add(out, "unknownType", c.nUnknown);
    Add(out, "badByte", c.nBadByte, false);
    return out + "}";
}
