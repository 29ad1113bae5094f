#include "SimRtk.h"

#include <cstdint>

namespace {

// CRC-24Q: polynomial 0x1864CFB, initial value 0, no reflection.
std::uint32_t Crc24q(const unsigned char *data, std::size_t n) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<std::uint32_t>(data[i]) << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x1000000u)
                crc ^= 0x1864CFBu;
        }
    }
    return crc & 0xFFFFFFu;
}

double Seconds(CSimRtk::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

bool Rtcm3Frame(const unsigned char *frame, std::size_t n, int &nType, int &nStation) {
    nType = nStation = -1;
    if (n < 6 || frame[0] != 0xD3 || (frame[1] & 0xFC) != 0)
        return false;
    const std::size_t length = static_cast<std::size_t>(frame[1] & 0x03) << 8 | frame[2];
    if (n != 6 + length)
        return false;
    const std::uint32_t crc = static_cast<std::uint32_t>(frame[n - 3]) << 16 |
                              static_cast<std::uint32_t>(frame[n - 2]) << 8 | frame[n - 1];
    if (Crc24q(frame, n - 3) != crc)
        return false;
    if (length >= 2)
        nType = frame[3] << 4 | frame[4] >> 4;
    // Observations, station and antenna descriptions, text, MSM and GLONASS biases.
    const bool bNamed = (nType >= 1001 && nType <= 1013) || nType == 1029 || nType == 1033 ||
                        (nType >= 1071 && nType <= 1137) || nType == 1230;
    if (bNamed && length >= 3)
        nStation = (frame[4] & 0x0F) << 8 | frame[5];
    return true;
}

void CSimRtk::OnFrame(int nStation, Clock::time_point now) {
    // The climb to a fixed solution starts over after the corrections were lost.
    if (!m_bHave || Seconds(now - m_last) > kMaxAgeS)
        m_first = now;
    m_bHave = true;
    m_last = now;
    if (nStation >= 0)
        m_nStation = nStation;
}

SimRtkState CSimRtk::At(Clock::time_point now) {
    SimRtkState state;
    if (!m_bHave)
        return state;
    const double age = Seconds(now - m_last);
    if (age > kMaxAgeS) {
        m_bHave = false;
        return state;
    }
    const double since = Seconds(now - m_first);
    if (since < kFloatAfterS)
        return state;
    const bool bFixed = since >= kFloatAfterS + kFixedAfterFloatS;
    state.nQuality = bFixed ? 4 : 5;
    state.nCarrier = bFixed ? 2 : 1;
    // A frame read while the epoch was being built is no older than it.
    state.dAgeS = age < 0.0 ? 0.0 : age;
    state.nStation = m_nStation;
    return state;
}
