#pragma once

#include <string>

namespace platform {

// Where the bytes come from: a serial device path, or one of the network forms
// gpsd://[HOST[:PORT]][/DEVICE], tcp://HOST:PORT and udp://[HOST]:PORT.
struct SourceUrl {
    enum class Kind { Serial, Gpsd, Tcp, Udp };
    Kind kind = Kind::Serial;
    std::string host; // empty for udp: every local address
    int port = 0;
    std::string device; // serial path, or the device gpsd is asked for (empty: all)
};

constexpr int kGpsdDefaultPort = 2947;

// HOST[:PORT] with HOST possibly in brackets (an IPv6 address); port stays as given when absent.
// whole is the text the error quotes.
bool SplitHostPort(const std::string &text, const std::string &whole, std::string &host, int &port,
                   bool &hasPort, std::string &error);
// True when text names a network source (it has a "scheme://" prefix).
bool LooksLikeUrl(const std::string &text);
// Parses text; false with a one-line reason in error. A text without "://" is a serial path.
bool ParseSourceUrl(const std::string &text, SourceUrl &url, std::string &error);
// The canonical text of url, as shown to the user.
std::string FormatSourceUrl(const SourceUrl &url);
// True for a host name or address that means this machine over loopback.
bool IsLoopbackHost(const std::string &host);

} // namespace platform

namespace platform {

// For a network source: false with a one-line reason when its host name does not resolve.
bool HostResolves(const SourceUrl &url, std::string &error);

} // namespace platform
