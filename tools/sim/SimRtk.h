#pragma once

#include <chrono>
#include <cstddef>

// Whether frame is a whole RTCM 3 frame (preamble D3, 6 zero bits, 10-bit length, payload,
// CRC-24Q) whose CRC holds. nType is its message number (-1 for an empty frame), nStation the
// reference station in the 12 bits after it for the messages that name one, else -1.
bool Rtcm3Frame(const unsigned char *frame, std::size_t n, int &nType, int &nStation);

// What the rover reports in an epoch: GGA's quality (1 autonomous, 5 RTK float, 4 RTK fixed),
// and while it uses corrections their age and station.
struct SimRtkState {
    int nQuality = 1;
    int nCarrier = 0; // NAV-PVT's carrSoln: 0 none, 1 float, 2 fixed
    double dAgeS = -1.0;
    int nStation = -1; // -1 while no frame named one
    bool Corrected() const { return nCarrier > 0; }
};

// An RTK rover fed with a base station's RTCM 3 frames: float a few seconds after the first,
// fixed 10 s later, back to its own fix once the last frame is older than kMaxAgeS.
class CSimRtk {
public:
    using Clock = std::chrono::system_clock;

    static constexpr double kFloatAfterS = 3.0;
    static constexpr double kFixedAfterFloatS = 10.0;
    static constexpr double kMaxAgeS = 20.0;

    // nStation -1: a frame that names no station (an ephemeris) keeps the one named before.
    void OnFrame(int nStation, Clock::time_point now);
    SimRtkState At(Clock::time_point now);

private:
    bool m_bHave = false;
    Clock::time_point m_first{}, m_last{};
    int m_nStation = -1;
};
