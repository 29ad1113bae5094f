#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

// Debian's str2str as a local NTRIP 1.0 caster with one mount point. Its input is a loopback TCP
// server of ours that feeds it RTCM 3 (looped, paced) and reads what it relays back from the
// caster's clients ("-b 1"): the GGA a rover uploads. Stopped with SIGTERM at the end.
class CStr2Str {
public:
    // The installed str2str, or an empty string.
    static std::string BinaryPath();

    CStr2Str() = default;
    ~CStr2Str();
    CStr2Str(const CStr2Str &) = delete;
    CStr2Str &operator=(const CStr2Str &) = delete;

    struct Options {
        std::string user = "rover", password = "s3cret", mount = "RTCM32";
        // The source table line after "STR;MOUNT;".
        std::string table = "RTCM32;RTCM 3.2;1077(1),1087(1);2;GPS+GLO;TEST;USA;45.00;-122.00;"
                            "0;0;str2str;none;B;N;0;";
        std::string payload; // RTCM 3 fed over and over
        std::size_t bytesPerTick = 1000;
        int tickMs = 100;
    };
    // Starts it, waits until it took our input connection and its caster listens.
    bool Start(Options options);
    void Stop();
    int Port() const { return m_port; }
    const Options &Settings() const { return m_options; }
    // What the caster's clients sent, relayed back to our input server.
    std::string RelayedBack() const;

private:
    void Feed();

    Options m_options;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_listener = -1;
    int m_input = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_feeder;
    mutable std::mutex m_lock;
    std::string m_relayed;
};
