#pragma once

// The main window's controls by name; the numbers are those of dialog template 102.
namespace ctl {

// Settings and buttons, in both layouts.
inline constexpr int kPortStatus = 1000;
inline constexpr int kPortList = 1011;
inline constexpr int kBaudList = 1013;
inline constexpr int kResetButton = 1014;
inline constexpr int kResetList = 1016;
inline constexpr int kToggleView = 1033;

// Values shown in both layouts.
inline constexpr int kDate = 1001;
inline constexpr int kTime = 1002;

// Values of the full layout.
inline constexpr int kLongitude = 1003;
inline constexpr int kLatitude = 1004;
inline constexpr int kCourse = 1005;
inline constexpr int kHdop = 1006;
inline constexpr int kAltitude = 1007;
inline constexpr int kSpeed = 1008;
inline constexpr int kPdop = 1009;
inline constexpr int kFixMode = 1010;
inline constexpr int kValidity = 1017;

// Values of the compact layout.
inline constexpr int kCompactLongitude = 1018;
inline constexpr int kCompactLatitude = 1019;
inline constexpr int kCompactPdop = 1020;
inline constexpr int kCompactFixMode = 1021;
inline constexpr int kCompactValidity = 1032;

// Labels of the full layout.
inline constexpr int kLongitudeLabel = 1022;
inline constexpr int kLatitudeLabel = 1023;
inline constexpr int kDirectionLabel = 1024;
inline constexpr int kHdopLabel = 1025;
inline constexpr int kPdopLabel = 1026;
inline constexpr int kSpeedLabel = 1027;
inline constexpr int kAltitudeLabel = 1028;

// Labels of the compact layout.
inline constexpr int kCompactLongitudeLabel = 1029;
inline constexpr int kCompactLatitudeLabel = 1030;
inline constexpr int kCompactPdopLabel = 1031;

} // namespace ctl
