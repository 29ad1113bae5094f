#pragma once

#include "SimConfig.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// The receiver family the simulator plays.
enum class SimFamily { Sirf, Ublox, Mtk, Casic, St };

// A chip maker's voice: the banner its receivers print at power-up and after a restart, and the
// restart commands they obey (NMEA lines, or binary UBX frames for u-blox). Commands of other
// families are ignored, as a real receiver ignores them.
class CSimChip {
public:
    // bRunning: powered up long ago, so no banner until a restart.
    explicit CSimChip(SimFamily family, bool bRunning = false)
        : m_family(family), m_bSilent(bRunning) {}

    // How many times as fast as the wall's its clock runs (--speed): its time to fix is told in
    // its own seconds.
    void SetSpeed(int nSpeed) { m_nSpeed = nSpeed; }

    // UBX output only (u-blox): the banner goes out as UBX-INF-NOTICE messages, not sentences.
    void SetUbxOnly(bool bUbxOnly) { m_bUbxOnly = bUbxOnly; }
    // The u-blox protocol version times 100 that MON-VER and the banner name.
    void SetUbxProtocol(int version) { m_nProtocol = version; }
    // The settings it obeys its family's configuration commands with.
    CSimConfig &Config() { return m_config; }

    // "sirf", "ublox", "mtk", "casic", "st".
    static bool Parse(const std::string &name, SimFamily &family);

    // What goes out ahead of this cycle's sentences: the whole banner at power-up and after a
    // restart, one of its lines in turn on every other cycle.
    std::string NextCycle();

    // Bytes a reader wrote. Returns the reset configuration (4 cold, 2 warm, 1 hot) of every
    // restart command obeyed, and says on stderr what was received or ignored. RTCM 3 frames
    // among them are kept for TakeStations.
    std::vector<int> Feed(const char *data, std::size_t n);

    // The station of every RTCM 3 frame with a good CRC received since the last call (-1 for a
    // message that names none).
    std::vector<int> TakeStations();

    // The answer to a version query of this chip's family received since the last call (bytes
    // to send at the next line boundary), or "".
    std::string TakeAnswer();

    // Says on stderr how long the receiver took to its fix after the last restart it obeyed;
    // bAcquiring is whether this cycle is still without a fix, dSendSeconds how long after now
    // its first fix sentence will have gone out.
    void NoteCycle(bool bAcquiring, double dSendSeconds = 0.0);

private:
    std::vector<std::string> Banner() const;
    void OnLine(const std::string &line, std::vector<int> &restarts);
    void OnFrame(std::vector<int> &restarts);
    // Takes byte b into the RTCM 3 frame being collected; bytes of a false one go back to in.
    void OnRtcmByte(unsigned char b, std::string &in, std::size_t at);
    // True when line is one of the families' version queries; this family's gets its answer.
    bool OnQuery(const std::string &body, const std::string &line);
    void Obey(int nResetCfg, const std::string &what, std::vector<int> &restarts);

    SimFamily m_family;
    CSimConfig m_config{m_family, SimSettings{}};
    int m_nProtocol = 1800;
    bool m_bSilent;
    bool m_bUbxOnly = false;
    int m_nCycle = 0;
    std::string m_line;
    std::string m_frame; // a UBX frame being collected
    std::string m_rtcm;  // an RTCM 3 frame being collected
    std::vector<int> m_stations;
    int m_nLastStation = -1;
    std::string m_answer;
    int m_nSpeed = 1;
    bool m_bTiming = false;
    std::chrono::steady_clock::time_point m_restartAt{};
    const char *m_restartName = "";
};
