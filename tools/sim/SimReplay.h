#pragma once

#include <cstddef>
#include <string>

// A recorded NMEA log read as a stream and cut into epochs: an epoch ends before the next RMC
// sentence. A log without RMC is cut into epochs of at most nEpochBytes. Lines starting with "#"
// are skipped and every line ends in CR LF. Memory stays bounded whatever the file holds, so
// a huge log or a device such as /dev/zero cannot exhaust it.
class CSimReplay {
public:
    CSimReplay() = default;
    ~CSimReplay();
    CSimReplay(const CSimReplay &) = delete;
    CSimReplay &operator=(const CSimReplay &) = delete;

    // Opens the log and reads up to its first NMEA line; false with a message when there is none.
    bool Load(const std::string &path, std::size_t nEpochBytes, std::string &error);
    // The next epoch, looping at the end of the log; empty when no line could be read.
    const std::string &Next();

private:
    enum class Got { Line, None, Error };
    // The next NMEA line with CR LF, starting over at the end of the log.
    Got NextLine(std::string &line);

    int m_fd = -1;
    std::size_t m_nEpochBytes = 1;
    bool m_bSawRmc = false;
    bool m_bScanLimit = false; // the last NextLine gave up after kMaxScan bytes
    std::string m_pending;     // a line read ahead that starts the next epoch
    std::string m_epoch;
    char m_buf[16384];
    std::size_t m_nBuf = 0;
    std::size_t m_nPos = 0;
};
