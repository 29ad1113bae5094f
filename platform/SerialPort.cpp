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

bool LineModeFits(int nBaud) {
    // The terminal keeps at most 4095 bytes of one line: a second of characters at the rate
    // must fit, or a stream without line ends would lose bytes before the reader sees them.
    return nBaud > 0 && nBaud / 10 <= 2048;
}

// A wait that ended on an error, the wake event or a closed descriptor: r says which.
bool WaitEnded(const ReadableWait &w, SerialRead &r) {
    if (w.error != 0)
        r.error = w.error;
    else if (w.woken)
        r.woken = true;
    else if ((w.revents & POLLNVAL) != 0)
        r.error = EBADF;
    else
        return false;
    return true;
}

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

CSerialPort::CSerialPort()
    : m_lines(std::make_unique<termios>()), m_raw(std::make_unique<termios>()) {}

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
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) {
        error = errno;
        CloseReleased(fd);
        return -1;
    }
    *m_raw = tio;
    // Slow lines are read a line at a time: the terminal layer then wakes the reader once per
    // sentence, where the gap rule wakes it every gap while a line is on its way. No byte is
    // special but the line ends, LF and CR.
    m_bLineMode = LineModeFits(m_nBaud);
    m_bPartLine = false;
    if (m_bLineMode) {
        tio.c_lflag |= ICANON;
        for (const int c : {VEOF, VEOL2, VERASE, VKILL, VWERASE, VREPRINT, VLNEXT, VDISCARD})
            tio.c_cc[c] = _POSIX_VDISABLE;
        tio.c_cc[VEOL] = '\r';
    }
    *m_lines = tio;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = errno;
        CloseReleased(fd);
        return -1;
    }
    error = 0;
    return fd;
}

bool CSerialPort::SetLineMode(bool bLines) {
    if (m_bLineMode == bLines || !LineModeFits(m_nBaud))
        return true;
    if (::tcsetattr(m_fd, TCSANOW, bLines ? m_lines.get() : m_raw.get()) != 0)
        return false;
    m_bLineMode = bLines;
    return true;
}

SerialRead CSerialPort::Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) {
    SerialRead r;
    if (m_fd < 0) {
        r.error = EBADF;
        return r;
    }
    if (!m_bLineMode)
        return ReadGaps(buf, size, Clock::now() + std::chrono::milliseconds(timeoutMs), wake);
    // A part line known to be on its way is not quiet: only its end, or a whole wait, ends the
    // wait for it.
    const int waitMs = m_bPartLine ? std::max(timeoutMs, kPartLineWaitMs) : timeoutMs;
    if (ReadLines(buf, size, Clock::now() + std::chrono::milliseconds(waitMs), wake, r)) {
        m_bPartLine = false;
        return r;
    }
    // Nothing whole came: whether the line is quiet or a part line waits, only its bytes say.
    return TakePartLine(buf, size);
}

SerialRead CSerialPort::TakePartLine(char *buf, std::size_t size) {
    SerialRead r;
    if (!SetLineMode(false)) {
        r.error = errno;
        r.gone = IsGoneError(r.error);
        return r;
    }
    while (r.count < size) {
        const ssize_t got = ::read(m_fd, buf + r.count, size - r.count);
        if (got > 0) {
            r.count += static_cast<std::size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN) {
            r.error = errno;
            r.gone = IsGoneError(r.error);
        }
        break;
    }
    if (r.count > 0) {
        r.arrived = Clock::now();
        const char last = buf[r.count - 1];
        m_bPartLine = last != '\n' && last != '\r';
    }
    if (r.error == 0 && !SetLineMode(true)) {
        r.error = errno;
        r.gone = IsGoneError(r.error);
    }
    return r;
}

bool CSerialPort::ReadLines(char *buf, std::size_t size, Clock::time_point deadline,
                            const CWakeEvent &wake, SerialRead &r) {
    for (;;) {
        const ReadableWait w = WaitReadable(m_fd, wake, deadline);
        if (WaitEnded(w, r))
            return true;
        // Every line that is in: one read gives one line.
        while ((w.revents & (POLLIN | POLLHUP | POLLERR)) != 0 && r.count < size) {
            const ssize_t got = ::read(m_fd, buf + r.count, size - r.count);
            if (got > 0) {
                r.count += static_cast<std::size_t>(got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && errno == EAGAIN && (w.revents & POLLIN) != 0)
                break;
            // A terminal that was hung up reads as end of file, or fails; one that says it hung
            // up and has nothing to read is gone too.
            const bool hungUp = (w.revents & POLLIN) == 0;
            r.error = got < 0 && errno != EAGAIN ? errno : hungUp ? EIO : 0;
            r.gone = got == 0 || hungUp || IsGoneError(r.error);
            // The part line the hang-up cut short is read as bytes, as it would be by the gap.
            if (r.gone && SetLineMode(false)) {
                const ssize_t rest = ::read(m_fd, buf + r.count, size - r.count);
                if (rest > 0)
                    r.count += static_cast<std::size_t>(rest);
            }
            if (r.count > 0)
                r.arrived = Clock::now();
            return true;
        }
        if (r.count > 0) {
            r.arrived = Clock::now();
            return true;
        }
        if (w.timedOut && Clock::now() >= deadline)
            return false;
    }
}

SerialRead CSerialPort::ReadGaps(char *buf, std::size_t size, Clock::time_point deadline,
                                 const CWakeEvent &wake) {
    SerialRead r;
    bool timedOut = false;
    const auto gap = std::chrono::milliseconds(QuietGapMs(m_nBaud));
    const auto wait = deadline - Clock::now();
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
                deadline = r.arrived + wait;
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
        if (WaitEnded(w, r))
            return r;
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

std::size_t CSerialPort::Write(const char *data, std::size_t size, int timeoutMs, bool *gone) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::lock_guard lock(m_writeLock);
    std::size_t done = 0;
    // Released by the reader once the device hung up: nothing is there to write to.
    bool bGone = m_fd < 0;
    while (m_fd >= 0 && done < size) {
        const ssize_t n = ::write(m_fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            bGone = errno == EIO || errno == ENXIO || errno == ENODEV;
            break;
        }
        const int ms = MillisecondsUntil(deadline);
        if (ms <= 0)
            break;
        pollfd p{m_fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            bGone = true;
        if (ready <= 0 || bGone)
            break;
    }
    if (gone != nullptr)
        *gone = bGone && done < size;
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
