#include "GpsdSource.h"

#include "WakeEvent.h"

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
constexpr int kControlReplyMs = 1000;

// The values of every "path" member in one JSON line.
std::vector<std::string> Paths(const std::string &line) {
    std::vector<std::string> paths;
    const std::string key = "\"path\":\"";
    for (std::size_t at = line.find(key); at != std::string::npos; at = line.find(key, at)) {
        at += key.size();
        const std::size_t end = line.find('"', at);
        if (end == std::string::npos)
            break;
        paths.push_back(line.substr(at, end - at));
        at = end;
    }
    return paths;
}

std::string JsonEscaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// Reads one line from fd before the deadline; false on time-out or end of stream.
bool ReadLine(int fd, std::string &line, std::chrono::steady_clock::time_point deadline) {
    line.clear();
    for (;;) {
        char c = 0;
        const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
        if (n == 1) {
            if (c == '\n')
                return true;
            if (line.size() < kMaxJsonLine)
                line += c;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ms = MillisecondsUntil(deadline);
        if (ms <= 0 || ::poll(&p, 1, ms) <= 0)
            return false;
    }
}

} // namespace

CGpsdSource::CGpsdSource(const SourceUrl &url, std::string note)
    : CSocketSource(url), m_note(std::move(note)) {}

void CGpsdSource::OnConnected() {
    m_bLineStart = true;
    m_bInJson = false;
    std::string watch = R"(?WATCH={"enable":true,"nmea":true)";
    if (!m_url.device.empty())
        watch += R"(,"device":")" + JsonEscaped(m_url.device) + "\"";
    watch += "}\n";
    SendAll(watch.data(), watch.size(), 500);
}

std::size_t CGpsdSource::Filter(char *buf, std::size_t n) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = buf[i];
        if (m_bInJson) {
            if (c == '\n') {
                NoteJson(m_json);
                m_bInJson = false;
                m_bLineStart = true;
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
    if (line.find("\"class\":\"DEVICES\"") == std::string::npos)
        return;
    const std::vector<std::string> paths = Paths(line);
    std::lock_guard lock(m_deviceLock);
    m_learnedDevice = paths.size() == 1 ? paths.front() : std::string();
}

std::string CGpsdSource::Device() const {
    if (!m_url.device.empty())
        return m_url.device;
    {
        std::lock_guard lock(m_deviceLock);
        if (!m_learnedDevice.empty())
            return m_learnedDevice;
    }
    // Right after connecting the reader may not have seen gpsd's device list yet: ask.
    const std::vector<std::string> paths = QueryDevices(m_url.host, m_url.port, 500);
    return paths.size() == 1 ? paths.front() : std::string();
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
    if (Device().empty()) {
        why = "commands cannot be sent: gpsd named no single device; open "
              "gpsd://HOST:PORT/DEVICE";
        return false;
    }
    if (ControlSocketPath().empty()) {
        why = "commands cannot be sent: gpsd has no control socket (start it with "
              "-F /run/gpsd.sock, or set GPSD_SOCKET)";
        return false;
    }
    return true;
}

bool CGpsdSource::Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) {
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
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        failure =
            "commands cannot be sent: gpsd's control socket " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || MillisecondsUntil(deadline) <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    std::string reply;
    const bool answered =
        done == line.size() &&
        ReadLine(fd, reply,
                 std::chrono::steady_clock::now() + std::chrono::milliseconds(kControlReplyMs));
    ::close(fd);
    if (answered && reply.rfind("OK", 0) == 0)
        return true;
    failure = answered ? "gpsd refused the command for " + device
                       : "gpsd did not answer on its control socket " + path;
    return false;
}

std::string CGpsdSource::Description() const {
    std::string text = m_note.empty() ? std::string() : m_note + "; ";
    text += "NMEA through gpsd at " + FormatSourceUrl(m_url) + "; the baud list has no effect";
    return text;
}

std::vector<std::string> CGpsdSource::QueryDevices(const std::string &host, int port,
                                                   int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0)
        return {};
    std::vector<std::string> paths;
    for (const addrinfo *a = list; a != nullptr && paths.empty(); a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int err = 0;
            socklen_t len = sizeof err;
            connected = ::poll(&p, 1, MillisecondsUntil(deadline)) == 1 &&
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
        const char request[] = "?DEVICES;\n";
        std::string line;
        if (connected &&
            ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == sizeof request - 1) {
            while (ReadLine(fd, line, deadline)) {
                if (line.find("\"class\":\"DEVICES\"") != std::string::npos) {
                    paths = Paths(line);
                    break;
                }
            }
        }
        ::close(fd);
    }
    ::freeaddrinfo(list);
    return paths;
}

} // namespace platform
