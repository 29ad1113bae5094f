#include "LivePort.h"

#include "PortTable.h"
#include "SourceUrl.h"

#include <cstdio>
#include <cstring>

bool OpenLivePort(CGpsPort &port, const std::string &device, int baud, int nPort) {
    platform::BindPort(nPort, device);
    if (!port.Open(nPort, baud)) {
        if (!port.LastOpenMessage().empty())
            std::fprintf(stderr, "skywatch-decode: %s\n", port.LastOpenMessage().c_str());
        else
            std::fprintf(stderr, "skywatch-decode: cannot open %s: %s\n",
                         port.LastOpenDevice().c_str(), std::strerror(port.LastOpenError()));
        return false;
    }
    // A busy device read through gpsd instead: say so, the record is the same either way.
    if (port.IsNetworkSource() && !platform::LooksLikeUrl(device))
        std::fprintf(stderr, "skywatch-decode: %s\n", port.SourceDescription().c_str());
    return true;
}
