#include "SimReplay.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Far above the 82 characters of an NMEA sentence; longer lines are dropped.
constexpr std::size_t kMaxLine = 1024;
// Bytes read in search of one line before giving up, so /dev/zero ends the search.
constexpr std::size_t kMaxScan = 1 << 20;
// An epoch without an RMC to end it is cut here.
constexpr std::size_t kMaxEpoch = 64 * 1024;

// "$GPRMC,...": the sentence type sits after the two talker letters.
bool IsRmc(const std::string &line) {
    return line.size() >= 6 && line.compare(3, 3, "RMC") == 0;
}

} // namespace

CSimReplay::~CSimReplay() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CSimReplay::Load(const std::string &path, std::size_t nEpochBytes, std::string &error) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    m_nEpochBytes = nEpochBytes > 0 ? nEpochBytes : 1;
    m_bSawRmc = false;
    m_nBuf = m_nPos = 0;
    m_pending.clear();
    switch (NextLine(m_pending)) {
    case Got::Line:
        return true;
    case Got::Error:
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    case Got::None:
        break;
    }
    error = path + " holds no NMEA lines" + (m_bScanLimit ? " in its first 1 MiB" : "");
    return false;
}

CSimReplay::Got CSimReplay::NextLine(std::string &line) {
    line.clear();
    bool bTooLong = false;
    bool bRewound = false;
    std::size_t nScanned = 0;
    m_bScanLimit = false;
    for (;;) {
        if (m_nPos == m_nBuf) {
            if (nScanned >= kMaxScan) {
                m_bScanLimit = true;
                return Got::None;
            }
            const ssize_t n = ::read(m_fd, m_buf, sizeof m_buf);
            // A signal ends the wait on a pipe, so the simulator can stop.
            if (n < 0 && errno == EINTR)
                return Got::None;
            if (n < 0)
                return Got::Error;
            m_nBuf = static_cast<std::size_t>(n);
            m_nPos = 0;
            if (n == 0) {
                // The end of the log: a last line without a line feed still counts.
                if (!line.empty() && !bTooLong && line[0] != '#')
                    break;
                line.clear();
                bTooLong = false;
                // A whole pass without a line, or a pipe that cannot start over.
                if (bRewound || ::lseek(m_fd, 0, SEEK_SET) != 0)
                    return Got::None;
                bRewound = true;
            }
            continue;
        }
        const char c = m_buf[m_nPos++];
        ++nScanned;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && !bTooLong && line[0] != '#')
                break;
            line.clear();
            bTooLong = false;
        } else if (line.size() < kMaxLine) {
            line += c;
        } else {
            bTooLong = true;
        }
    }
    while (!line.empty() && line.back() == '\r')
        line.pop_back();
    line += "\r\n";
    return Got::Line;
}

const std::string &CSimReplay::Next() {
    m_epoch.clear();
    std::string line;
    line.swap(m_pending);
    for (;;) {
        if (line.empty() && NextLine(line) != Got::Line)
            break;
        const bool bRmc = IsRmc(line);
        m_bSawRmc = m_bSawRmc || bRmc;
        const bool bStart = m_bSawRmc ? bRmc : m_epoch.size() + line.size() > m_nEpochBytes;
        if (!m_epoch.empty() && (bStart || m_epoch.size() + line.size() > kMaxEpoch)) {
            m_pending.swap(line);
            break;
        }
        m_epoch += line;
        line.clear();
    }
    return m_epoch;
}
