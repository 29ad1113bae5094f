#pragma once

#include "GpsPort.h"
#include "receiver/RestartKind.h"

#include <chrono>
#include <string>

// skywatch-decode --compare A B: two live sources read at once under the same sky.
struct CompareOptions {
    std::string a, b; // device paths or source addresses, as --device takes them
    int baud = 4800;
    int seconds = 10; // the run; with --repeat, the longest wait for each fix
    std::string send; // "cold", "warm", "hot" or "" for no restart
    int repeat = 0;   // restarts, each once both held a fix; 0: one restart at the start
};

// The decode tool's own restart and settle steps of --send and --repeat, so a race sends and times
// each receiver as they do.
struct RestartSteps {
    // Sends kind in the receiver's language and starts its stopwatch; 0 once sent.
    int (*send)(CGpsPort &port, RestartKind kind);
    // True once the receiver has held a fix a few seconds, false when it had none by until.
    bool (*settled)(const CGpsPort &port, std::chrono::steady_clock::time_point until);
};

// Reads both sources for the run (restarting both at once when asked) and prints one JSON object:
// per system and band, the median over the satellites both heard of A's mean C/N0 minus B's, their
// number and the satellites only one heard; with a restart, each one's times to fix and their
// median. 0; 1 when no satellite was heard by both or a receiver never got its fix back (the
// object still printed); 2 when a source does not open.
int RunCompare(const CompareOptions &options, const RestartSteps &steps);
