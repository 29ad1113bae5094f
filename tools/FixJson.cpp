#include "FixJson.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

// "name":value, the comma left out after an object's last member.
void Add(CJsonBuffer &out, std::string_view name, long value, bool comma = true) {
    out.Char('"');
    out.Text(name);
    out.Text("\":");
    out.Int(value);
    if (comma)
        out.Char(',');
}

// Each RF block's value, null where the receiver did not send it.
template <typename Value> void PerBlock(CJsonBuffer &out, const Integrity &integrity, Value value) {
    out.Char('[');
    for (std::size_t b = 0; b < integrity.nBlocks && b < Integrity::kMaxBlocks; ++b) {
        if (b > 0)
            out.Char(',');
        value(integrity.blocks[b]);
    }
    out.Char(']');
}

void AppendIntegrity(CJsonBuffer &out, const Integrity &in) {
    out.Text("{\"jamInd\":");
    PerBlock(out, in, [&out](const Integrity::RfBlock &b) {
        if (b.jamInd >= 0)
            out.Int(b.jamInd);
        else
            out.Text("null");
    });
    // The AGC as a percent of its range, from tenths of a percent.
    out.Text(",\"agcPct\":");
    PerBlock(out, in, [&out](const Integrity::RfBlock &b) {
        if (b.agcPermil >= 0)
            out.Fixed(b.agcPermil / 10.0, 1);
        else
            out.Text("null");
    });
    const char *antPower = in.antPower == 0 ? "off" : in.antPower == 1 ? "on" : "unknown";
    out.Text(",\"jamming\":\"");
    out.Text(JammingWord(in.jamming));
    out.Text("\",\"spoofing\":\"");
    out.Text(SpoofingWord(in.spoofing));
    out.Text("\",\"antenna\":\"");
    out.Text(AntennaWord(in.antenna));
    out.Text("\",\"antPower\":\"");
    out.Text(antPower);
    out.Text("\"}");
}

// The record keeps whole metres modulo 65536; below -1000 m is no receiver's altitude.
int RecordAltitude(std::uint16_t stored) {
    return stored >= 64536 ? static_cast<int>(stored) - 65536 : static_cast<int>(stored);
}

void AppendAltitude(CJsonBuffer &out, const GpsFix &fix, const FixExtra &extra) {
    const int cut = RecordAltitude(fix.wAltitude);
    if ((extra.sent & kSentAltitude) == 0)
        out.Text("null");
    else if (extra.altDecimals >= 0 && static_cast<int>(extra.altMslM) == cut)
        out.Fixed(extra.altMslM, extra.altDecimals);
    else
        out.Int(cut);
}

} // namespace

void CJsonBuffer::Fixed(double value, int decimals) {
    Room(400);
    const auto r = std::to_chars(m_buf.data() + m_n, m_buf.data() + m_buf.size(), value,
                                 std::chars_format::fixed, decimals);
    if (std::isfinite(value) && r.ec == std::errc{})
        m_n = static_cast<std::size_t>(r.ptr - m_buf.data());
    else
        Text("null");
}

void AppendSkyJson(CJsonBuffer &out, const SkyView &sky) {
    out.Text(",\"sky\":[");
    for (std::size_t i = 0; i < sky.count; ++i) {
        const SkySat &s = sky.sats[i];
        out.Text("{\"gnss\":\"");
        out.Text(GnssName(s.gnss));
        out.Text("\",");
        Add(out, "sv", s.sv);
        if (s.hasPosition) {
            Add(out, "el", s.el);
            Add(out, "az", s.az);
        }
        Add(out, "snr", s.snr);
        out.Text(s.used ? "\"used\":true,\"signals\":[" : "\"used\":false,\"signals\":[");
        for (std::size_t k = 0; k < s.nSigs; ++k) {
            out.Char('{');
            Add(out, "id", s.sigs[k].id);
            out.Text("\"band\":\"");
            out.Text(BandName(s.gnss, s.sigs[k].id));
            out.Text("\",");
            Add(out, "snr", s.sigs[k].snr, s.sigs[k].quality >= 0);
            if (s.sigs[k].quality >= 0) {
                out.Text("\"quality\":\"");
                out.Text(SignalQualityWord(s.sigs[k].quality));
                out.Char('"');
            }
            out.Text(k + 1 < s.nSigs ? "}," : "}");
        }
        out.Text(i + 1 < sky.count ? "]}," : "]}");
    }
    out.Text("],");
    Add(out, "inView", static_cast<long>(sky.count));
    Add(out, "used", static_cast<long>(sky.used));
    Add(out, "signalsTracked", static_cast<long>(sky.signalsTracked));
    Add(out, "leftOut", static_cast<long>(sky.leftOut));
    out.Text("\"systems\":{");
    bool first = true;
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        if (sky.inView[g] == 0 && sky.leftOutBy[g] == 0)
            continue;
        out.Text(first ? "\"" : ",\"");
        out.Text(GnssName(static_cast<Gnss>(g)));
        out.Text("\":{");
        Add(out, "inView", static_cast<long>(sky.inView[g]));
        Add(out, "used", static_cast<long>(sky.usedBy[g]));
        Add(out, "signalsTracked", static_cast<long>(sky.tracked[g]));
        Add(out, "leftOut", static_cast<long>(sky.leftOutBy[g]), false);
        out.Char('}');
        first = false;
    }
    out.Char('}');
}

void AppendFixJson(CJsonBuffer &out, const GpsFix &fix, const FixExtra &extra,
                   std::string_view table) {
    out.Char('{');
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
    out.Text("\"altitude_m\":");
    AppendAltitude(out, fix, extra);
    out.Char(',');
    Add(out, "cFixMode", fix.cFixMode);
    out.Text("\"cUsedPrn\":[");
    for (int i = 0; i < 12; ++i) {
        out.Int(fix.cUsedPrn[i]);
        if (i < 11)
            out.Char(',');
    }
    out.Text("],");
    Add(out, "nPdop", fix.nPdop);
    Add(out, "nHdop", fix.nHdop);
    Add(out, "nVdop", fix.nVdop);
    out.Text("\"sat\":[");
    for (int i = 0; i < 12; ++i) {
        const SatInfo &s = fix.sat[i];
        out.Char('{');
        Add(out, "bPrn", s.bPrn);
        Add(out, "bElevation", s.bElevation);
        Add(out, "bSnr", s.bSnr);
        Add(out, "nAzimuth", s.nAzimuth, false);
        out.Text(i < 11 ? "}," : "}");
    }
    out.Char(']');
    out.Text(table);
    out.Text(",\"quality\":");
    if (extra.quality >= 0) {
        out.Text("{\"value\":");
        out.Int(extra.quality);
        out.Text(",\"name\":\"");
        out.Text(QualityName(extra.quality));
        out.Text("\"}");
    } else {
        out.Text("null");
    }
    // The mode letters are printable ASCII as the scanner let them through; quotes and
    // backslashes cannot be letters of a mode, so they are left out rather than escaped.
    out.Text(",\"gnsMode\":\"");
    for (const char *c = extra.gnsMode; *c != '\0' && c < extra.gnsMode + sizeof extra.gnsMode;
         ++c) {
        if (*c != '"' && *c != '\\')
            out.Char(*c);
    }
    out.Text("\",\"carrier\":");
    if (extra.carrier >= 0) {
        out.Char('"');
        out.Text(CarrierWord(extra.carrier));
        out.Char('"');
    } else {
        out.Text("null");
    }
    // Each estimate only where the receiver gave one.
    out.Text(",\"accuracy\":{");
    bool first = true;
    for (const auto &[name, value] : {std::pair{"h_m", extra.hAccM}, std::pair{"v_m", extra.vAccM},
                                      std::pair{"speed_mps", extra.speedAccMps}}) {
        if (value < 0.0f)
            continue;
        out.Text(first ? "\"" : ",\"");
        out.Text(name);
        out.Text("\":");
        out.Fixed(static_cast<double>(value), 3);
        first = false;
    }
    out.Text("},\"precise\":");
    if (extra.hasPrecise) {
        out.Text("{\"lat\":");
        out.Fixed(extra.preciseLat, 9);
        out.Text(",\"lon\":");
        out.Fixed(extra.preciseLon, 9);
        out.Text(",\"height_m\":");
        out.Fixed(extra.preciseHeight, 4);
        out.Text(",\"msl_m\":");
        out.Fixed(extra.preciseMsl, 4);
        out.Char('}');
    } else {
        out.Text("null");
    }
    out.Text(",\"integrity\":");
    AppendIntegrity(out, extra.integrity);
    out.Char('}');
}

std::string FixToJson(const GpsFix &fix, const SkyView &sky, const FixExtra &extra) {
    CJsonBuffer table, out;
    AppendSkyJson(table, sky);
    AppendFixJson(out, fix, extra, table.View());
    return std::string(out.View());
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
    CJsonBuffer out;
    out.Char('{');
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
    return std::string(out.View()) + "\"protocols\":{" +
           protocol("NMEA", c.NmeaGood(), c.NmeaBad()) + "," + protocol("UBX", c.nUbx, c.nUbxBad) +
           "," + protocol("RTCM3", c.nRtcm, c.nRtcmBad) + "}}";
}
