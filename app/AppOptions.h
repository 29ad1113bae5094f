#pragma once

#include "TimeRule.h"
#include "ViewMode.h"

#include <QSize>
#include <QString>
#include <QStringList>

// What the command line asks of one run of the window.
struct AppOptions {
    QString screenshotPath;       // non-empty: render the window to this PNG and exit
    double screenshotAfter = 3.0; // seconds after start-up
    double scale = 1.0;           // the window's first size in multiples of 240 x 268
    display::TimeRule time = display::TimeRule::Local;
    LayoutChoice layout = LayoutChoice::Auto; // --layout
    QSize size;                               // --size WxH; invalid: from the scale
    QString noReceiver;         // non-empty: the start-up opens nothing, and the caption says why
    QStringList otherReceivers; // devices found but not opened, for the port status's tooltip
    QString recordPath;         // non-empty: record the received bytes to this file from the start
    bool recordOverwrite = false;
    QString replayFile; // --replay FILE, played by the simulator: no recording may go there
    QString view;       // "scatter" or "history": open that view at start (and screenshot it)
    QString reference;  // --reference LAT,LON[,ALT] for the scatter, as given
    QString ntrip;      // --ntrip URL: corrections from this caster once the port is open
    QString compareA, compareB; // two DEVICEs: the names the comparison window gives them
};
