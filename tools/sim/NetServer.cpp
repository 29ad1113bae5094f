#include "NetServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A client that is this far behind is dropped, as ser2net drops one that stops reading.

// The first address host:port resolves to, with a socket of type made for it.
int SocketFor(const std::string &host, int port, int type, sockaddr_storage &addr, socklen_t &len,
              std::string &error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    addrinfo *list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
        error = "host \"" + host + "\" not found (" + ::gai_strerror(rc) + ")";
        return -1;
    }
    const int fd = ::socket(list->ai_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    std::memcpy(&addr, list->ai_addr, list->ai_addrlen);
    len = list->ai_addrlen;
    ::freeaddrinfo(list);
    if (fd < 0)
        error = std::string("cannot make a socket: ") + std::strerror(errno);
    return fd;
}

int PortOf(const sockaddr_storage &addr) {
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(addr).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in &>(addr).sin_port);
}

} // namespace

bool SplitHostPort(const std::string &text, bool hostRequired, std::string &host, int &port,
                   std::string &error) {
    const std::size_t colon = text.rfind(':');
    host = colon == std::string::npos ? std::string() : text.substr(0, colon);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    const auto [ptr, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || ec != std::errc() || ptr != portText.data() + portText.size() ||
        port < 0 || port > 65535) {
        error = "\"" + text + "\": the port must be a number from 0 to 65535";
        return false;
    }
    if (host.empty() && hostRequired) {
        error = "\"" + text + "\": write HOST:PORT";
        return false;
    }
    if (host.empty())
        host = "127.0.0.1";
    return true;
}

CNetServer::~CNetServer() {
    Close();
}

bool CNetServer::ListenTcp(const std::string &hostPort, std::string &error) {
    m_tcpSpec = hostPort;
    std::string host;
    int port = 0;
    if (!SplitHostPort(hostPort, false, host, port, error))
        return false;
    sockaddr_storage addr{};
    socklen_t len = 0;
    m_listen = SocketFor(host, port, SOCK_STREAM, addr, len, error);
    if (m_listen < 0)
        return false;
    // The port can be taken again at once after an unplug, while old connections linger.
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(m_listen, reinterpret_cast<const sockaddr *>(&addr), len) != 0 ||
        ::listen(m_listen, 8) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        error = "cannot listen on " + hostPort + ": " + std::strerror(errno);
        ::close(m_listen);
        m_listen = -1;
        return false;
    }
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    m_tcpSpec = shown + ":" + std::to_string(PortOf(addr));
    m_addresses.push_back("tcp://" + m_tcpSpec);
    return true;
}

bool CNetServer::SendUdpTo(const std::string &hostPort, std::string &error) {
    m_udpSpec = hostPort;
    std::string host;
    int port = 0;
    if (!SplitHostPort(hostPort, true, host, port, error))
        return false;
    if (port == 0) {
        error = "\"" + hostPort + "\": the port must be a number from 1 to 65535";
        return false;
    }
    sockaddr_storage addr{};
    socklen_t len = 0;
    m_udp = SocketFor(host, port, SOCK_DGRAM, addr, len, error);
    if (m_udp < 0)
        return false;
    // Connected, so that a plain send() addresses it.
    if (::connect(m_udp, reinterpret_cast<const sockaddr *>(&addr), len) != 0) {
        error = "cannot send to " + hostPort + ": " + std::strerror(errno);
        ::close(m_udp);
        m_udp = -1;
        return false;
    }
    m_addresses.push_back("udp://" + hostPort);
    return true;
}

void CNetServer::Send(const char *data, std::size_t n) {
    for (Client &c : m_clients) {
        // With a client that does not keep up, bytes are dropped, as on a real line.
        if (c.fd >= 0 && ::send(c.fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN && errno != EWOULDBLOCK) {
            ::close(c.fd);
            c.fd = -1;
        }
    }
    std::erase_if(m_clients, [](const Client &c) { return c.fd < 0; });
    if (m_udp < 0)
        return;
    for (std::size_t i = 0; i < n; ++i) {
        m_udpLine += data[i];
        // A UBX frame goes whole, as its length (bytes 4 and 5) says; a sentence up to its LF.
        bool bEnd = data[i] == '\n' || m_udpLine.size() >= 1024;
        if (static_cast<unsigned char>(m_udpLine[0]) == 0xB5) {
            const auto at = [&](std::size_t k) {
                return static_cast<std::size_t>(static_cast<unsigned char>(m_udpLine[k]));
            };
            bEnd = m_udpLine.size() >= 6 && m_udpLine.size() == 8 + (at(4) | at(5) << 8);
        }
        if (bEnd) {
            // Nobody listening (ECONNREFUSED) is normal for UDP.
            ::send(m_udp, m_udpLine.data(), m_udpLine.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            m_udpLine.clear();
        }
    }
}

void CNetServer::Service(const CommandHandler &handler) {
    if (m_listen >= 0) {
        for (;;) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                break;
            m_clients.push_back(Client{fd});
        }
    }
    for (Client &c : m_clients) {
        char buf[256];
        for (;;) {
            const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                ::close(c.fd);
                c.fd = -1;
                break;
            }
            if (n < 0)
                break;
            handler(buf, static_cast<std::size_t>(n));
        }
    }
    std::erase_if(m_clients, [](const Client &c) { return c.fd < 0; });
}

void CNetServer::Close() {
    for (Client &c : m_clients)
        ::close(c.fd);
    m_clients.clear();
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_udp >= 0)
        ::close(m_udp);
    m_listen = m_udp = -1;
    m_udpLine.clear();
    m_addresses.clear();
}

std::vector<std::string> CNetServer::Addresses() const {
    return m_addresses;
}

bool CNetServer::Reopen(std::string &error) {
    const std::string tcp = m_tcpSpec;
    const std::string udp = m_udpSpec;
    return (tcp.empty() || ListenTcp(tcp, error)) && (udp.empty() || SendUdpTo(udp, error));
}
