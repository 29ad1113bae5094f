#pragma once

#include <cstddef>
#include <cstdint>

// Text-to-number conversions of the decoders. They give the C library's atoi and atof results
// for every input, but never depend on the process locale (Qt sets it from the environment, and a
// locale with a decimal comma would misread "4807.038").
namespace nmea {

// One hex digit, either case; -1 for any other character.
constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// atoi: leading white space, an optional sign, then digits; saturates like strtol, then keeps the
// low 32 bits as glibc's atoi does. No digits gives 0.
int AtoISlow(const char *text);
// The same for the n characters at p.
int AtoISlow(const char *p, std::size_t n);

// The fields are nearly always a few plain digits; those are read here, inline, and anything else
// (sign, white space, more than nine digits) goes to AtoISlow.
inline int AtoI(const char *text) {
    int value = 0;
    int n = 0;
    for (; n < 9; ++n) {
        const unsigned digit = static_cast<unsigned char>(text[n]) - unsigned{'0'};
        if (digit > 9)
            break;
        value = value * 10 + static_cast<int>(digit);
    }
    if ((n == 0 && text[0] != '\0') || n == 9)
        return AtoISlow(text);
    return value;
}

// atoi of the n characters at p, read where they lie (a field inside its sentence).
inline int AtoI(const char *p, std::size_t n) {
    int value = 0;
    std::size_t i = 0;
    for (; i < n && i < 9; ++i) {
        const unsigned digit = static_cast<unsigned char>(p[i]) - unsigned{'0'};
        if (digit > 9)
            break;
        value = value * 10 + static_cast<int>(digit);
    }
    // Stopped on a digit limit or a non-digit first character: the rare full way.
    if ((i == 0 && n != 0) || i == 9)
        return AtoISlow(p, n);
    return value;
}

// atof in the "C" locale. An empty text gives 0.0.
double AtoF(const char *text);
// atof of the n characters at p.
double AtoF(const char *p, std::size_t n);

// Truncation toward zero. NaN and values beyond the 64-bit range give 0, where a plain cast would
// be undefined behaviour.
std::int64_t Trunc(double value);

// The piece of text that starts at character from (0-based) and is at most len characters long,
// ending early where the text ends. Writes at most len + 1 bytes into out.
void Piece(const char *text, int from, int len, char *out);

} // namespace nmea
