#pragma once

#include "GpsPort.h"

#include <string>

// Opens device (a serial path or a source address) at baud as the window opens its port, bound to
// port number nPort (two receivers read at once need two); false with the reason on standard
// error. A busy device read through gpsd instead is said so.
bool OpenLivePort(CGpsPort &port, const std::string &device, int baud, int nPort = 1);
