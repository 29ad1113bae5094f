#pragma once

#include "receiver/ReceiverConfigurator.h"

#include <string>
#include <vector>

// One setting's outcome as a JSON line: setting, value, result, detail, and seconds once
// confirmed.
std::string SettingResultToJson(const SettingResult &result);

// skywatch-decode --device DEV --set ... [--save]: opens the device at baud, applies each setting
// in order and saves when asked, one JSON line each. 0 when every one was confirmed, 1 when one
// was not, 2 when the device does not open.
int RunSettings(const std::string &device, int baud, const std::vector<Setting> &settings,
                bool save);
