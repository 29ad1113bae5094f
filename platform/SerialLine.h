#pragma once

#include <string>

namespace platform {

// What a device name leads to, found without opening it: some devices act on open (a watchdog
// arms, a board resets), so the check has to come first.
enum class LineKind {
    Missing,   // nothing there, or a dangling link
    NotSerial, // a file, a folder, a FIFO or a character device of another class
    Pty,       // a pseudo-terminal slave
    Serial,    // a serial line of the tty class (on-board UART, USB serial, Bluetooth)
};

struct LineIdentity {
    LineKind kind = LineKind::Missing;
    int error = 0;      // errno for Missing (ENOENT...) and NotSerial (ENOTTY), 0 otherwise
    std::string path;   // the device the name leads to, links resolved
    std::string driver; // a serial line's driver in sysfs ("ftdi_sio", "cdc_acm"), may be empty
    unsigned major = 0;
    unsigned minor = 0;
};

// Resolves name and tells what it is from stat and /sys/dev/char (under sysRoot).
LineIdentity IdentifyLine(const std::string &name, const std::string &sysRoot = "/sys");

// "vvvv:pppp", the USB vendor and product of the device behind a serial line, or "".
std::string UsbId(const LineIdentity &line, const std::string &sysRoot = "/sys");

} // namespace platform
