#pragma once

#include "BaudList.h"
#include "ControlIds.h"
#include "DialogTemplate.h"

#include <array>

// Dialog template 102: the main window's controls in tab order.
namespace res {

inline constexpr std::uint32_t kStatic =
    dlg::kWsChild | dlg::kWsVisible | dlg::kWsGroup | dlg::kSsLeft;
inline constexpr std::uint32_t kButton =
    dlg::kWsChild | dlg::kWsVisible | dlg::kWsTabStop | dlg::kBsPushButton;
inline constexpr std::uint32_t kCombo = dlg::kWsChild | dlg::kWsVisible | dlg::kWsVScroll |
                                        dlg::kWsTabStop | dlg::kCbsDropDownList |
                                        dlg::kCbsAutoHScroll;

using dlg::Kind;
using dlg::Layout;

inline constexpr std::array<dlg::Item, 37> kStatusDlgItems{{
    {ctl::kToggleView, Kind::Button, ">", 125, 90, 10, 9,
     kButton | dlg::kBsCenter | dlg::kBsVCenter, Layout::Both},
    {ctl::kResetButton, Kind::Button, "Re-set", 90, 75, 45, 13, kButton, Layout::Both},
    {ctl::kPortList, Kind::ComboBox, "", 90, 16, 45, 55, kCombo, Layout::Both},
    {ctl::kBaudList, Kind::ComboBox, "", 90, 38, 45, 95, kCombo, Layout::Both},
    {ctl::kResetList, Kind::ComboBox, "", 90, 60, 45, 50, kCombo, Layout::Both},
    {ctl::kPortStatus, Kind::Static, "COM1 is on", 90, 0, 45, 8, kStatic, Layout::Both},
    {dlg::kNoId, Kind::Static, "COM Port :", 90, 8, 37, 8, kStatic, Layout::Both},
    {dlg::kNoId, Kind::Static, "Date:", 5, 90, 19, 8, kStatic, Layout::Both},
    {dlg::kNoId, Kind::Static, "Time:", 72, 90, 20, 8, kStatic, Layout::Both},
    {ctl::kLongitudeLabel, Kind::Static, "Longitude:", 5, 101, 35, 8, kStatic, Layout::Full},
    {ctl::kLatitudeLabel, Kind::Static, "Latitude:", 5, 109, 30, 8, kStatic, Layout::Full},
    {ctl::kDirectionLabel, Kind::Static, "Direction :", 5, 121, 35, 8, kStatic, Layout::Full},
    {ctl::kHdopLabel, Kind::Static, "HDOP:", 5, 129, 22, 8, kStatic, Layout::Full},
    {ctl::kAltitudeLabel, Kind::Static, "Altitude:", 5, 137, 28, 8, kStatic, Layout::Full},
    {ctl::kSpeedLabel, Kind::Static, "Speed:", 72, 121, 24, 8, kStatic, Layout::Full},
    {ctl::kPdopLabel, Kind::Static, "PDOP:", 72, 129, 22, 8, kStatic, Layout::Full},
    {ctl::kValidity, Kind::Static, "InValid:", 72, 137, 26, 8, kStatic, Layout::Full},
    {ctl::kDate, Kind::Static, "2000/01/01", 25, 90, 45, 8, kStatic, Layout::Both},
    {ctl::kTime, Kind::Static, "12:00:00", 92, 90, 33, 8, kStatic, Layout::Both},
    {ctl::kLongitude, Kind::Static, "000\u00b000'00.00\" E", 42, 101, 80, 8, kStatic, Layout::Full},
    {ctl::kLatitude, Kind::Static, "00\u00b000'00.00\" N", 42, 109, 80, 8, kStatic, Layout::Full},
    {ctl::kCourse, Kind::Static, "359", 42, 121, 28, 8, kStatic, Layout::Full},
    {ctl::kHdop, Kind::Static, "0.0", 42, 129, 28, 8, kStatic, Layout::Full},
    {ctl::kAltitude, Kind::Static, "0000 M", 42, 137, 28, 8, kStatic, Layout::Full},
    {ctl::kSpeed, Kind::Static, "0", 102, 121, 30, 8, kStatic, Layout::Full},
    {ctl::kPdop, Kind::Static, "0.0", 102, 129, 30, 8, kStatic, Layout::Full},
    {ctl::kFixMode, Kind::Static, "No Fix", 102, 137, 30, 8, kStatic, Layout::Full},
    {dlg::kNoId, Kind::Static, "Baud Rate :", 90, 30, 39, 8, kStatic, Layout::Both},
    {dlg::kNoId, Kind::Static, "GPS Reset:", 90, 52, 38, 8, kStatic, Layout::Both},
    {ctl::kCompactLongitudeLabel, Kind::Static, "Lon:", 5, 101, 15, 8, kStatic, Layout::Compact},
    {ctl::kCompactLatitudeLabel, Kind::Static, "Lat:", 5, 109, 14, 8, kStatic, Layout::Compact},
    {ctl::kCompactLongitude, Kind::Static, "000\u00b000'00.00\" E", 22, 101, 58, 8, kStatic,
     Layout::Compact},
    {ctl::kCompactLatitude, Kind::Static, "00\u00b000'00.00\" N", 22, 109, 58, 8, kStatic,
     Layout::Compact},
    {ctl::kCompactValidity, Kind::Static, "InValid:", 82, 109, 26, 8, kStatic, Layout::Compact},
    {ctl::kCompactPdopLabel, Kind::Static, "PDOP:", 82, 101, 22, 8, kStatic, Layout::Compact},
    {ctl::kCompactPdop, Kind::Static, "0.0", 109, 101, 20, 10, kStatic, Layout::Compact},
    {ctl::kCompactFixMode, Kind::Static, "No Fix", 109, 109, 26, 10, kStatic, Layout::Compact},
}};

// A named control that two items shared would be found as only one of them.
constexpr bool IdsAreUnique() {
    for (std::size_t i = 0; i < kStatusDlgItems.size(); ++i)
        for (std::size_t j = i + 1; j < kStatusDlgItems.size(); ++j)
            if (kStatusDlgItems[i].id != dlg::kNoId &&
                kStatusDlgItems[i].id == kStatusDlgItems[j].id)
                return false;
    return true;
}
static_assert(IdsAreUnique());

inline constexpr std::array<const char *, 5> kPortList{"COM1", "COM2", "COM3", "COM4", "Close"};
inline constexpr std::array<const char *, 4> kResetList{"Cold Start", "Warm Start", "Hot Start",
                                                        "Default"};

inline constexpr std::array<dlg::List, 3> kStatusDlgLists{{
    {ctl::kPortList, kPortList},
    {ctl::kBaudList, platform::kBaudTexts},
    {ctl::kResetList, kResetList},
}};

inline constexpr dlg::Template kStatusDlgTemplate{102, "Skywatch",      139,
                                                  150, kStatusDlgItems, kStatusDlgLists};

// Picture 130 and icon 128, compiled in with Qt's resource system.
inline constexpr const char *kGlobePath = ":/res/globe130.png";
inline constexpr const char *kIcon32Path = ":/res/icon128-32.png";
inline constexpr const char *kIcon16Path = ":/res/icon128-16.png";

} // namespace res
