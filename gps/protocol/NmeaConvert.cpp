#include "protocol/NmeaConvert.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace nmea {
namespace {

// A field copied out with its terminating zero, for the C library's text conversions. No field
// that converts to a number is anywhere near this long.
struct Terminated {
    char c[32];
    Terminated(const char *p, std::size_t n) {
        n = n < sizeof c ? n : sizeof c - 1;
        std::memcpy(c, p, n);
        c[n] = '\0';
    }
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "0x" after a leading zero: strtod reads hexadecimal there, from_chars stops at the "x".
bool IsHexMark(const char *p, std::size_t n) {
    return n >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
}

// strtod in the "C" locale, for the rare texts from_chars reads differently (hex, overflow).
double StrtodC(const char *text) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const int savedErrno = errno;
    const double value = strtod_l(text, nullptr, cLocale);
    errno = savedErrno;
    return value;
}

} // namespace

int AtoISlow(const char *text) {
    const char *p = text;
    while (IsSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    // Accumulate the magnitude, saturating as strtol does for a 64-bit long.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t magnitude = 0;
    // Below kSafe no digit can overflow, so the division is only paid on absurdly long numbers.
    constexpr std::uint64_t kSafe = ((std::uint64_t{1} << 63) - 1 - 9) / 10;
    for (; IsDigit(*p); ++p) {
        const auto digit = static_cast<std::uint64_t>(*p - '0');
        if (magnitude <= kSafe)
            magnitude = magnitude * 10 + digit;
        else
            magnitude = (magnitude > (limit - digit) / 10) ? limit : magnitude * 10 + digit;
    }
    const std::int64_t value =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return static_cast<int>(value); // the low 32 bits, as glibc's atoi
}

int AtoISlow(const char *p, std::size_t n) {
    Terminated text(p, n);
    return AtoISlow(text.c);
}

double AtoF(const char *p, std::size_t n) {
    // Up to 15 digits with a point divide exactly once: the correctly rounded value from_chars
    // would give, without its cost.
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (n != 0 && n <= 16) {
        std::uint64_t mantissa = 0;
        std::size_t digits = 0;
        std::size_t fraction = 0;
        bool point = false;
        std::size_t i = 0;
        for (; i < n; ++i) {
            const unsigned d = static_cast<unsigned char>(p[i]) - unsigned{'0'};
            if (d <= 9) {
                mantissa = mantissa * 10 + d;
                ++digits;
                fraction += point ? 1 : 0;
            } else if (p[i] == '.' && !point) {
                point = true;
            } else {
                break;
            }
        }
        if (i == n && digits != 0 && digits <= 15)
            return static_cast<double>(mantissa) / kPow10[fraction];
    }
    // The usual field, plain digits with a point, is read in place; anything else takes the
    // full way on a terminated copy.
    if (n != 0 && IsDigit(p[0])) {
        double value = 0.0;
        const auto result = std::from_chars(p, p + n, value, std::chars_format::general);
        if (result.ec == std::errc{} && !IsHexMark(p, n))
            return value;
    }
    Terminated text(p, n);
    return AtoF(text.c);
}

double AtoF(const char *text) {
    const char *p = text;
    while (IsSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    if (*p == '+' || *p == '-')
        return 0.0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        return StrtodC(text);
    double value = 0.0;
    const char *end = p + std::strlen(p);
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range)
        return StrtodC(text);
    if (result.ec != std::errc{})
        return 0.0;
    return negative ? -value : value;
}

std::int64_t Trunc(double value) {
    constexpr double kTwo63 = 9223372036854775808.0;
    if (!(value >= -kTwo63 && value < kTwo63))
        return 0;
    return static_cast<std::int64_t>(value);
}

void Piece(const char *text, int from, int len, char *out) {
    int i = 0;
    // Walk to the start without reading past the text's end.
    for (; i < from && text[i] != '\0'; ++i) {
    }
    int n = 0;
    if (i == from) {
        for (; n < len && text[from + n] != '\0'; ++n)
            out[n] = text[from + n];
    }
    out[n] = '\0';
}

} // namespace nmea
