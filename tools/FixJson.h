#pragma once

#include "Ntrip.h"
#include "NtripClient.h"
#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "model/SkyTable.h"
#include "protocol/ScanCounters.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// A line of JSON written in place, numbers by std::to_chars, into a buffer kept from one line to
// the next, so a record costs no allocation once the first has been written.
class CJsonBuffer {
public:
    void Clear() { m_n = 0; }
    std::string_view View() const { return {m_buf.data(), m_n}; }
    void Text(std::string_view text) {
        // An empty view may hold no pointer at all, which memcpy must not be given.
        if (text.empty())
            return;
        Room(text.size());
        std::memcpy(m_buf.data() + m_n, text.data(), text.size());
        m_n += text.size();
    }
    void Char(char c) {
        Room(1);
        m_buf[m_n++] = c;
    }
    void Int(long value) {
        Room(24);
        m_n = static_cast<std::size_t>(
            std::to_chars(m_buf.data() + m_n, m_buf.data() + m_buf.size(), value).ptr -
            m_buf.data());
    }
    // A number with the given decimals, written alike in every locale; null when not finite.
    void Fixed(double value, int decimals);
    // The last character written is taken back (a closing brace to write more after it).
    void Unwrite() {
        if (m_n > 0)
            --m_n;
    }

private:
    void Room(std::size_t more) {
        if (m_n + more > m_buf.size())
            m_buf.resize(std::max<std::size_t>(2 * m_buf.size(), m_n + more + 4096));
    }
    std::vector<char> m_buf;
    std::size_t m_n = 0;
};

// The record as one JSON object, with the record's own field names and values as stored, and
// "altitude_m" beside "wAltitude": the altitude in signed metres, to the digits the receiver sent
// (null before any). Then table, the satellite table as AppendSkyJson writes it: "sky" (every
// satellite in view with its "signals"), "inView", "used", "signalsTracked", "leftOut" and the
// counts per system in "systems". Then GGA's "quality" ({"value": 0-8, "name": ...}, null before
// any), the GNS mode and what binary messages report: "carrier" ("none", "float", "fixed"; null
// before any), "accuracy" (h_m, v_m, speed_mps, each only once reported), "precise" (the
// full-precision position; null before any) and "integrity" (jamInd and agcPct per RF block, null
// where not sent; jamming, spoofing, antenna and antPower as words, "unknown" until reported). A
// signal's "quality" word is there once the receiver gave one.
void AppendFixJson(CJsonBuffer &out, const GpsFix &fix, const FixExtra &extra,
                   std::string_view table);
// The table's keys alone, as AppendFixJson writes them, each after a comma.
void AppendSkyJson(CJsonBuffer &out, const SkyView &sky);
// AppendFixJson's object as a string.
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
