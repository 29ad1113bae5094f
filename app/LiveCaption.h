#pragma once

#include "protocol/ScanCounters.h"

#include <QString>
#include <QStringList>

// What the caption says about the receiver, sampled once a tick.
struct LiveState {
    enum class Port {
        Closed,       // closed by the user
        Open,         // open; nSilentSeconds tells whether data flows
        Reconnecting, // the receiver went away; waiting for it to come back
        NoReceiver,   // nothing opened: failure says why
    };
    Port port = Port::Closed;
    int nSilentSeconds = 0; // whole seconds since the last decoded sentence, or since the open
    QString failure;        // "/dev/ttyS3 not found"
    bool bNetwork = false;  // the source is on the network: it goes away rather than unplugs
    bool bEverData = true;  // a sentence came since the open: a network source was up once
    bool bPty = false;      // a pseudo-terminal: once gone, it never comes back by itself
};

// What the port's state reads in the window while a pseudo-terminal is gone.
inline constexpr const char *kPressResetText = "Press Re-set";

// Seconds of silence after which the window stops calling what it shows live.
constexpr int kSilentAfterSeconds = 3;

// The live state in a few words ("receiver unplugged, waiting", "no data for 5 s"), or empty
// while data flows.
QString LiveText(const LiveState &state);

// True when the window's values are not live: data stopped, or nothing is open.
bool IsNoData(const LiveState &state);

// "Skywatch" while data flows, else "Skywatch - " and one short state. A further state of
// another part (such as the time to the first fix) goes after the live one.
QString LiveCaption(const LiveState &state, const QString &more = {});

// The short form of an open failure for the caption: "/dev/ttyS3 not found".
QString ShortOpenFailure(int nErrno, const QString &device);

// The port tooltip's lines on what came: the sentences, the frames of each protocol that
// appeared ("NMEA 1200 good, 3 bad · UBX 540 good, 0 bad"), and the baud rate hint when bad
// sentences and frames outnumber the good ones.
QStringList StreamCountLines(const ScanCounters &counters);
