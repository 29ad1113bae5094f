#pragma once

#include "GpsFix.h"
#include "NmeaDecoder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace decodetest {

// "$" + body + "*" + the right checksum + line end.
inline std::string Sentence(const std::string &body, const char *eol = "\r\n") {
    unsigned sum = 0;
    for (unsigned char c : body)
        sum ^= c;
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", sum & 0xFFu);
    return "$" + body + "*" + hex + eol;
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

} // namespace decodetest
