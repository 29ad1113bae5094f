#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

// A whole number that is the whole text and fits an int: in base 10 with an optional leading
// minus, or in base 16 with an optional "0x" and no sign. No blanks, no "+", nothing after it.
// False on anything else, value then unchanged. Header-only: the simulator links nothing of gps/.
inline bool ParseWholeNumber(std::string_view text, int &value, int base = 10) {
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    // from_chars takes a minus in any base: "0x-5" is no number a receiver writes.
    if (text.empty() || (base != 10 && text[0] == '-'))
        return false;
    int v = 0;
    const char *const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v, base);
    if (ec != std::errc{} || ptr != end)
        return false;
    value = v;
    return true;
}
