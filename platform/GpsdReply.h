#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One device as gpsd describes it in DEVICES and DEVICE reports.
struct GpsdDevice {
    std::string path;
    std::string driver;
    int flags = 0; // gpsd's SEEN_ bits: 1 GPS data, 2 RTCM2, 4 RTCM3, 8 AIS
    bool SendsGps() const { return (flags & 1) != 0; }
};

// One line gpsd sent, read as JSON: its class and the members this program uses.
struct GpsdReply {
    enum class Kind { NotJson, Other, Version, Devices, Device, Watch, Error };
    Kind kind = Kind::NotJson;
    std::vector<GpsdDevice> devices; // DEVICES: every listed device; DEVICE: the one
    std::string message;             // ERROR: gpsd's own words
    std::string device;              // a report's (TPV, SKY...) device, the one that sent it
};

// Parses one line of gpsd's (without its line end); NotJson for anything that is not a JSON
// object, Other for an object of a class not listed.
GpsdReply ParseGpsdReply(std::string_view line);

// The first listed device that has sent GPS data, or "" when none has yet.
std::string FirstSendingDevice(const std::vector<GpsdDevice> &devices);

} // namespace platform
