#pragma once

#include <QString>

// The secondary text of the "Can't start COM Port" box: the device, the system's reason, and for
// the common reasons what the user can do about it.
QString OpenFailureDetail(int nErrno, const QString &devicePath);
