#include "SerialLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>

namespace platform {

namespace {

namespace fs = std::filesystem;

// Unix98 pseudo-terminal slaves; devpts has no sysfs entry to ask.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
// Virtual consoles (4:0 to 4:63), /dev/tty, /dev/console and /dev/ptmx are of the tty class
// too, but no receiver sits behind them.
constexpr unsigned kConsoleMajor = 4;
constexpr unsigned kFirstUartMinor = 64;
constexpr unsigned kTtyAuxMajor = 5;

std::string LinkName(const fs::path &link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

std::string ReadLine(const fs::path &file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

LineIdentity IdentifyLine(const std::string &name, const std::string &sysRoot) {
    LineIdentity id;
    char resolved[PATH_MAX];
    struct stat st {};
    if (::realpath(name.c_str(), resolved) == nullptr || ::stat(resolved, &st) != 0) {
        id.error = errno == 0 ? ENOENT : errno;
        return id;
    }
    id.path = resolved;
    id.kind = LineKind::NotSerial;
    id.error = ENOTTY;
    if (!S_ISCHR(st.st_mode))
        return id;
    id.major = ::major(st.st_rdev);
    id.minor = ::minor(st.st_rdev);
    if (id.major >= kFirstPtyMajor && id.major <= kLastPtyMajor) {
        id.kind = LineKind::Pty;
        id.error = 0;
        return id;
    }
    if ((id.major == kConsoleMajor && id.minor < kFirstUartMinor) || id.major == kTtyAuxMajor)
        return id;
    const fs::path dev = fs::path(sysRoot) / "dev/char" /
                         (std::to_string(id.major) + ":" + std::to_string(id.minor));
    if (LinkName(dev / "subsystem") != "tty")
        return id;
    id.kind = LineKind::Serial;
    id.error = 0;
    id.driver = LinkName(dev / "device/driver");
    return id;
}

std::string UsbId(const LineIdentity &line, const std::string &sysRoot) {
    if (line.kind != LineKind::Serial)
        return {};
    std::error_code ec;
    fs::path dir = fs::canonical(
        fs::path(sysRoot) / "dev/char" /
            (std::to_string(line.major) + ":" + std::to_string(line.minor)) / "device",
        ec);
    // The line hangs off a USB interface; the vendor and product sit on the device above it.
    for (int up = 0; !ec && up < 4 && !dir.empty(); ++up, dir = dir.parent_path()) {
        const std::string vendor = ReadLine(dir / "idVendor");
        const std::string product = ReadLine(dir / "idProduct");
        if (!vendor.empty() && !product.empty())
            return vendor + ":" + product;
        if (dir == dir.root_path())
            break;
    }
    return {};
}

} // namespace platform
