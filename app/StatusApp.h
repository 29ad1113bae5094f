#pragma once

#include "AppOptions.h"

// The application: runs the main dialog modally and ends when it ends.
class CStatusApp {
public:
    CStatusApp() = default;

    // Needs a QApplication. With options.screenshotPath set, writes the window to that PNG file
    // after options.screenshotAfter seconds and ends the dialog. Returns the process exit code.
    int Run(const AppOptions &options);
};
