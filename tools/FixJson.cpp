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

std::string FixToJson(const GpsFix &fix, const SkyView &sky) {
    std::string out = FixToJson(fix);
    out.pop_back();
    out += ",\"sky\":[";
    for (std::size_t i = 0; i < sky.count; ++i) {
        const SkySat &s = sky.sats[i];
        out += "{\"gnss\":\"" + std::string(GnssName(s.gnss)) + "\",";
        Add(out, "sv", s.sv);
        if (s.hasPosition) {
            Add(out, "el", s.el);
            Add(out, "az", s.az);
        }
        Add(out, "snr", s.snr);
        out += std::string("\"used\":") + (s.used ? "true" : "false") + ",\"signals\":[";
        for (std::size_t k = 0; k < s.nSigs; ++k) {
            out += "{";
            Add(out, "id", s.sigs[k].id);
            out += "\"band\":\"" + std::string(BandName(s.gnss, s.sigs[k].id)) + "\",";
            Add(out, "snr", s.sigs[k].snr, false);
            out += k + 1 < s.nSigs ? "}," : "}";
        }
        out += i + 1 < sky.count ? "]}," : "]}";
    }
    out += "],";
    Add(out, "inView", static_cast<long>(sky.count));
    Add(out, "used", static_cast<long>(sky.used));
    Add(out, "signalsTracked", static_cast<long>(sky.signalsTracked));
    Add(out, "leftOut", static_cast<long>(sky.leftOut));
    out += "\"systems\":{";
    bool first = true;
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        if (sky.inView[g] == 0 && sky.leftOutBy[g] == 0)
            continue;
        out += std::string(first ? "" : ",") + "\"" + GnssName(static_cast<Gnss>(g)) + "\":{";
        Add(out, "inView", static_cast<long>(sky.inView[g]));
        Add(out, "used", static_cast<long>(sky.usedBy[g]));
        Add(out, "signalsTracked", static_cast<long>(sky.tracked[g]));
        Add(out, "leftOut", static_cast<long>(sky.leftOutBy[g]), false);
        out += "}";
        first = false;
    }
    out += "}}";
    return out;
}

std::string FixToJson(const GpsFix &fix, const SkyView &sky, const FixExtra &extra) {
    std::string out = FixToJson(fix, sky);
    out.pop_back();
    out += ",\"quality\":";
    if (extra.quality >= 0)
        out += "{\"value\":" + std::to_string(extra.quality) + ",\"name\":\"" +
               QualityName(extra.quality) + "\"}";
    else
        out += "null";
    // The mode letters are printable ASCII as the scanner let them through; quotes and
    // backslashes cannot be letters of a mode, so they are left out rather than escaped.
    out += ",\"gnsMode\":\"";
    for (const char *c = extra.gnsMode; *c != '\0' && c < extra.gnsMode + sizeof extra.gnsMode;
         ++c) {
        if (*c != '"' && *c != '\\')
            out += *c;
    }
    return out + "\"}";
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
    Add(out, "badByte", c.nBadByte);
    Add(out, "GNS", c.nGns, false);
    return out + "}";
}
