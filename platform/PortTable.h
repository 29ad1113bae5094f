#pragma once

#include <string>

namespace platform {

// "COMn" names resolve through this table: entry n (1 to 9) names a device path. Unbound
// entries name /dev/ttyS(n-1). The command line and the tests rebind entries; an empty path
// restores the default. Numbers outside 1 to 9 are ignored.
void BindPort(int nPort, const std::string &devicePath);
void UnbindAllPorts();
// The device path of entry nPort, or an empty string for a number outside 1 to 9.
std::string PortDevice(int nPort);

} // namespace platform
