#pragma once

#include <QString>

// What the command line asks of one run of the window.
struct AppOptions {
    QString screenshotPath;      // non-empty: render the window to this PNG and exit
    double screenshotAfter = 3.0; // seconds after start-up
};
