#include "FixJson.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

void Add(std::string &out, const char *name, long value, bool comma = true) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "\"%s\":%ld%s", name, value, comma ? "," : "");
    out += buf;
}

// A number with the given decimals, written alike in every locale.
std::string Num(double v, int decimals) {
    char b[64];
    const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, decimals);
    return std::isfinite(v) && r.ec == std::errc{} ? std::string(b, r.ptr) : "null";
}

// Each RF block's value, null where the receiver did not send it.
template <typename Value> std::string PerBlock(const Integrity &integrity, Value value) {
    std::string out = "[";
    for (std::size_t b = 0; b < integrity.nBlocks && b < Integrity::kMaxBlocks; ++b)
        out += (b > 0 ? "," : "") + value(integrity.blocks[b]);
    return out + "]";
}

std::string IntegrityJson(const Integrity &in) {
    const std::string jamInd = PerBlock(in, [](const Integrity::RfBlock &b) {
        return b.jamInd >= 0 ? std::to_string(b.jamInd) : std::string("null");
    });
    // The AGC as a percent of its range, from tenths of a percent.
    const std::string agcPct = PerBlock(in, [](const Integrity::RfBlock &b) {
        return b.agcPermil >= 0 ? Num(b.agcPermil / 10.0, 1) : std::string("null");
    });
    const char *antPower = in.antPower == 0 ? "off" : in.antPower == 1 ? "on" : "unknown";
    return "{\"jamInd\":" + jamInd + ",\"agcPct\":" + agcPct + ",\"jamming\":\"" +
           JammingWord(in.jamming) + "\",\"spoofing\":\"" + SpoofingWord(in.spoofing) +
           "\",\"antenna\":\"" + AntennaWord(in.antenna) + "\",\"antPower\":\"" + antPower + "\"}";
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
            Add(out, "snr", s.sigs[k].snr, s.sigs[k].quality >= 0);
            if (s.sigs[k].quality >= 0)
                out += "\"quality\":\"" + std::string(SignalQualityWord(s.sigs[k].quality)) + "\"";
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
    out += "\",\"carrier\":";
    out += extra.carrier >= 0 ? "\"" + std::string(CarrierWord(extra.carrier)) + "\"" : "null";
    // Each estimate only where the receiver gave one.
    std::string accuracy;
    for (const auto &[name, value] : {std::pair{"h_m", extra.hAccM}, std::pair{"v_m", extra.vAccM},
                                      std::pair{"speed_mps", extra.speedAccMps}})
        if (value >= 0.0f)
            accuracy += std::string(accuracy.empty() ? "" : ",") + "\"" + name +
                        "\":" + Num(static_cast<double>(value), 3);
    out += ",\"accuracy\":{" + accuracy + "}";
    out += ",\"precise\":";
    if (extra.hasPrecise)
        out += "{\"lat\":" + Num(extra.preciseLat, 9) + ",\"lon\":" + Num(extra.preciseLon, 9) +
               ",\"height_m\":" + Num(extra.preciseHeight, 4) +
               ",\"msl_m\":" + Num(extra.preciseMsl, 4) + "}";
    else
        out += "null";
    return out + ",\"integrity\":" + IntegrityJson(extra.integrity) + "}";
}

std::string CorrectionsToJson(const CorrectionStatus &status, const GpsFix &fix,
                              const FixExtra &extra) {
    if (!status.on && extra.diffAgeS < 0.0f && extra.diffStation < 0)
        return {};
    using nlohmann::json;
    json out = {{"mount", nullptr},  {"state", nullptr},   {"bytes", nullptr},
                {"frames", nullptr}, {"badCrc", nullptr},  {"types", nullptr},
                {"age_s", nullptr},  {"station", nullptr}, {"base_km", nullptr}};
    if (status.on) {
        out["mount"] = status.mount;
        out["state"] = status.state;
        out["bytes"] = status.bytes;
        out["frames"] = status.frames;
        out["badCrc"] = status.badCrc;
        json types = json::object();
        for (const auto &[type, n] : status.types)
            types[std::to_string(type)] = n;
        out["types"] = types;
        if (status.ageS >= 0.0)
            out["age_s"] = std::round(status.ageS * 10.0) / 10.0;
        if (status.station >= 0)
            out["station"] = status.station;
        if (const double km = BaseDistanceKm(status, fix, extra); km >= 0.0)
            out["base_km"] = std::round(km * 1000.0) / 1000.0;
        if (!status.notForwarded.empty())
            out["notForwarded"] = status.notForwarded;
    }
    out["rxAge_s"] =
        extra.diffAgeS >= 0.0f ? json(std::round(extra.diffAgeS * 10.0) / 10.0) : json();
    out["rxStation"] = extra.diffStation >= 0 ? json(extra.diffStation) : json();
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string SourceEntryToJson(const platform::ntrip::SourceEntry &e) {
    using nlohmann::json;
    // A caster's text may be in any encoding: bytes that are not UTF-8 are replaced, not fatal.
    json out = {{"mount", e.mount},
                {"identifier", e.identifier},
                {"format", e.format},
                {"formatDetails", e.formatDetails},
                {"navSystem", e.navSystem},
                {"network", e.network},
                {"country", e.country},
                {"lat", e.hasPosition ? json(e.lat) : json()},
                {"lon", e.hasPosition ? json(e.lon) : json()},
                {"nmea", e.wantsGga},
                {"authentication", e.authentication},
                {"distance_km",
                 e.distanceKm >= 0.0 ? json(std::round(e.distanceKm * 10.0) / 10.0) : json()}};
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
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
    Add(out, "GNS", c.nGns);
    Add(out, "GST", c.nGst);
    Add(out, "ubxSkipped", c.nUbxSkipped);
    // Every frame whose checksum holds, read or not, and every one whose checksum fails.
    const auto protocol = [](const char *name, std::uint32_t ok, std::uint32_t bad) {
        return "\"" + std::string(name) + "\":{\"ok\":" + std::to_string(ok) +
               ",\"bad\":" + std::to_string(bad) + "}";
    };
    out += "\"protocols\":{" + protocol("NMEA", c.NmeaGood(), c.NmeaBad()) + "," +
           protocol("UBX", c.nUbx, c.nUbxBad) + "," + protocol("RTCM3", c.nRtcm, c.nRtcmBad) + "}";
    return out + "}";
}
