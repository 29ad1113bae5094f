#include "GpsdSource.h"

#include "GpsdReply.h"
#include "Resolve.h"
#include "WakeEvent.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// gpsd's reports run to 10240 characters; anything longer is not one of them.
constexpr std::size_t kMaxJsonLine = 10240;

std::string JsonEscaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// Lines from a socket, read a block at a time; the deadline holds however the peer sends.
class CLineReader {
public:
    explicit CLineReader(int fd) : m_fd(fd) {}
    // The next line (without its end, cut at kMaxJsonLine) before the deadline; false on time-out
    // or end of stream.
    bool Next(std::string &line, std::chrono::steady_clock::time_point deadline) {
        line.clear();
        for (;;) {
            const std::size_t lf = m_buf.find('\n');
            if (lf != std::string::npos) {
                line.append(m_buf, 0, std::min(lf, kMaxJsonLine - line.size()));
                m_buf.erase(0, lf + 1);
                return true;
            }
            if (line.size() < kMaxJsonLine)
                line.append(m_buf, 0, std::min(m_buf.size(), kMaxJsonLine - line.size()));
            m_buf.clear();
            const int ms = MillisecondsUntil(deadline);
            if (ms <= 0)
                return false;
            char block[4096];
            const ssize_t n = ::recv(m_fd, block, sizeof block, MSG_DONTWAIT);
            if (n > 0) {
                m_buf.assign(block, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, ms) < 0 && errno != EINTR)
                return false;
        }
    }

private:
    int m_fd;
    std::string m_buf;
};

} // namespace

CGpsdSource::CGpsdSource(const SourceUrl &url, std::string note)
    : CSocketSource(url), m_note(std::move(note)) {}

void CGpsdSource::Watch(const std::string &device) {
    // Without a device, gpsd's own reports name the devices that send; with one, they would
    // only be dropped here.
    std::string watch = R"(?WATCH={"enable":true,"json":)";
    watch += device.empty() ? R"(true,"nmea":false)" : R"(false,"nmea":true)";
    if (!device.empty())
        watch += R"(,"device":")" + JsonEscaped(device) + "\"";
    watch += "}\n";
    SendAll(watch.data(), watch.size(), 200);
}

void CGpsdSource::OnConnected() {
    m_bLineStart = true;
    m_bInJson = false;
    {
        std::lock_guard lock(m_deviceLock);
        m_chosenDevice.clear();
        m_nListed = 0;
        m_error.clear();
    }
    // Without a device named, gpsd would mix the NMEA of every receiver it serves: its device
    // list comes first, and one device is watched from it.
    Watch(m_url.device);
}

std::size_t CGpsdSource::Filter(char *buf, std::size_t n) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = buf[i];
        if (m_bInJson) {
            if (c == '\n') {
                m_bInJson = false;
                m_bLineStart = true;
                NoteJson("{" + m_json);
            } else if (m_json.size() < kMaxJsonLine) {
                m_json += c;
            }
            continue;
        }
        if (m_bLineStart && c == '{') {
            m_bInJson = true;
            m_json.clear();
            continue;
        }
        buf[kept++] = c;
        m_bLineStart = c == '\n';
    }
    return kept;
}

void CGpsdSource::NoteJson(const std::string &line) {
    const GpsdReply reply = ParseGpsdReply(line);
    std::string watch;
    {
        std::lock_guard lock(m_deviceLock);
        switch (reply.kind) {
        case GpsdReply::Kind::Error:
            m_error = reply.message.empty() ? "gpsd reported an error" : reply.message;
            return;
        case GpsdReply::Kind::Devices:
            m_nListed = reply.devices.size();
            break;
        case GpsdReply::Kind::NotJson:
        case GpsdReply::Kind::Version:
        case GpsdReply::Kind::Watch:
            return;
        default:
            break;
        }
        if (!m_url.device.empty() || !m_chosenDevice.empty())
            return;
        // The first listed that has sent data, else the first whose report comes in.
        m_chosenDevice = reply.devices.empty() ? reply.device : FirstSendingDevice(reply.devices);
        watch = m_chosenDevice;
    }
    if (!watch.empty())
        Watch(watch);
}

std::string CGpsdSource::Device() const {
    if (!m_url.device.empty())
        return m_url.device;
    std::lock_guard lock(m_deviceLock);
    return m_chosenDevice;
}

std::string CGpsdSource::ControlSocketPath() {
    if (const char *env = std::getenv("GPSD_SOCKET"); env != nullptr && *env != '\0')
        return env;
    for (const char *path : {"/run/gpsd.sock", "/var/run/gpsd.sock"}) {
        struct stat st {};
        if (::stat(path, &st) == 0 && S_ISSOCK(st.st_mode))
            return path;
    }
    return {};
}

bool CGpsdSource::CanSendCommands(std::string &why) const {
    if (!IsLoopbackHost(m_url.host)) {
        why = "commands cannot be sent: gpsd at " + m_url.host +
              " is not on this machine, and only a local gpsd takes them";
        return false;
    }
    if (ControlSocketPath().empty()) {
        why = "commands cannot be sent: gpsd has no control socket (start it with "
              "-F /run/gpsd.sock, or set GPSD_SOCKET)";
        return false;
    }
    if (Device().empty()) {
        why = "commands cannot be sent: gpsd has named no device that sends data yet";
        return false;
    }
    return true;
}

bool CGpsdSource::Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!CanSendCommands(failure))
        return false;
    const std::string path = ControlSocketPath();
    const std::string device = Device();
    // gpsd's control socket writes "&DEVICE=HEX" to the device byte for byte.
    std::string line = "&" + device + "=";
    char hex[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(data[i]));
        line += hex;
    }
    line += "\n";

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        failure = "commands cannot be sent: the control socket path " + path + " is too long";
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        failure =
            "commands cannot be sent: gpsd's control socket " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        pollfd p{fd, POLLOUT, 0};
        const int ms = MillisecondsUntil(deadline);
        if ((n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) || ms <= 0 || ::poll(&p, 1, ms) <= 0)
            break;
    }
    std::string reply;
    CLineReader reader(fd);
    const bool answered = done == line.size() && reader.Next(reply, deadline);
    ::close(fd);
    if (answered && reply.rfind("OK", 0) == 0)
        return true;
    failure = answered ? "gpsd refused the command for " + device
                       : "gpsd did not answer on its control socket " + path + " within " +
                             std::to_string(timeoutMs) + " ms";
    return false;
}

std::string CGpsdSource::Description() const {
    std::string text = m_note.empty() ? std::string() : m_note + "; ";
    text += "NMEA through gpsd at " + FormatSourceUrl(m_url) + "; the baud list has no effect";
    return text;
}

std::string CGpsdSource::Detail() const {
    if (!m_url.device.empty())
        return {};
    std::lock_guard lock(m_deviceLock);
    if (m_chosenDevice.empty())
        return "gpsd has named no device that sends data yet";
    std::string text = "watching " + m_chosenDevice;
    if (m_nListed > 1)
        text += ", the first of the " + std::to_string(m_nListed) +
                " devices gpsd serves that sends data; name another as gpsd://HOST:PORT/DEVICE";
    return text;
}

std::string CGpsdSource::Warning() const {
    if (std::string down = CSocketSource::Warning(); !down.empty())
        return down;
    std::lock_guard lock(m_deviceLock);
    return m_error.empty() ? std::string() : "gpsd: " + m_error;
}

std::vector<std::string> CGpsdSource::QueryDevices(const std::string &host, int port,
                                                   int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    std::vector<ResolvedAddress> found;
    if (ResolveWithin(host.c_str(), std::to_string(port).c_str(), hints, timeoutMs, found) != 0)
        return {};
    std::vector<std::string> paths;
    bool answered = false;
    for (auto a = found.begin(); a != found.end() && !answered && MillisecondsUntil(deadline) > 0;
         ++a) {
        const int fd = ::socket(a->family, a->socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        bool connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&a->addr), a->len) == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int err = 0;
            socklen_t len = sizeof err;
            connected = ::poll(&p, 1, MillisecondsUntil(deadline)) == 1 &&
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
        const char request[] = "?DEVICES;\n";
        std::string line;
        CLineReader reader(fd);
        if (connected &&
            ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == sizeof request - 1) {
            while (reader.Next(line, deadline)) {
                const GpsdReply reply = ParseGpsdReply(line);
                if (reply.kind == GpsdReply::Kind::Devices) {
                    for (const GpsdDevice &device : reply.devices)
                        paths.push_back(device.path);
                    answered = true;
                    break;
                }
            }
        }
        ::close(fd);
    }
    return paths;
}

} // namespace platform
