#pragma once

#include <chrono>
#include <string>

// What the window needs to tell whether what it shows is live.
struct LinkState {
    bool bOpen = false;
    bool bReconnecting = false; // the device went away; waiting for the same receiver
    // The last read that decoded a sentence, or the open when none has yet.
    std::chrono::steady_clock::time_point lastData{};
    bool bData = false; // a sentence was decoded since the open
    int nLastError = 0; // errno of the last failed read or reopen, 0 when none
    std::string device; // the device open now or last, links resolved
};
