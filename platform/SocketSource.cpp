#include "SocketSource.h"

#include "Resolve.h"
#include "WakeEvent.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

CSocketSource::CSocketSource(const SourceUrl &url) : m_url(url) {}

CSocketSource::~CSocketSource() {
    CloseSocket();
}

bool CSocketSource::Resolve(std::string &message, int timeoutMs) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = m_url.kind == SourceUrl::Kind::Udp ? SOCK_DGRAM : SOCK_STREAM;
    if (m_url.host.empty())
        hints.ai_flags = AI_PASSIVE;
    std::vector<ResolvedAddress> found;
    const std::string port = std::to_string(m_url.port);
    const int rc = ResolveWithin(m_url.host.empty() ? nullptr : m_url.host.c_str(), port.c_str(),
                                 hints, timeoutMs, found);
    if (rc != 0) {
        m_nError = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
        message = FormatSourceUrl(m_url) + ": host \"" + m_url.host + "\" not found (" +
                  ResolveError(rc, timeoutMs) + ")";
        return false;
    }
    m_addrs.clear();
    for (const ResolvedAddress &a : found)
        m_addrs.push_back(Address{a.addr, a.len, a.family});
    m_nNext = 0;
    return !m_addrs.empty();
}

bool CSocketSource::Start() {
    const bool udp = m_url.kind == SourceUrl::Kind::Udp;
    while (m_nNext < m_addrs.size()) {
        const Address &a = m_addrs[m_nNext];
        const int fd =
            ::socket(a.family, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            m_nError = errno;
            ++m_nNext;
            continue;
        }
        int rc = 0;
        if (udp) {
            // No SO_REUSEADDR: a second listener on the port would take every datagram from
            // the first, so it is refused as "in use" instead.
            rc = ::bind(fd, reinterpret_cast<const sockaddr *>(&a.addr), a.len);
        } else {
            rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&a.addr), a.len);
        }
        if (rc == 0 || (!udp && errno == EINPROGRESS)) {
            {
                std::lock_guard lock(m_writeLock);
                m_fd = fd;
                m_bConnecting = rc != 0;
            }
            m_nError = 0;
            if (rc == 0 && !udp) {
                m_bConnectedOnce = true;
                OnConnected();
            }
            if (udp)
                m_bConnectedOnce = true;
            return true;
        }
        m_nError = errno;
        ::close(fd);
        ++m_nNext;
    }
    return false;
}

int CSocketSource::FinishConnect(int timeoutMs, const CWakeEvent *wake) {
    const auto deadline = After(timeoutMs);
    while (m_bConnecting) {
        pollfd p[2] = {{m_fd, POLLOUT, 0}, {wake != nullptr ? wake->Fd() : -1, POLLIN, 0}};
        const int n = ::poll(p, wake != nullptr ? 2 : 1, MillisecondsUntil(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_nError = errno;
            CloseSocket();
            return -1;
        }
        if (wake != nullptr && (p[1].revents & POLLIN) != 0)
            return -2;
        if (n == 0)
            return 0;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        if (err == 0) {
            {
                std::lock_guard lock(m_writeLock);
                m_bConnecting = false;
            }
            m_bConnectedOnce = true;
            OnConnected();
            return 1;
        }
        // Refused on one address (IPv6 localhost, say): try the next one the name gave.
        m_nError = err;
        CloseSocket();
        ++m_nNext;
        if (!Start())
            return -1;
    }
    return 1;
}

bool CSocketSource::Open(int waitMs, std::string &message) {
    if (!Resolve(message, kResolveOpenMs))
        return false;
    if (Start() && FinishConnect(waitMs, nullptr) >= 0)
        return true;
    if (m_url.kind == SourceUrl::Kind::Udp && m_nError == EADDRINUSE) {
        message = "cannot listen on " + FormatSourceUrl(m_url) +
                  ": port in use (another program or window listens on it)";
        return false;
    }
    const char *verb = m_url.kind == SourceUrl::Kind::Udp ? "cannot listen on " : "cannot reach ";
    message = verb + FormatSourceUrl(m_url) + ": " + std::strerror(m_nError);
    return false;
}

bool CSocketSource::OpenOrRetry(int waitMs, std::string &message) {
    if (Open(waitMs, message) || m_addrs.empty() || m_url.kind == SourceUrl::Kind::Udp)
        return m_fd >= 0;
    // A socket not yet connected stands for the peer until the reader's first retry.
    const int fd = ::socket(m_addrs.front().family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    std::lock_guard lock(m_writeLock);
    m_fd = fd;
    m_bDownAtStart = true;
    m_downReason = message;
    return true;
}

std::string CSocketSource::Warning() const {
    if (m_bConnectedOnce.load() || m_downReason.empty())
        return {};
    return m_downReason;
}

void CSocketSource::CloseSocket() {
    std::lock_guard lock(m_writeLock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_bConnecting = false;
    m_bDownAtStart = false;
    m_nDatagramAt = m_nDatagramLen = 0;
}

void CSocketSource::Release() {
    CloseSocket();
}

bool CSocketSource::Reopen() {
    CloseSocket();
    std::string message;
    return Resolve(message, kResolveReopenMs) && Start();
}

std::size_t CSocketSource::TakeDatagram(char *buf, std::size_t room) {
    const std::size_t n = std::min(room, m_nDatagramLen - m_nDatagramAt);
    std::memcpy(buf, m_datagram.data() + m_nDatagramAt, n);
    m_nDatagramAt += n;
    return n;
}

SerialRead CSocketSource::Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) {
    SerialRead r;
    auto deadline = After(timeoutMs);
    const int gapMs = QuietGapMs(0);
    const bool stream = m_url.kind != SourceUrl::Kind::Udp;
    if (m_fd < 0 || m_bDownAtStart) {
        r.error = m_nError != 0 ? m_nError : EBADF;
        r.gone = true;
        return r;
    }
    if (m_bConnecting) {
        const int c = FinishConnect(timeoutMs, &wake);
        if (c == -2)
            r.woken = true;
        if (c == -1) {
            r.error = m_nError;
            r.gone = true;
        }
        if (c != 1)
            return r;
    }
    bool timedOut = false;
    for (;;) {
        const std::size_t had = r.count;
        while (r.count < size) {
            if (!stream) {
                // The rest of a datagram that did not fit the last read comes first.
                if (m_nDatagramAt < m_nDatagramLen) {
                    r.count += TakeDatagram(buf + r.count, size - r.count);
                    continue;
                }
                if (!ReceiveDatagram(r))
                    break;
                continue;
            }
            const ssize_t got = ::recv(m_fd, buf + r.count, size - r.count, 0);
            if (got > 0) {
                r.count += Filter(buf + r.count, static_cast<std::size_t>(got));
                continue;
            }
            if (got == 0) {
                // The peer closed the connection.
                m_nError = ECONNRESET;
                r.gone = true;
                return r;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            m_nError = r.error = errno;
            r.gone = true;
            return r;
        }
        if (r.error != 0)
            return r;
        const bool fresh = r.count > had;
        if (fresh) {
            r.arrived = Clock::now();
            if (had == 0)
                deadline = r.arrived + std::chrono::milliseconds(timeoutMs);
        }
        // A complete line goes at once; a part line once the peer has been quiet for a gap.
        if (r.count == size || timedOut || (fresh && EndsBlock(buf + had, r.count - had)) ||
            (r.count > 0 && !fresh))
            return r;
        const auto until = r.count == 0 ? deadline : std::min(deadline, After(gapMs));
        const ReadableWait w = WaitReadable(m_fd, wake, until);
        if (w.error != 0) {
            r.error = w.error;
            return r;
        }
        if (w.woken) {
            r.woken = true;
            return r;
        }
        timedOut = w.timedOut && Clock::now() >= deadline;
    }
}

bool CSocketSource::ReceiveDatagram(SerialRead &r) {
    // Whole, however long: a receiver bridge may send an epoch of several kilobytes at once.
    if (m_datagram.empty())
        m_datagram.resize(kMaxDatagram);
    m_nDatagramAt = m_nDatagramLen = 0;
    for (;;) {
        const ssize_t got = ::recv(m_fd, m_datagram.data(), m_datagram.size(), MSG_TRUNC);
        if (got >= 0) {
            const auto n = static_cast<std::size_t>(got);
            if (n > m_datagram.size())
                ++m_nCutDatagrams;
            m_nDatagramLen = Filter(m_datagram.data(), std::min(n, m_datagram.size()));
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            m_nError = r.error = errno;
        return false;
    }
}

bool CSocketSource::SendAll(const char *data, std::size_t size, int timeoutMs) {
    const auto deadline = After(timeoutMs);
    std::size_t done = 0;
    while (m_fd >= 0 && done < size) {
        const ssize_t n = ::send(m_fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        pollfd p{m_fd, POLLOUT, 0};
        const int ms = MillisecondsUntil(deadline);
        if (ms <= 0 || ::poll(&p, 1, ms) <= 0)
            return false;
    }
    return done == size;
}

bool CSocketSource::Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) {
    if (!CanSendCommands(failure))
        return false;
    std::lock_guard lock(m_writeLock);
    if (m_fd < 0 || m_bConnecting || m_bDownAtStart) {
        failure = "not connected to " + FormatSourceUrl(m_url);
        return false;
    }
    if (SendAll(data, size, timeoutMs))
        return true;
    failure =
        FormatSourceUrl(m_url) + " took no command within " + std::to_string(timeoutMs) + " ms";
    return false;
}

std::string CSocketSource::Description() const {
    const char *what = m_url.kind == SourceUrl::Kind::Udp ? "NMEA datagrams received on "
                                                          : "NMEA over a TCP connection to ";
    return what + FormatSourceUrl(m_url) + "; the baud list has no effect";
}

bool CSocketSource::CanSendCommands(std::string &why) const {
    if (m_url.kind != SourceUrl::Kind::Udp)
        return true;
    why = "commands cannot be sent: UDP carries nothing back to the receiver";
    return false;
}

} // namespace platform
