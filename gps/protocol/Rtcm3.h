#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

// Reading RTCM 3 frames ("D3", 6 zero bits, a 10-bit length, the payload, CRC-24Q) whose CRC the
// scanner has checked: enough to count them per message and to know the base station.
namespace rtcm3 {

// The message number: the payload's first 12 bits; -1 for a frame too short to hold one.
int MessageType(const unsigned char *frame, std::size_t len);

// True for the messages that name their reference station in the 12 bits after the number:
// observations, station and antenna descriptions, MSM, GLONASS biases.
bool NamesStation(int type);
// The reference station a message names (observations, station and antenna messages); -1 for
// the others.
int StationId(const unsigned char *frame, std::size_t len);

// A base station's antenna reference point (1005, and 1006 with the antenna's height).
struct Station {
    int id = -1;                      // 0-4095
    double x = 0.0, y = 0.0, z = 0.0; // ECEF metres
    double heightM = 0.0;             // 1006 only
    bool hasHeight = false;
};
// True for a 1005 or 1006 frame long enough for its fields.
bool ReadStation(const unsigned char *frame, std::size_t len, Station &out);

// What a stream of frames said: frames per message number and the stations heard, with the last
// position a station gave.
struct Tally {
    std::uint32_t frames = 0;
    std::map<int, std::uint32_t> types;
    std::set<int> stations; // every station id a message carried that names one
    int lastStation = -1;
    bool hasBase = false;
    Station base;
    void Add(const unsigned char *frame, std::size_t len);
};

// RTCM 3's CRC-24Q over n bytes.
std::uint32_t Crc24q(const unsigned char *data, std::size_t n);

// Finds the frames in a stream of RTCM 3 cut anywhere (an NTRIP download, what a receiver's port
// is sent): each frame whose CRC holds goes to onFrame in order; one whose CRC fails is counted
// and its bytes searched again from the second; bytes outside frames are skipped and counted.
class CFramer {
public:
    using OnFrame = std::function<void(const unsigned char *frame, std::size_t len)>;
    void Feed(const unsigned char *data, std::size_t n, const OnFrame &onFrame);
    std::uint32_t BadCrc() const { return m_badCrc; }
    std::uint64_t Skipped() const { return m_skipped; }

private:
    std::vector<unsigned char> m_buf;
    std::uint32_t m_badCrc = 0;
    std::uint64_t m_skipped = 0;
};

} // namespace rtcm3
