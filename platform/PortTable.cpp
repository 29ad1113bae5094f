#include "PortTable.h"

#include <array>
#include <mutex>

namespace platform {

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 9;

std::mutex g_lock;
std::array<std::string, kLastPort> g_bound; // empty: the default device

bool InRange(int nPort) {
    return nPort >= kFirstPort && nPort <= kLastPort;
}

} // namespace

void BindPort(int nPort, const std::string &devicePath) {
    if (!InRange(nPort))
        return;
    std::lock_guard lock(g_lock);
    g_bound[static_cast<std::size_t>(nPort - 1)] = devicePath;
}

void UnbindAllPorts() {
    std::lock_guard lock(g_lock);
    for (std::string &path : g_bound)
        path.clear();
}

std::string PortDevice(int nPort) {
    if (!InRange(nPort))
        return {};
    std::lock_guard lock(g_lock);
    const std::string &bound = g_bound[static_cast<std::size_t>(nPort - 1)];
    if (!bound.empty())
        return bound;
    // COM1 is the first on-board UART, /dev/ttyS0.
    return "/dev/ttyS" + std::to_string(nPort - 1);
}

} // namespace platform
