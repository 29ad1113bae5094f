#include "SourceUrl.h"

#include <cctype>
#include <charconv>

namespace platform {

bool SplitHostPort(const std::string &text, const std::string &whole, std::string &host, int &port,
                   bool &hasPort, std::string &error) {
    std::string portText;
    hasPort = false;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            error = "\"" + whole + "\": unclosed [ in the host";
            return false;
        }
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') {
                error = "\"" + whole + "\": expected :PORT after ]";
                return false;
            }
            portText = text.substr(close + 2);
            hasPort = true;
        }
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon != std::string::npos && text.find(':') != colon) {
            error = "\"" + whole + "\": put an IPv6 address in brackets, as [::1]:PORT";
            return false;
        }
        host = text.substr(0, colon);
        if (colon != std::string::npos) {
            portText = text.substr(colon + 1);
            hasPort = true;
        }
    }
    // A name, an IPv4 address or, in brackets, an IPv6 one with its zone: anything else (a
    // bracket, a blank, a control byte) cannot name a host and would not read back the same.
    // A zone ("%eth0") belongs to an IPv6 address only.
    const bool ipv6 = !text.empty() && text[0] == '[' && host.find(':') != std::string::npos;
    const bool bracketed = !text.empty() && text[0] == '[';
    for (const char c : host) {
        const bool ok = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' ||
                        c == '_' || (bracketed && c == ':') || (ipv6 && c == '%');
        if (!ok) {
            error = "\"" + whole + "\": the host may hold only letters, digits, '.', '-' and '_'" +
                    (bracketed ? ", and ':' in brackets ('%' after an IPv6 address)" : "");
            return false;
        }
    }
    if (!hasPort)
        return true;
    long value = 0;
    const char *begin = portText.data();
    const char *end = begin + portText.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (portText.empty() || ec != std::errc() || ptr != end) {
        error = "\"" + whole + "\": the port must be a number from 1 to 65535";
        return false;
    }
    if (value < 1 || value > 65535) {
        error = "\"" + whole + "\": port " + portText + " is out of range (1 to 65535)";
        return false;
    }
    port = static_cast<int>(value);
    return true;
}

bool LooksLikeUrl(const std::string &text) {
    const std::size_t sep = text.find("://");
    if (sep == std::string::npos || sep == 0)
        return false;
    for (std::size_t i = 0; i < sep; ++i)
        if (std::isalnum(static_cast<unsigned char>(text[i])) == 0 && text[i] != '+' &&
            text[i] != '-' && text[i] != '.')
            return false;
    return true;
}

bool ParseSourceUrl(const std::string &text, SourceUrl &url, std::string &error) {
    url = SourceUrl{};
    if (!LooksLikeUrl(text)) {
        if (text.empty()) {
            error = "the device path is empty";
            return false;
        }
        url.device = text;
        return true;
    }
    const std::size_t sep = text.find("://");
    std::string scheme = text.substr(0, sep);
    for (char &c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string rest = text.substr(sep + 3);
    bool hasPort = false;
    if (scheme == "gpsd") {
        url.kind = SourceUrl::Kind::Gpsd;
        url.port = kGpsdDefaultPort;
        const std::size_t slash = rest.find('/');
        if (slash != std::string::npos) {
            url.device = rest.substr(slash);
            rest.resize(slash);
            if (url.device == "/")
                url.device.clear();
        }
        if (!SplitHostPort(rest, text, url.host, url.port, hasPort, error))
            return false;
        if (url.host.empty())
            url.host = "localhost";
        return true;
    }
    if (scheme != "tcp" && scheme != "udp") {
        error = "\"" + text + "\": unknown scheme \"" + scheme +
                "\" (use gpsd://, tcp://, udp:// or a device path)";
        return false;
    }
    url.kind = scheme == "tcp" ? SourceUrl::Kind::Tcp : SourceUrl::Kind::Udp;
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('/') != std::string::npos) {
        error = "\"" + text + "\": " + scheme + ":// takes no path";
        return false;
    }
    if (!SplitHostPort(rest, text, url.host, url.port, hasPort, error))
        return false;
    if (!hasPort) {
        error = "\"" + text + "\": no port; write " + scheme + "://" +
                (url.kind == SourceUrl::Kind::Tcp ? "HOST:PORT" : "[HOST]:PORT");
        return false;
    }
    if (url.kind == SourceUrl::Kind::Tcp && url.host.empty()) {
        error = "\"" + text + "\": no host; write tcp://HOST:PORT";
        return false;
    }
    return true;
}

std::string FormatSourceUrl(const SourceUrl &url) {
    const std::string host =
        url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    switch (url.kind) {
    case SourceUrl::Kind::Serial:
        return url.device;
    case SourceUrl::Kind::Gpsd:
        return "gpsd://" + host + ":" + std::to_string(url.port) + url.device;
    case SourceUrl::Kind::Tcp:
        return "tcp://" + host + ":" + std::to_string(url.port);
    case SourceUrl::Kind::Udp:
        return "udp://" + host + ":" + std::to_string(url.port);
    }
    return {};
}

bool IsLoopbackHost(const std::string &host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0 ||
           host == "ip6-localhost";
}

} // namespace platform

#include <netdb.h>

namespace platform {

bool HostResolves(const SourceUrl &url, std::string &error) {
    if (url.kind == SourceUrl::Kind::Serial || url.host.empty())
        return true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = url.kind == SourceUrl::Kind::Udp ? SOCK_DGRAM : SOCK_STREAM;
    addrinfo *list = nullptr;
    const int rc = ::getaddrinfo(url.host.c_str(), nullptr, &hints, &list);
    if (rc == 0) {
        ::freeaddrinfo(list);
        return true;
    }
    error = "\"" + FormatSourceUrl(url) + "\": host \"" + url.host + "\" not found (" +
            ::gai_strerror(rc) + ")";
    return false;
}

} // namespace platform
