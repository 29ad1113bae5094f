#pragma once

#include "AppOptions.h"

#include <QString>

class QCommandLineParser;

// The options of a session's history: --record FILE, --record-overwrite, --view scatter|history and
// --reference LAT,LON[,ALT].
void AddSessionOptions(QCommandLineParser &parser);
// Takes them into options; the reason they cannot be used, or empty.
QString TakeSessionOptions(const QCommandLineParser &parser, AppOptions &options);
