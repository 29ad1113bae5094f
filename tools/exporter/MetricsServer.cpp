#include "MetricsServer.h"

#include <prometheus/text_serializer.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr const char *kMetricsType = "text/plain; version=0.0.4; charset=utf-8";

std::string Header(const char *status, const char *type, std::size_t length,
                   const char *extra = "") {
    return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n" + extra +
           "\r\n";
}

// Whether the request's head accepts a gzip body, as Prometheus asks for.
bool AcceptsGzip(std::string head) {
    for (char &c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto field = head.find("\naccept-encoding:");
    return field != std::string::npos &&
           head.substr(field, head.find('\n', field + 1) - field).find("gzip") != std::string::npos;
}

// text as a gzip stream; "" if zlib fails.
std::string Gzipped(const std::string &text) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(done ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

} // namespace

CMetricsServer::CMetricsServer(std::shared_ptr<prometheus::Registry> registry, Limits limits)
    : m_registry(std::move(registry)), m_limits(limits) {}

CMetricsServer::~CMetricsServer() {
    if (m_thread.joinable()) {
        m_thread.request_stop();
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    for (Connection &c : m_connections)
        Close(c);
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool CMetricsServer::Start(const std::string &host, int port, std::string &why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
        rc != 0) {
        why = ::gai_strerror(rc);
        return false;
    }
    int error = 0;
    for (const addrinfo *a = found; a != nullptr && m_listen < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // An IPv6 address serves IPv6 alone, as an IPv4 one serves IPv4 alone.
        if (a->ai_family == AF_INET6)
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
            m_listen = fd;
        } else {
            error = errno;
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    if (m_listen < 0) {
        why = std::strerror(error);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(m_listen, reinterpret_cast<sockaddr *>(&bound), &length) == 0)
        m_port = ntohs(bound.ss_family == AF_INET6
                           ? reinterpret_cast<const sockaddr_in6 &>(bound).sin6_port
                           : reinterpret_cast<const sockaddr_in &>(bound).sin_port);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0) {
        why = std::strerror(errno);
        return false;
    }
    m_thread = std::jthread([this](const std::stop_token &stop) { Run(stop); });
    return true;
}

void CMetricsServer::Run(const std::stop_token &stop) {
    std::vector<pollfd> fds;
    while (!stop.stop_requested()) {
        Clock::time_point now = Clock::now();
        const bool accepting = now >= m_acceptPausedUntil;
        Clock::time_point next = accepting ? Clock::time_point::max() : m_acceptPausedUntil;
        fds.clear();
        fds.push_back({m_wake, POLLIN, 0});
        fds.push_back({accepting ? m_listen : -1, POLLIN, 0});
        for (const Connection &c : m_connections) {
            fds.push_back(
                {c.fd, static_cast<short>(c.state == State::Write ? POLLOUT : POLLIN), 0});
            next = std::min(next, c.deadline);
        }
        int timeoutMs = -1;
        if (next != Clock::time_point::max())
            timeoutMs = static_cast<int>(std::clamp<Clock::rep>(
                std::chrono::ceil<std::chrono::milliseconds>(next - now).count(), 0, 60'000));
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
            continue;
        now = Clock::now();
        for (std::size_t i = 0; i < m_connections.size(); ++i) {
            Connection &c = m_connections[i];
            const short got = fds[i + 2].revents;
            if ((got & (POLLERR | POLLNVAL)) != 0)
                Close(c);
            else if (got != 0 && c.state == State::Head)
                ReadHead(c, now);
            else if (got != 0 && c.state == State::Write)
                Write(c, now);
            else if (got != 0)
                Linger(c);
            if (c.fd >= 0 && now >= c.deadline)
                Close(c);
        }
        std::erase_if(m_connections, [](const Connection &c) { return c.fd < 0; });
        if ((fds[1].revents & POLLIN) != 0)
            Accept(now);
    }
}

void CMetricsServer::Accept(Clock::time_point now) {
    // Bounded, so a flood of connections still leaves the ones already open their turn.
    for (int k = 0; k < 256; ++k) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == ECONNABORTED || error == EINTR)
                continue;
            // Out of descriptors: the oldest waiting client makes room, else accepting rests.
            if ((error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) &&
                Evict())
                continue;
            if (error != EAGAIN && error != EWOULDBLOCK)
                m_acceptPausedUntil = now + std::chrono::milliseconds(100);
            return;
        }
        if (m_connections.size() >= m_limits.maxConnections)
            Evict();
        Connection c;
        c.fd = fd;
        c.deadline = now + m_limits.headTimeout;
        m_connections.push_back(std::move(c));
    }
}

bool CMetricsServer::Evict() {
    if (m_connections.empty())
        return false;
    // The oldest that has not asked yet or was answered already; else the oldest of all.
    auto it = std::find_if(m_connections.begin(), m_connections.end(),
                           [](const Connection &c) { return c.state != State::Write; });
    if (it == m_connections.end())
        it = m_connections.begin();
    Close(*it);
    m_connections.erase(it);
    return true;
}

void CMetricsServer::ReadHead(Connection &c, Clock::time_point now) {
    char buf[4096];
    while (c.head.size() < m_limits.maxHead) {
        const ssize_t n =
            ::recv(c.fd, buf, std::min(sizeof buf, m_limits.maxHead - c.head.size()), 0);
        if (n > 0) {
            c.head.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        Close(c);
        return;
    }
    if (c.head.find("\r\n\r\n") != std::string::npos || c.head.find("\n\n") != std::string::npos)
        Answer(c, now);
    else if (c.head.size() >= m_limits.maxHead) {
        c.answer = Header("431 Request Header Fields Too Large", "text/plain", 0);
        c.state = State::Write;
        c.deadline = now + m_limits.writeTimeout;
        Write(c, now);
    }
}

void CMetricsServer::Answer(Connection &c, Clock::time_point now) {
    std::string line = c.head.substr(0, c.head.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const bool gzip = AcceptsGzip(c.head);
    std::string().swap(c.head);
    const auto sp1 = line.find(' ');
    const auto sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    const std::string method = line.substr(0, sp1);
    const bool head = method == "HEAD";
    const std::string version = sp2 == std::string::npos ? std::string() : line.substr(sp2 + 1);
    if (version != "HTTP/1.0" && version != "HTTP/1.1") {
        c.answer = Header("400 Bad Request", "text/plain", 0);
    } else if (method != "GET" && !head) {
        c.answer = Header("405 Method Not Allowed", "text/plain", 0, "Allow: GET, HEAD\r\n");
    } else if (const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
               target.substr(0, target.find('?')) != "/metrics") {
        c.answer = Header("404 Not Found", "text/plain", 0);
    } else {
        std::shared_ptr<const std::string> body = Body(now, gzip);
        c.answer = Header("200 OK", kMetricsType, body->size(),
                          body != m_body ? "Content-Encoding: gzip\r\n" : "");
        if (!head)
            c.body = std::move(body);
    }
    c.state = State::Write;
    c.deadline = now + m_limits.writeTimeout;
    c.sent = 0;
    Write(c, now);
}

void CMetricsServer::Write(Connection &c, Clock::time_point now) {
    const std::size_t bodySize = c.body ? c.body->size() : 0;
    const std::size_t total = c.answer.size() + bodySize;
    while (c.sent < total) {
        iovec parts[2];
        int n = 0;
        if (c.sent < c.answer.size())
            parts[n++] = {c.answer.data() + c.sent, c.answer.size() - c.sent};
        const std::size_t inBody = c.sent > c.answer.size() ? c.sent - c.answer.size() : 0;
        if (bodySize > inBody)
            parts[n++] = {const_cast<char *>(c.body->data()) + inBody, bodySize - inBody};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<std::size_t>(n);
        const ssize_t wrote = ::sendmsg(c.fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote > 0) {
            c.sent += static_cast<std::size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        Close(c);
        return;
    }
    // Closed only once the client has read the end, so the answer is not cut by a reset.
    ::shutdown(c.fd, SHUT_WR);
    c.body.reset();
    std::string().swap(c.answer);
    c.state = State::Linger;
    c.deadline = now + m_limits.lingerTimeout;
    Linger(c);
}

void CMetricsServer::Linger(Connection &c) {
    char buf[4096];
    // A few reads a pass: a client that keeps sending only keeps its own slot.
    for (int k = 0; k < 16; ++k) {
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        Close(c);
        return;
    }
}

std::shared_ptr<const std::string> CMetricsServer::Body(Clock::time_point now, bool gzip) {
    if (!m_body || now - m_bodyAt >= m_limits.bodyReuse) {
        m_body = std::make_shared<const std::string>(
            prometheus::TextSerializer().Serialize(m_registry->Collect()));
        m_gzipped.reset();
        m_bodyAt = now;
    }
    if (!gzip)
        return m_body;
    if (!m_gzipped)
        m_gzipped = std::make_shared<const std::string>(Gzipped(*m_body));
    // Should zlib fail, the plain text goes out as it is.
    return m_gzipped->empty() ? m_body : m_gzipped;
}

void CMetricsServer::Close(Connection &c) {
    if (c.fd >= 0)
        ::close(c.fd);
    c.fd = -1;
}
