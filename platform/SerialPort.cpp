#include "SerialPort.h"

#include "BaudList.h"
#include "WakeEvent.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

// The termios setting of a rate, B0 for one it has no setting for.
constexpr speed_t SpeedFor(int nBaud) {
    switch (nBaud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

static_assert(std::ranges::none_of(kBaudRates, [](int nBaud) { return SpeedFor(nBaud) == B0; }),
              "every listed rate can be set");

bool IsGoneError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// A pseudo-terminal or USB device keeps exclusive mode after the last close, and everyone but
// root is then refused it, this program included.
void CloseReleased(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

} // namespace

int QuietGapMs(int nBaud) {
    constexpr int kMinGapMs = 20;
    // Ten bits a character (start, eight data, stop), two characters, rounded up.
    const int twoChars = nBaud > 0 ? (2 * 10 * 1000 + nBaud - 1) / nBaud : kMinGapMs;
    return std::max(kMinGapMs, twoChars);
}

bool HoldsLineEnd(const char *p, std::size_t n) {
    return n > 0 && std::memchr(p, '\n', n) != nullptr;
}

CSerialPort::CSerialPort() : m_settings(std::make_unique<termios>()) {}

CSerialPort::~CSerialPort() {
    Close();
}

bool CSerialPort::IsSupportedBaud(int nBaud) {
    return IsListedBaud(nBaud);
}

bool CSerialPort::Open(const std::string &path, int nBaud) {
    Close();
    m_path = path;
    m_nBaud = nBaud;
    m_line = IdentifyLine(path);
    if (m_line.kind != LineKind::Pty && m_line.kind != LineKind::Serial) {
        m_nError = m_line.error;
        return false;
    }
    m_fd = OpenDevice(m_line, m_nError);
    if (m_fd < 0)
        return false;
    m_usbId = UsbId(m_line);
    m_linkStamp = StampOf(path);
    Discard();
    return true;
}

CSerialPort::LinkStamp CSerialPort::StampOf(const std::string &path) {
    LinkStamp stamp;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return stamp;
    stamp.bLink = true;
    stamp.ino = st.st_ino;
    stamp.sec = st.st_ctim.tv_sec;
    stamp.nsec = st.st_ctim.tv_nsec;
    return stamp;
}

void CSerialPort::Close() {
    Release();
    m_path.clear();
    m_nBaud = 0;
    m_line = {};
    m_gonePtys.clear();
    m_linkStamp = {};
}

int CSerialPort::OpenDevice(const LineIdentity &line, int &error) {
    const speed_t speed = SpeedFor(m_nBaud);
    if (!IsListedBaud(m_nBaud)) {
        error = EINVAL;
        return -1;
    }
    // Non-blocking, so that neither a modem line nor a busy driver can hold up the open, and
    // so that a read takes what has arrived; poll() does the waiting.
    const int fd = ::open(line.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    // The name may have been moved to another device since it was looked at.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::major(st.st_rdev) != line.major ||
        ::minor(st.st_rdev) != line.minor) {
        error = ENOTTY;
        ::close(fd);
        return -1;
    }
    termios tio{};
    if (::ioctl(fd, TIOCEXCL) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    if (::tcgetattr(fd, &tio) != 0) {
        error = errno;
        CloseReleased(fd);
        return -1;
    }
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    // CLOCAL: a receiver drives no carrier-detect line. No HUPCL: dropping DTR at close resets
    // some boards.
    tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = errno;
        CloseReleased(fd);
        return -1;
    }
    *m_settings = tio;
    error = 0;
    return fd;
}

SerialRead CSerialPort::Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) {
    using Clock = std::chrono::steady_clock;
    SerialRead r;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto gap = std::chrono::milliseconds(QuietGapMs(m_nBaud));
    if (m_fd < 0) {
        r.error = EBADF;
        return r;
    }
    bool timedOut = false;
    for (;;) {
        // Take everything that has arrived. The terminal layer hands a read at most what it
        // holds, in pieces of 64 bytes at the most; a shorter piece was all there was.
        const std::size_t had = r.count;
        while (r.count < size) {
            const ssize_t got = ::read(m_fd, buf + r.count, size - r.count);
            if (got > 0) {
                r.count += static_cast<std::size_t>(got);
                if (got % 64 != 0)
                    break;
                continue;
            }
            if (got == 0) {
                // A terminal that was hung up reads as end of file.
                r.gone = true;
                return r;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                break;
            r.error = errno;
            r.gone = IsGoneError(r.error);
            return r;
        }
        const bool fresh = r.count > had;
        if (fresh) {
            r.arrived = Clock::now();
            if (had == 0)
                deadline = r.arrived + std::chrono::milliseconds(timeoutMs);
        }
        // A complete line goes at once; a part line once the line has been quiet for a gap.
        if (r.count == size || timedOut || (fresh && HoldsLineEnd(buf + had, r.count - had)) ||
            (r.count > 0 && !fresh))
            return r;
        // Within a line, sleep out the gap and take what came in it: a busy line then costs a
        // wake-up per gap, not one per character and no change of the line's settings.
        if (r.count > 0) {
            if (wake.WaitUntil(std::min(deadline, Clock::now() + gap))) {
                r.woken = true;
                return r;
            }
            timedOut = Clock::now() >= deadline;
            continue;
        }
        // Before the first byte, wake on it.
        const ReadableWait w = WaitReadable(m_fd, wake, deadline);
        if (w.error != 0) {
            r.error = w.error;
            return r;
        }
        if (w.woken) {
            r.woken = true;
            return r;
        }
        if ((w.revents & POLLNVAL) != 0) {
            r.error = EBADF;
            return r;
        }
        const bool hungUp = (w.revents & (POLLHUP | POLLERR)) != 0;
        if (hungUp && (w.revents & POLLIN) == 0) {
            // Nothing left to read from a device that hung up: the read says why, or we do.
            const ssize_t got = ::read(m_fd, buf + r.count, size - r.count);
            if (got > 0) {
                r.count += static_cast<std::size_t>(got);
                r.arrived = Clock::now();
                continue;
            }
            r.error = got < 0 && errno != EAGAIN ? errno : EIO;
            r.gone = true;
            return r;
        }
        timedOut = w.timedOut && Clock::now() >= deadline;
    }
}

std::size_t CSerialPort::Write(const char *data, std::size_t size, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::lock_guard lock(m_writeLock);
    std::size_t done = 0;
    while (m_fd >= 0 && done < size) {
        const ssize_t n = ::write(m_fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            break;
        const int ms = MillisecondsUntil(deadline);
        if (ms <= 0)
            break;
        pollfd p{m_fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            break;
    }
    return done;
}

void CSerialPort::Discard() {
    if (m_fd >= 0)
        ::tcflush(m_fd, TCIOFLUSH);
}

void CSerialPort::Release() {
    std::lock_guard lock(m_writeLock);
    if (m_fd >= 0) {
        CloseReleased(m_fd);
        if (m_line.kind == LineKind::Pty)
            m_gonePtys.push_back(m_line.path);
    }
    m_fd = -1;
}

bool CSerialPort::Reopen() {
    if (m_path.empty())
        return false;
    const LineIdentity line = IdentifyLine(m_path);
    const LinkStamp stamp = StampOf(m_path);
    // A link made anew was pointed at this pty on purpose, whatever number it had before.
    const bool relinked = stamp.bLink && !(stamp == m_linkStamp);
    const bool samePty = line.kind == LineKind::Pty && m_line.kind == LineKind::Pty &&
                         (relinked || std::find(m_gonePtys.begin(), m_gonePtys.end(), line.path) ==
                                          m_gonePtys.end());
    // Behind a USB line the vendor and product must match too: another board on the same
    // bridge chip would get the same driver.
    const bool sameLine = line.kind == LineKind::Serial && m_line.kind == LineKind::Serial &&
                          line.driver == m_line.driver && UsbId(line) == m_usbId;
    if (!samePty && !sameLine) {
        // Another kind of device, or the pseudo-terminal that went away: not our receiver.
        m_nReopenError = line.kind == LineKind::Missing     ? line.error
                         : line.kind == LineKind::NotSerial ? ENOTTY
                                                            : ENODEV;
        return false;
    }
    int error = 0;
    const int fd = OpenDevice(line, error);
    if (fd < 0) {
        m_nReopenError = error;
        return false;
    }
    {
        std::lock_guard lock(m_writeLock);
        if (m_fd >= 0)
            CloseReleased(m_fd);
        m_fd = fd;
        m_line = line;
        m_usbId = UsbId(line);
        m_linkStamp = stamp;
        m_nReopenError = 0;
    }
    Discard();
    return true;
}

} // namespace platform
