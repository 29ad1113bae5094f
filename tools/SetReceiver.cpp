#include "SetReceiver.h"

#include "GpsPort.h"
#include "LivePort.h"

#include <cmath>
#include <cstdio>
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
    CGpsPort port;
    if (!OpenLivePort(port, device, baud))
        return 2;
    CReceiverConfigurator configurator(port);
    bool all = true;
    for (const SettingResult &result : configurator.ApplyAll(settings, save)) {
        std::printf("%s\n", SettingResultToJson(result).c_str());
        std::fflush(stdout);
        all = all && result.Confirmed();
    }
    return all ? 0 : 1;
}
