#include "FileSource.h"

#include "WakeEvent.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace platform {

namespace {

constexpr std::size_t kChunk = 64u << 10;
constexpr std::size_t kSniff = 1u << 20;
// A gap between epochs longer than this (a pause in the recording, a day's wrap) plays at once.
constexpr double kLongestWait = 10.0;
constexpr int kPausedPollMs = 100;
constexpr std::size_t kStepMaxBytes = 16384;

gzFile Gz(void *p) {
    return static_cast<gzFile>(p);
}

int Hex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The length of the UBX frame at p whose checksum holds, else 0.
std::size_t UbxFrameAt(const char *p, std::size_t left) {
    const auto *b = reinterpret_cast<const unsigned char *>(p);
    if (left < 8 || b[0] != 0xB5 || b[1] != 0x62)
        return 0;
    const std::size_t len = 8 + (b[4] | static_cast<std::size_t>(b[5]) << 8);
    if (len > left)
        return 0;
    unsigned a = 0, c = 0;
    for (std::size_t i = 2; i < len - 2; ++i) {
        a = (a + b[i]) & 0xFFu;
        c = (c + a) & 0xFFu;
    }
    return a == b[len - 2] && c == b[len - 1] ? len : 0;
}

// A "$...*hh" sentence or a UBX frame with a good checksum somewhere in the bytes.
bool HoldsNmea(const char *p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) == 0xB5 && UbxFrameAt(p + i, n - i) != 0)
            return true;
        if (p[i] != '$')
            continue;
        unsigned sum = 0;
        for (std::size_t j = i + 1; j < n && j < i + 100; ++j) {
            if (p[j] == '*') {
                if (j + 2 < n && j > i + 6 && Hex(p[j + 1]) >= 0 && Hex(p[j + 2]) >= 0 &&
                    sum == static_cast<unsigned>(Hex(p[j + 1]) * 16 + Hex(p[j + 2])))
                    return true;
                break;
            }
            if (p[j] == '$' || p[j] == '\n')
                break;
            sum ^= static_cast<unsigned char>(p[j]);
        }
    }
    return false;
}

// The uncompressed size a gzip file records in its last four bytes (modulo 4 GiB), or the
// file's own size for a plain file.
std::uint64_t PlaybackSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0)
        return 1;
    unsigned char head[2] = {};
    if (::pread(fd, head, 2, 0) == 2 && head[0] == 0x1f && head[1] == 0x8b && st.st_size >= 18) {
        unsigned char tail[4] = {};
        if (::pread(fd, tail, 4, st.st_size - 4) == 4) {
            const std::uint64_t size =
                tail[0] | tail[1] << 8 | tail[2] << 16 | static_cast<std::uint64_t>(tail[3]) << 24;
            return std::max<std::uint64_t>(size, 1);
        }
    }
    return static_cast<std::uint64_t>(st.st_size);
}

} // namespace

bool IsReplayName(const std::string &name) {
    if (name.rfind("file://", 0) == 0)
        return true;
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReplayPath(const std::string &name) {
    return name.rfind("file://", 0) == 0 ? name.substr(7) : name;
}

std::string ReplayProblem(const std::string &name) {
    const std::string path = ReplayPath(name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return path + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return path + " is a folder, not a regular file";
    if (!S_ISREG(st.st_mode))
        return path + " is not a regular file";
    gzFile gz = ::gzopen(path.c_str(), "rb");
    if (gz == nullptr)
        return path + ": " + std::strerror(errno != 0 ? errno : EIO);
    std::vector<char> head(kSniff);
    const int n = ::gzread(gz, head.data(), static_cast<unsigned>(head.size()));
    ::gzclose(gz);
    if (n <= 0 || !HoldsNmea(head.data(), static_cast<std::size_t>(n)))
        return path + " holds no NMEA or UBX in its first MiB";
    return {};
}

CFileSource::CFileSource(std::string path) : m_path(ReplayPath(path)) {}

CFileSource::~CFileSource() {
    if (m_gz != nullptr)
        ::gzclose(Gz(m_gz));
}

bool CFileSource::Open(std::string &why) {
    why = ReplayProblem(m_path);
    if (!why.empty())
        return false;
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        why = m_path + ": " + std::strerror(errno);
        return false;
    }
    m_total = PlaybackSize(m_fd);
    // zlib owns the descriptor from here and closes it.
    m_gz = ::gzdopen(m_fd, "rb");
    if (m_gz == nullptr) {
        ::close(m_fd);
        m_fd = -1;
        why = m_path + ": cannot be read";
        return false;
    }
    return true;
}

bool CFileSource::Write(const char *, std::size_t, int, std::string &failure) {
    return CanSendCommands(failure);
}

bool CFileSource::CanSendCommands(std::string &why) const {
    why = "a replay takes no commands; restart the receiver that made the recording";
    return false;
}

bool CFileSource::Refill() {
    m_chunk.erase(m_chunk.begin(), m_chunk.begin() + static_cast<std::ptrdiff_t>(m_at));
    m_at = 0;
    if (m_eof)
        return false;
    const std::size_t had = m_chunk.size();
    m_chunk.resize(had + kChunk);
    const int n = ::gzread(Gz(m_gz), m_chunk.data() + had, static_cast<unsigned>(kChunk));
    m_chunk.resize(had + static_cast<std::size_t>(std::max(n, 0)));
    if (n <= 0)
        m_eof = true;
    return n > 0;
}

void CFileSource::DoJump(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    const auto target = static_cast<z_off_t>(fraction * static_cast<double>(m_total));
    m_chunk.clear();
    m_at = 0;
    m_eof = false;
    ::gzclearerr(Gz(m_gz));
    if (::gzseek(Gz(m_gz), target, SEEK_SET) < 0) {
        ::gzrewind(Gz(m_gz));
        m_consumed = 0;
    } else {
        m_consumed = static_cast<std::uint64_t>(target);
    }
    // Start on a whole line; the scanner would drop the cut one anyway.
    if (target > 0) {
        for (;;) {
            if (m_at >= m_chunk.size() && !Refill())
                break;
            const char *lf = static_cast<const char *>(
                std::memchr(m_chunk.data() + m_at, '\n', m_chunk.size() - m_at));
            if (lf != nullptr) {
                const std::size_t skip = static_cast<std::size_t>(lf - m_chunk.data()) + 1 - m_at;
                m_at += skip;
                m_consumed += skip;
                break;
            }
            m_consumed += m_chunk.size() - m_at;
            m_at = m_chunk.size();
        }
    }
    m_epochUtc = -1.0;
    m_bSentenceTimes = false;
    m_ended.store(false);
    m_position.store(std::min(1.0, static_cast<double>(m_consumed) / static_cast<double>(m_total)));
}

double CFileSource::LineTime(const char *s, std::size_t n) {
    // $GPGGA,hhmmss.ss,... and $GPRMC,hhmmss.ss,... carry the epoch's time in field 1.
    if (n < 14 || s[0] != '$' || s[1] == 'P' || s[6] != ',')
        return -1.0;
    const bool timed = std::memcmp(s + 3, "GGA", 3) == 0 || std::memcmp(s + 3, "RMC", 3) == 0 ||
                       std::memcmp(s + 3, "GNS", 3) == 0;
    if (!timed)
        return -1.0;
    const char *t = s + 7;
    for (int i = 0; i < 6; ++i)
        if (t[i] < '0' || t[i] > '9')
            return -1.0;
    double seconds = ((t[0] - '0') * 10 + (t[1] - '0')) * 3600.0 +
                     ((t[2] - '0') * 10 + (t[3] - '0')) * 60.0 + (t[4] - '0') * 10 + (t[5] - '0');
    if (t[6] == '.') {
        double scale = 0.1;
        for (std::size_t i = 7; 7 + i < n && t[i] >= '0' && t[i] <= '9'; ++i, scale /= 10)
            seconds += (t[i] - '0') * scale;
    }
    return seconds;
}

double CFileSource::FrameTime(const char *p, std::size_t left) {
    const std::size_t len = UbxFrameAt(p, left);
    const auto *b = reinterpret_cast<const unsigned char *>(p);
    if (len == 0 || b[2] != 0x01)
        return -1.0;
    // The navigation messages lead with their time of week, after a version and reserved bytes
    // in the high-precision and relative ones.
    const std::size_t at =
        6 + (b[3] == 0x13 || b[3] == 0x14 || b[3] == 0x3B || b[3] == 0x3C ? 4 : 0);
    if (at + 4 > len - 2)
        return -1.0;
    const std::uint32_t iTow = b[at] | static_cast<std::uint32_t>(b[at + 1]) << 8 |
                               static_cast<std::uint32_t>(b[at + 2]) << 16 |
                               static_cast<std::uint32_t>(b[at + 3]) << 24;
    return iTow / 1000.0;
}

SerialRead CFileSource::Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) {
    SerialRead r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool paused = m_paused.load();
    if (const double jump = m_jump.exchange(-1.0); jump >= 0.0) {
        DoJump(jump);
        r.jumped = true;
        m_step = paused && m_jumpWhilePaused.load();
        m_stepEpochs = 0;
        m_stepBytes = 0;
    }
    if (!paused)
        m_step = false;
    const int speed = m_step ? kFastest : m_speed.load();
    if ((paused && !m_step) || (m_ended.load() && m_at >= m_chunk.size())) {
        r.woken = wake.WaitFor(std::chrono::milliseconds(std::min(timeoutMs, kPausedPollMs)));
        return r;
    }
    while (r.count < size) {
        const char *p = m_chunk.data() + m_at;
        const std::size_t left = m_chunk.size() - m_at;
        const char *lf =
            left != 0 ? static_cast<const char *>(std::memchr(p, '\n', left)) : nullptr;
        if (lf == nullptr && !m_eof && left < kChunk) {
            Refill();
            continue;
        }
        if (left == 0) {
            m_ended.store(true);
            break;
        }
        // A piece runs to a line end, or up to the next UBX frame, which may carry a time.
        const char *end = lf != nullptr ? lf + 1 : p + left;
        if (const void *sync = left > 1
                                   ? std::memchr(p + 1, 0xB5, static_cast<std::size_t>(end - p - 1))
                                   : nullptr)
            end = static_cast<const char *>(sync);
        const std::size_t line = static_cast<std::size_t>(end - p);
        // The step runs to the end of the second epoch after the jump (the first may be cut), or
        // through a stretch whose sentences carry no time.
        if (m_step && m_stepBytes >= kStepMaxBytes) {
            m_step = false;
            break;
        }
        if (m_step) {
            double when = LineTime(p, line);
            if (when < 0.0 && !m_bSentenceTimes)
                when = FrameTime(p, left);
            if (when >= 0.0 && when != m_epochUtc) {
                m_epochUtc = when;
                if (++m_stepEpochs == 3) {
                    m_step = false;
                    m_epochUtc = -1.0;
                    break;
                }
            }
        }
        double t = speed == kFastest ? -1.0 : LineTime(p, line);
        if (t >= 0.0)
            m_bSentenceTimes = true;
        else if (speed != kFastest && !m_bSentenceTimes)
            t = FrameTime(p, left);
        if (t >= 0.0 && (m_epochUtc < 0.0 || t != m_epochUtc)) {
            const double gap = t - m_epochUtc;
            const auto now = std::chrono::steady_clock::now();
            if (m_epochUtc >= 0.0 && gap > 0.0 && gap <= kLongestWait) {
                const auto due =
                    m_epochStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       std::chrono::duration<double>(gap / speed));
                if (due > now) {
                    // The epoch so far goes out now; the next one waits for its time.
                    if (r.count > 0)
                        break;
                    if (due > deadline) {
                        r.woken = wake.WaitUntil(deadline);
                        return r;
                    }
                    if (wake.WaitUntil(due)) {
                        r.woken = true;
                        return r;
                    }
                    m_epochStart = due;
                } else {
                    // Behind (a slow reader, a jump): keep the pace from here on.
                    m_epochStart = now - due > std::chrono::seconds(1) ? now : due;
                }
            } else {
                m_epochStart = now;
            }
            m_epochUtc = t;
        }
        const std::size_t n = std::min(line, size - r.count);
        std::memcpy(buf + r.count, p, n);
        r.count += n;
        m_at += n;
        m_stepBytes += n;
        m_consumed += n;
    }
    m_position.store(std::min(1.0, static_cast<double>(m_consumed) / static_cast<double>(m_total)));
    return r;
}

} // namespace platform
