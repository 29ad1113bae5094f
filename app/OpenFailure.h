#pragma once

#include <QString>

// The secondary text of the "Can't start COM Port" box: the device, the system's reason, and for
// the common reasons what the user can do about it. reason, when given, replaces the system's
// text (a bad address, a host not found); heldByGpsd says gpsd holds the busy device.
QString OpenFailureDetail(int nErrno, const QString &devicePath, const QString &reason = {},
                          bool heldByGpsd = false);
