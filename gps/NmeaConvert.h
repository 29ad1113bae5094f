#pragma once

#include <cstdint>

// Text-to-number conversions of the decoders. They give the C library's atoi and atof results
// for every input, but never depend on the process locale (Qt sets it from the environment, and a
// locale with a decimal comma would misread "4807.038").
namespace nmea {

// atoi: leading white space, an optional sign, then digits; saturates like strtol, then keeps the
// low 32 bits as glibc's atoi does. No digits gives 0.
int AtoI(const char* text);

// atof in the "C" locale. An empty text gives 0.0.
double AtoF(const char* text);

// Truncation toward zero. NaN and values beyond the 64-bit range give 0, where a plain cast would
// be undefined behaviour.
std::int64_t Trunc(double value);

// The piece of text that starts at character from (0-based) and is at most len characters long,
// ending early where the text ends. Writes at most len + 1 bytes into out.
void Piece(const char* text, int from, int len, char* out);

} // namespace nmea
