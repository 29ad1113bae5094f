#include "NmeaLine.h"

#include <cstdio>

namespace {

unsigned Xor(const std::string &text, std::size_t from, std::size_t to) {
    unsigned sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum ^= static_cast<unsigned char>(text[i]);
    return sum;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string NmeaLine(const std::string &body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", Xor(body, 0, body.size()));
    return "$" + body + tail;
}

bool NmeaChecksumOk(const std::string &line) {
    std::size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == '\n'))
        --end;
    if (end < 4 || line[0] != '$' || line[end - 3] != '*')
        return false;
    const int hi = HexDigit(line[end - 2]);
    const int lo = HexDigit(line[end - 1]);
    return hi >= 0 && lo >= 0 && static_cast<unsigned>(hi * 16 + lo) == Xor(line, 1, end - 3);
}
