#include "SetReceiver.h"

#include "GpsPort.h"
#include "PortTable.h"
#include "SourceUrl.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

std::string SettingResultToJson(const SettingResult &result) {
    nlohmann::ordered_json line;
    line["setting"] = result.setting;
    line["value"] = result.value;
    line["result"] = result.result;
    line["detail"] = result.detail;
    if (result.Confirmed() && result.seconds >= 0.0)
        line["seconds"] = std::round(result.seconds * 100.0) / 100.0;
    return line.dump();
}

int RunSettings(const std::string &device, int baud, const std::vector<Setting> &settings,
                bool save) {
    constexpr int kLivePort = 1;
    platform::BindPort(kLivePort, device);
    CGpsPort port;
    if (!port.Open(kLivePort, baud)) {
        if (!port.LastOpenMessage().empty())
            std::fprintf(stderr, "skywatch-decode: %s\n", port.LastOpenMessage().c_str());
        else
            std::fprintf(stderr, "skywatch-decode: cannot open %s: %s\n",
                         port.LastOpenDevice().c_str(), std::strerror(port.LastOpenError()));
        return 2;
    }
    if (port.IsNetworkSource() && !platform::LooksLikeUrl(device))
        std::fprintf(stderr, "skywatch-decode: %s\n", port.SourceDescription().c_str());
    CReceiverConfigurator configurator(port);
    bool all = true;
    for (const SettingResult &result : configurator.ApplyAll(settings, save)) {
        std::printf("%s\n", SettingResultToJson(result).c_str());
        std::fflush(stdout);
        all = all && result.Confirmed();
    }
    return all ? 0 : 1;
}
