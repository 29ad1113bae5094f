#include "NtripCaster.h"

#include "LinkTestSupport.h"
#include "protocol/Rtcm3.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string Base64(const std::string &text) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(text[i]) << 16 |
                           static_cast<unsigned char>(text[i + 1]) << 8 |
                           static_cast<unsigned char>(text[i + 2]);
        for (int shift : {18, 12, 6, 0})
            out += kDigits[(v >> shift) & 63];
    }
    if (i < text.size()) {
        unsigned v = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size())
            v |= static_cast<unsigned char>(text[i + 1]) << 8;
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < text.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// The value of header name (case-insensitive) in head; "" when absent.
std::string Header(const std::string &head, const std::string &name) {
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() <= name.size() || line[name.size()] != ':')
            continue;
        if (!std::equal(name.begin(), name.end(), line.begin(),
                        [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            continue;
        const std::size_t start = line.find_first_not_of(' ', name.size() + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return {};
}

bool SendAll(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::vector<std::string> Rtcm3Frames(const std::string &bytes) {
    std::vector<std::string> frames;
    rtcm3::CFramer framer;
    framer.Feed(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                [&](const unsigned char *frame, std::size_t len) {
                    frames.emplace_back(reinterpret_cast<const char *>(frame), len);
                });
    return frames;
}

std::string LoopbackNtripUrl(const std::string &userInfo, int port, const std::string &mount) {
    return "ntrip://" + (userInfo.empty() ? "" : userInfo + "@") +
           "127.0.0.1:" + std::to_string(port) + "/" + mount;
}

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CTestCaster::CTestCaster(Options options) : m_options(std::move(options)) {
    // A frame ends with the byte that completes it.
    rtcm3::CFramer framer;
    const auto *bytes = reinterpret_cast<const unsigned char *>(m_options.payload.data());
    for (std::size_t i = 0; i < m_options.payload.size(); ++i)
        framer.Feed(bytes + i, 1,
                    [&](const unsigned char *, std::size_t) { m_frameEnds.push_back(i + 1); });
}

CTestCaster::~CTestCaster() {
    Stop();
}

bool CTestCaster::Start() {
    m_listener = BindLoopback(SOCK_STREAM, m_port, 8);
    if (m_listener < 0 || ::pipe2(m_wake, O_CLOEXEC) != 0)
        return false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CTestCaster::Stop() {
    if (m_thread.joinable()) {
        const char byte = 0;
        (void)!::write(m_wake[1], &byte, 1);
        m_thread.join();
    }
    for (int *fd : {&m_listener, &m_wake[0], &m_wake[1]})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

std::vector<std::string> CTestCaster::Heads() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_heads;
}

std::string CTestCaster::Uploaded() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_uploaded;
}

void CTestCaster::Run() {
    for (;;) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        Serve(fd);
        ::close(fd);
    }
}

bool CTestCaster::ReadHead(int fd, std::string &head) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::string bytes;
    for (;;) {
        const std::size_t end = bytes.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = bytes.substr(0, end + 4);
            std::lock_guard<std::mutex> lock(m_lock);
            m_heads.push_back(head);
            m_uploaded += bytes.substr(end + 4);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) <= 0 ||
            fds[1].revents != 0)
            return false;
        char buf[2048];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
}

bool CTestCaster::Listen(int fd, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents != 0)
            return false;
        if (fds[0].revents == 0)
            continue;
        char buf[2048];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        std::lock_guard<std::mutex> lock(m_lock);
        m_uploaded.append(buf, static_cast<std::size_t>(n));
    }
}

void CTestCaster::SendData(int fd, const std::string &bytes, std::size_t &chunk) {
    if (m_options.mode == Mode::Icy) {
        SendAll(fd, bytes);
        return;
    }
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); ++chunk) {
        const std::size_t size =
            std::min(bytes.size() - at, m_options.chunkSizes[chunk % m_options.chunkSizes.size()]);
        char line[32];
        std::snprintf(line, sizeof line, "%zX", size);
        out += line;
        if (m_options.chunkExtensions && chunk % 2 == 1)
            out += ";part=" + std::to_string(chunk);
        out += "\r\n" + bytes.substr(at, size) + "\r\n";
        at += size;
    }
    SendAll(fd, out);
}

void CTestCaster::Serve(int fd) {
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    std::string head;
    if (!ReadHead(fd, head))
        return;
    Answer(fd, head);
}

void CTestCaster::Answer(int fd, const std::string &head) {
    // "GET /MOUNT HTTP/1.1"
    const std::size_t slash = head.find('/');
    const std::size_t space = head.find(' ', slash);
    const std::string mount = slash == std::string::npos || space == std::string::npos
                                  ? std::string()
                                  : head.substr(slash + 1, space - slash - 1);
    const bool known = std::find(m_options.mounts.begin(), m_options.mounts.end(), mount) !=
                       m_options.mounts.end();
    if (mount.empty() || (!known && m_options.tableForUnknown)) {
        std::string body;
        for (const std::string &line : m_options.table)
            body += line + "\r\n";
        body += "ENDSOURCETABLE\r\n";
        const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
        SendAll(fd, (m_options.tableV1 || (!known && !mount.empty())
                         ? "SOURCETABLE 200 OK\r\nServer: test caster\r\n"
                           "Content-Type: text/plain\r\n"
                         : "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n"
                           "Content-Type: gnss/sourcetable\r\nConnection: close\r\n") +
                        length + "\r\n" + body);
        return;
    }
    if (!known) {
        SendAll(fd, "HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
        return;
    }
    if (!m_options.user.empty() &&
        Header(head, "Authorization") !=
            "Basic " + Base64(m_options.user + ":" + m_options.password)) {
        SendAll(fd, "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"/" + mount +
                        "\"\r\nConnection: close\r\n\r\n");
        return;
    }
    if (m_options.mode == Mode::Icy) {
        SendAll(fd, m_options.icyHead);
    } else {
        SendAll(fd, "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: test caster\r\n"
                    "Content-Type: gnss/data\r\nCache-Control: no-store\r\n"
                    "Transfer-Encoding: chunked\r\n\r\n");
    }
    if (m_options.mode == Mode::Close)
        return;
    std::size_t chunk = 0;
    if (m_options.mode != Mode::Silent) {
        if (m_options.framesPerTick == 0) {
            SendData(fd, m_options.payload, chunk);
        } else {
            std::size_t from = 0;
            for (std::size_t frame = 0; frame < m_frameEnds.size();) {
                frame = std::min(m_frameEnds.size(), frame + m_options.framesPerTick);
                const std::size_t to = m_frameEnds[frame - 1];
                SendData(fd, m_options.payload.substr(from, to - from), chunk);
                from = to;
                if (!Listen(fd, m_options.tickMs))
                    return;
            }
            SendData(fd, m_options.payload.substr(from), chunk);
        }
        if (m_options.mode == Mode::Broken)
            SendAll(fd, "ZZ\r\nnot a chunk\r\n");
    }
    // Stays open, reading what the client sends, until it leaves or the caster stops.
    while (Listen(fd, 1000)) {
    }
}
