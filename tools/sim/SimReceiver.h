#pragma once

#include "PtyLink.h"
#include "SimOptions.h"
#include "SimReplay.h"
#include "SimSky.h"

#include <atomic>
#include <string>

// The receiver's main loop: sends each cycle paced at the baud rate, reads commands written to
// it, and plays the unplug. Run returns the exit status.
class CSimReceiver {
public:
    explicit CSimReceiver(const SimOptions& options) : m_options(options), m_sky(options.bFast) {}

    int Run(const std::atomic<bool>& stop);

private:
    bool Plug(std::string& error);
    void ReadCommands();
    void HandleLine(const std::string& line);

    const SimOptions& m_options;
    CSimSky m_sky;
    CSimReplay m_replay;
    CPtyLink m_pty;
    std::string m_input;
};
