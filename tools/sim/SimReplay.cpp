#include "SimReplay.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

// "$GPRMC,...": the sentence type sits after the two talker letters.
bool IsRmc(const std::string& line) { return line.size() >= 6 && line.compare(3, 3, "RMC") == 0; }

} // namespace

bool CSimReplay::Load(const std::string& path, std::size_t nEpochBytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> lines;
    bool bHasRmc = false;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        bHasRmc = bHasRmc || IsRmc(line);
        lines.push_back(line + "\r\n");
    }
    if (in.bad()) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (lines.empty()) {
        error = path + " holds no NMEA lines";
        return false;
    }
    m_epochs.clear();
    std::string epoch;
    for (const std::string& l : lines) {
        const bool bStart = bHasRmc ? IsRmc(l)
                                    : epoch.size() + l.size() > nEpochBytes;
        if (bStart && !epoch.empty()) {
            m_epochs.push_back(epoch);
            epoch.clear();
        }
        epoch += l;
    }
    m_epochs.push_back(epoch);
    m_next = 0;
    return true;
}

const std::string& CSimReplay::Next()
{
    const std::string& epoch = m_epochs[m_next];
    m_next = (m_next + 1) % m_epochs.size();
    return epoch;
}
