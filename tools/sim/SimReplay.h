#pragma once

#include <string>
#include <vector>

// A recorded NMEA log cut into epochs: an epoch ends before the next RMC sentence. A log without
// RMC is cut into epochs of at most nEpochBytes. Lines starting with "#" are skipped and every
// line ends in CR LF.
class CSimReplay {
public:
    bool Load(const std::string& path, std::size_t nEpochBytes, std::string& error);
    // The next epoch, looping at the end of the log.
    const std::string& Next();

private:
    std::vector<std::string> m_epochs;
    std::size_t m_next = 0;
};
