#pragma once

#include "Ntrip.h"
#include "WakeEvent.h"
#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "protocol/Rtcm3.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// Where the corrections stand, for the window and the decode tool.
struct CorrectionStatus {
    bool on = false; // a client runs
    std::string url; // masked: the password as "***"
    std::string mount;
    std::string state;           // "connecting", "receiving", or what went wrong, in words
    bool receiving = false;      // frames came within the stall limit
    std::uint64_t bytes = 0;     // correction bytes received (chunking and head taken off)
    std::uint32_t frames = 0;    // RTCM 3 frames whose CRC held
    std::uint32_t badCrc = 0;    // frames dropped for a wrong CRC
    std::uint32_t forwarded = 0; // frames written to the receiver
    std::map<int, std::uint32_t> types;
    double ageS = -1.0;   // since the last good frame; -1 before any
    int station = -1;     // the last station id a frame named
    bool hasBase = false; // 1005/1006 gave the base's position
    rtcm3::Station base;
    std::string notForwarded; // why frames do not reach the receiver, "" when they do
    bool ggaOn = false;       // GGA goes up (asked for by the source table or the user)
    std::uint32_t ggaSent = 0;
    int reconnects = 0;
};

// Kilometres from the base of status to the fix's position; below 0 when either is unknown.
double BaseDistanceKm(const CorrectionStatus &status, const GpsFix &fix, const FixExtra &extra);

// A GGA sentence (with checksum and CRLF) of the fix, for the caster; "" without a valid fix.
std::string ComposeGga(const GpsFix &fix, const FixExtra &extra);

struct NtripOptions {
    platform::ntrip::NtripUrl url;
    bool ggaUpload = false; // send GGA even when the source table does not ask for it
    int ggaIntervalS = 10;
    int stallS = 15; // no frame for this long: "no corrections for N s", and a reconnect
};

// Fetches corrections from an NTRIP caster on a thread of its own and hands each RTCM 3 frame
// whose CRC holds, in order, to the sink (the receiver's port). Reconnects after a failure with
// growing pauses, at most one a minute once it keeps failing.
// The source (platform's CNtripSource) asks NTRIP 2.0 first and 1.0 when the caster answers
// nothing readable, and hands on correction bytes only. A refusal is kept in words (401 "wrong
// user or password", 404 or a source table "no such mount point"); no good frame for the stall
// limit is "no corrections for N s" and a reconnect. GGA goes up every ggaIntervalS once there is
// a fix, when the source table asks for it or the user does. The sink writes under the port's send
// lock, so a command never lands inside a frame; a replay or UDP keeps the frames back and the
// status says why. The receiver's own differential age and station are kept apart, in FixExtra.
class CNtripClient {
public:
    // Writes one frame to the receiver; false with the reason when it could not.
    using FrameSink =
        std::function<bool(const unsigned char *frame, std::size_t n, std::string &why)>;
    // The receiver's fix now, for GGA and the base's distance.
    using FixSource = std::function<void(GpsFix &fix, FixExtra &extra)>;

    CNtripClient(NtripOptions options, FrameSink sink, FixSource fixSource);
    ~CNtripClient();
    CNtripClient(const CNtripClient &) = delete;
    CNtripClient &operator=(const CNtripClient &) = delete;

    void Start();
    // Stops the thread and closes the connection; quick also while connecting.
    void Stop();
    // Any thread.
    CorrectionStatus Status() const;

private:
    struct Session {
        bool answered = false; // the caster gave an answer it could read
        bool refused = false;
        std::uint32_t frames = 0;
    };
    void Run();
    Session RunSession(int version);
    // Asks the source table whether the mount point wants the rover's position; false when
    // stopped meanwhile.
    bool LearnGga();
    bool GgaWanted() const;
    void Deliver(const unsigned char *frame, std::size_t len);
    // The base state, and what went wrong: a connection's failure, a caster's refusal (which
    // stands until a stream is answered).
    void SetState(const std::string &state, const std::string &failure, const std::string &refusal);

    NtripOptions m_options;
    FrameSink m_sink;
    FixSource m_fixSource;
    platform::CWakeEvent m_stop;
    std::thread m_thread;
    mutable std::mutex m_lock;
    CorrectionStatus m_status;
    std::int64_t m_lastFrameMs = -1; // steady clock, under m_lock
    std::int64_t m_startMs = 0;
    std::string m_failure;
    std::string m_refusal;
    rtcm3::Tally m_tally; // under m_lock
};
