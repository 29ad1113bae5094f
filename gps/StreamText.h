#pragma once

#include "StreamTap.h"

#include <string>

// The console's words for a line of the raw stream, in each of its views.
// The line's type, which the console's filter matches: "GPGSV", "UBX-NAV-PVT", "RTCM-1005".
std::string TapType(const TapLine &line);
// One line of text: the sentence itself, a frame by name ("UBX NAV-PVT 92 bytes", "RTCM 1005 25
// bytes"); a command sent is marked ">> ".
std::string TapText(const TapLine &line);
// The bytes in hex, then as ASCII with a dot for each byte that is not printable.
std::string TapHex(const TapLine &line);
// The fields named (GGA, RMC, GSA, GSV, GST, VTG; numbered for other sentences), a UBX frame's
// class, id and payload length, an RTCM 3 frame's type and station.
std::string TapDecoded(const TapLine &line);

// The bytes for a command typed by the user: "$..." is an NMEA sentence, its checksum and line
// end added (one already typed is replaced); otherwise hex bytes "CLASS ID PAYLOAD..." (spaces
// optional) are framed as UBX. False with the reason when the text is neither.
bool BuildCommand(const std::string &typed, std::string &bytes, std::string &why);
