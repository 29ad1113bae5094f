#pragma once

#include <cstdint>
#include <span>

// A dialog described as data: the window's caption and size and its controls in tab order,
// with rectangles in dialog units. The builder turns it into Qt widgets.
namespace dlg {

enum class Kind : std::uint8_t { Static, Button, ComboBox };
// Which of the two layouts shows a control; Both for the ones that never hide.
enum class Layout : std::uint8_t { Both, Full, Compact };

// Window styles, with the values the classic dialog resource format gives them.
inline constexpr std::uint32_t kWsChild = 0x40000000;
inline constexpr std::uint32_t kWsVisible = 0x10000000;
inline constexpr std::uint32_t kWsGroup = 0x00020000;
inline constexpr std::uint32_t kWsTabStop = 0x00010000;
inline constexpr std::uint32_t kWsVScroll = 0x00200000;
inline constexpr std::uint32_t kSsLeft = 0x0000;
inline constexpr std::uint32_t kBsPushButton = 0x0000;
inline constexpr std::uint32_t kBsCenter = 0x0300;
inline constexpr std::uint32_t kBsVCenter = 0x0C00;
inline constexpr std::uint32_t kCbsDropDownList = 0x0003;
inline constexpr std::uint32_t kCbsAutoHScroll = 0x0040;

inline constexpr int kNoId = 65535;

struct Item {
    int id;
    Kind kind;
    const char *text; // UTF-8
    int x, y, w, h;   // dialog units; a combo box's h is that of its dropped-down list
    std::uint32_t style;
    Layout layout;
};

struct List {
    int id; // the combo box the entries go to, in this order
    std::span<const char *const> entries;
};

struct Template {
    int id;
    const char *caption;
    int w, h; // dialog units
    std::span<const Item> items;
    std::span<const List> lists;
};

} // namespace dlg
