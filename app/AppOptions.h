#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of one run of the window.
struct AppOptions {
    QString screenshotPath;      // non-empty: render the window to this PNG and exit
    double screenshotAfter = 3.0; // seconds after start-up
    QString noReceiver;           // non-empty: the start-up opens nothing, and the caption says why
    QStringList otherReceivers;   // devices found but not opened, for the port status's tooltip
};
