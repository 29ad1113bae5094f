#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

// The baud rates this program offers, slowest first: the window's list, the serial line and the
// simulator all take theirs from here.
namespace platform {

inline constexpr std::array<int, 8> kBaudRates{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
// The window's list shows each rate as its number.
inline constexpr std::array<const char *, kBaudRates.size()> kBaudTexts{
    "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
// The rate NMEA 0183 sets, taken where no entry of the list is chosen.
inline constexpr int kNmeaBaud = 4800;

constexpr bool IsListedBaud(int nBaud) {
    for (int rate : kBaudRates)
        if (rate == nBaud)
            return true;
    return false;
}

// True when the numbers written in text are exactly kBaudRates[first] to kBaudRates[last - 1],
// in order; other characters only separate them. Lets a help text be checked against the list.
constexpr bool NamesBaudRates(std::string_view text, std::size_t first = 0,
                              std::size_t last = kBaudRates.size()) {
    std::size_t next = first;
    long value = -1;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value * 10) + (c - '0');
            if (value > 10000000)
                return false;
        } else if (value >= 0) {
            if (next == last || kBaudRates[next] != value)
                return false;
            ++next;
            value = -1;
        }
    }
    return next == last;
}

namespace detail {
constexpr bool BaudTextsAgree() {
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        const std::string_view text = kBaudTexts[i];
        if (text.find_first_not_of("0123456789") != std::string_view::npos ||
            !NamesBaudRates(text, i, i + 1))
            return false;
    }
    return true;
}
} // namespace detail

static_assert(detail::BaudTextsAgree(), "each text of the list names the rate of its entry");
static_assert(std::ranges::is_sorted(kBaudRates), "slowest first");
static_assert(IsListedBaud(kNmeaBaud));

} // namespace platform
