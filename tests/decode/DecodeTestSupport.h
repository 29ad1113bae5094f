#pragma once

#include "model/GpsFix.h"
#include "model/NmeaDecoder.h"
#include "protocol/UbxMessages.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace decodetest {

// A table row's name as a test name: what is not a letter or a digit becomes '_'.
inline std::string TestName(std::string name) {
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

// "$" + body + "*" + the right checksum + line end.
inline std::string Sentence(const std::string &body, const char *eol = "\r\n") {
    unsigned sum = 0;
    for (unsigned char c : body)
        sum ^= c;
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", sum & 0xFFu);
    return "$" + body + "*" + hex + eol;
}

// Bytes from hex digits, two a byte.
inline std::string FromHex(const char *hex) {
    std::string out;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
        out += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    return out;
}

// A UBX frame around payload: sync, class, id, length, payload, checksum.
inline std::string UbxFrame(std::uint8_t cls, std::uint8_t id, const std::string &payload) {
    const auto n = static_cast<unsigned>(payload.size());
    std::string frame = std::string("\xB5\x62", 2) + static_cast<char>(cls) +
                        static_cast<char>(id) + static_cast<char>(n & 0xFFu) +
                        static_cast<char>(n >> 8) + payload;
    std::uint8_t ckA = 0, ckB = 0;
    ubx::Checksum(reinterpret_cast<const std::uint8_t *>(frame.data()) + 2, frame.size() - 2, ckA,
                  ckB);
    return frame + static_cast<char>(ckA) + static_cast<char>(ckB);
}

inline void Feed(CNmeaDecoder &port, const std::string &bytes) {
    port.ParseBuffer(bytes.data(), static_cast<int>(bytes.size()));
}

inline GpsFix Decode(const std::string &bytes, int nBiasSeconds = 0) {
    CNmeaDecoder port(nBiasSeconds);
    Feed(port, bytes);
    GpsFix fix{};
    port.CopyFix(fix);
    return fix;
}

// What the decoder keeps beside the record after bytes.
inline FixExtra DecodeExtra(const std::string &bytes) {
    CNmeaDecoder port(0);
    Feed(port, bytes);
    GpsFix fix{};
    FixExtra extra;
    port.CopyFix(fix, extra);
    return extra;
}

// Control characters as C escapes, for messages.
inline std::string Escaped(const std::string &s) {
    std::string out;
    for (char c : s)
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

inline bool SameRecord(const GpsFix &a, const GpsFix &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool ReadFile(const std::string &path, std::string &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

// The record, what is kept beside it, the satellite table and the counters, as bytes to compare
// (the table without its times heard).
inline std::string StateOf(const CNmeaDecoder &decoder) {
    GpsFix fix;
    FixExtra extra;
    // Their padding is compared too: cleared first, as assignment leaves it.
    std::memset(static_cast<void *>(&fix), 0, sizeof fix);
    std::memset(static_cast<void *>(&extra), 0, sizeof extra);
    auto sky = std::make_unique<SkyView>();
    decoder.CopyFix(fix, extra);
    decoder.CopySky(*sky);
    const ScanCounters counters = decoder.CopyCounters();
    std::string out(reinterpret_cast<const char *>(&fix), sizeof fix);
    out.append(reinterpret_cast<const char *>(&counters), sizeof counters);
    const auto add = [&out](long v) { out += std::to_string(v) + ","; };
    // The extra field by field: its padding is whatever the copies left there.
    const auto bits = [&out](const auto &v) {
        out.append(reinterpret_cast<const char *>(&v), sizeof v);
    };
    const Integrity &in = extra.integrity;
    for (long v : {long{extra.sent}, long{extra.quality}, long{extra.carrier},
                   long{extra.hasPrecise}, long{in.nBlocks}, long{in.jamming}, long{in.spoofing},
                   long{in.antenna}, long{in.antPower}})
        add(v);
    for (const Integrity::RfBlock &b : in.blocks)
        for (long v : {long{b.jamInd}, long{b.agcPermil}})
            add(v);
    bits(extra.gnsMode);
    for (float v : {extra.hAccM, extra.vAccM, extra.speedAccMps})
        bits(v);
    for (double v : {extra.preciseLat, extra.preciseLon, extra.preciseHeight, extra.preciseMsl})
        bits(v);
    for (std::size_t i = 0; i < sky->count; ++i) {
        const SkySat &s = sky->sats[i];
        for (long v : {long{static_cast<int>(s.gnss)}, long{s.sv}, long{s.el}, long{s.az},
                       long{s.snr}, long{s.used}, long{s.hasPosition}, long{s.nSigs}})
            add(v);
        for (std::size_t k = 0; k < s.nSigs; ++k)
            for (long v : {long{s.sigs[k].id}, long{s.sigs[k].snr}, long{s.sigs[k].quality}})
                add(v);
    }
    for (long v :
         {long(sky->leftOut), long(sky->used), long{sky->pdop}, long{sky->hdop}, long{sky->vdop}})
        add(v);
    return out;
}

} // namespace decodetest
