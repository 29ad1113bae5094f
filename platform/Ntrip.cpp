#include "Ntrip.h"

#include "SourceUrl.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>

namespace platform::ntrip {

namespace {

constexpr std::string_view kScheme = "ntrip://";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX escapes undone, so a password may hold '@', ':' or '/'.
bool PercentDecode(std::string_view text, std::string &out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0)
            return false;
        out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
    }
    return true;
}

std::string Base64(std::string_view in) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16 |
                           static_cast<unsigned char>(in[i + 1]) << 8 |
                           static_cast<unsigned char>(in[i + 2]);
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i + 1 == in.size()) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned v =
            static_cast<unsigned char>(in[i]) << 16 | static_cast<unsigned char>(in[i + 1]) << 8;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
    }
    return out;
}

std::string HostText(const NtripUrl &url) {
    return url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
}

// True with the header's value when line is "name: value" (the name in any case).
bool HeaderValue(std::string_view line, std::string_view name, std::string_view &value) {
    if (!StartsWithNoCase(line, name) || line.size() <= name.size() || line[name.size()] != ':')
        return false;
    value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    return true;
}

bool ParseDouble(std::string_view text, double &value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

} // namespace

namespace {

// A user name as an address shows it: what would end it or read as an escape is escaped again,
// so the shown address names the same user ("a@b" is "a%40b").
std::string EscapedUser(const std::string &user) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : user) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '@' || c == ':' || c == '%' || c == '/' || std::isgraph(b) == 0) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

bool ParseNtripUrl(const std::string &text, NtripUrl &url, std::string &error) {
    url = NtripUrl{};
    if (!StartsWithNoCase(text, kScheme)) {
        error = "an NTRIP caster is given as ntrip://[USER[:PASSWORD]@]HOST[:PORT]/MOUNTPOINT";
        return false;
    }
    std::string_view rest(text);
    rest.remove_prefix(kScheme.size());
    // The last '@' ends the credentials, so that an '@' in a password needs no escape.
    const std::size_t at = rest.rfind('@');
    std::string_view where = rest;
    if (at != std::string_view::npos) {
        const std::string_view credentials = rest.substr(0, at);
        where = rest.substr(at + 1);
        const std::size_t colon = credentials.find(':');
        if (!PercentDecode(credentials.substr(0, colon), url.user) ||
            (colon != std::string_view::npos &&
             !PercentDecode(credentials.substr(colon + 1), url.password))) {
            error = "the user or password holds a broken %-escape";
            return false;
        }
        if (url.user.empty()) {
            error = "a password needs a user name before it (USER:PASSWORD@)";
            return false;
        }
    }
    const std::size_t slash = where.find('/');
    const std::string hostPort(where.substr(0, slash));
    const std::string mount(slash == std::string_view::npos ? std::string_view{}
                                                            : where.substr(slash + 1));
    bool hasPort = false;
    // The error quotes the address without its password.
    const std::string quoted =
        "ntrip://" +
        (url.user.empty() ? "" : EscapedUser(url.user) + (url.password.empty() ? "@" : ":***@")) +
        std::string(where);
    if (!SplitHostPort(hostPort, quoted, url.host, url.port, hasPort, error))
        return false;
    if (url.host.empty()) {
        error = "\"" + quoted + "\": the caster's host is missing";
        return false;
    }
    for (const char c : mount) {
        if (std::isgraph(static_cast<unsigned char>(c)) == 0 || c == '/' || c == '?' || c == '#') {
            error = "\"" + quoted + "\": a mount point is one word of letters, digits and marks";
            return false;
        }
    }
    url.mount = mount;
    return true;
}

std::string MaskedUrl(const NtripUrl &url) {
    std::string text = "ntrip://";
    if (!url.user.empty())
        text += EscapedUser(url.user) + (url.password.empty() ? "@" : ":***@");
    text += HostText(url);
    if (url.port != kDefaultPort)
        text += ":" + std::to_string(url.port);
    return text + "/" + url.mount;
}

std::string BuildRequest(const NtripUrl &url, int version, const std::string &gga) {
    std::string request = "GET /" + url.mount + (version >= 2 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
    if (version >= 2) {
        request += "Host: " + HostText(url) + ":" + std::to_string(url.port) + "\r\n";
        request += "Ntrip-Version: Ntrip/2.0\r\n";
    }
    // NTRIP 1 casters know a client by this prefix.
    request += "User-Agent: NTRIP Skywatch/1.0\r\n";
    if (!url.user.empty())
        request += "Authorization: Basic " + Base64(url.user + ":" + url.password) + "\r\n";
    if (version >= 2 && !gga.empty()) {
        std::string line = gga;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        request += "Ntrip-GGA: " + line + "\r\n";
    }
    request += "Accept: */*\r\nConnection: close\r\n\r\n";
    return request;
}

std::size_t HeadLength(std::string_view data) {
    const std::size_t lineEnd = data.find('\n');
    if (StartsWithNoCase(data, "ICY ")) {
        if (lineEnd == std::string_view::npos)
            return data.size() > kMaxHead ? data.size() : 0;
        // Some casters follow the line with a blank one or a few headers, most with data at
        // once; the byte after the line tells which.
        const std::string_view after = data.substr(lineEnd + 1);
        if (after.empty())
            return 0;
        if (after[0] == '\r' || after[0] == '\n') {
            if (after[0] == '\n')
                return lineEnd + 2;
            return after.size() < 2 ? 0 : lineEnd + 1 + (after[1] == '\n' ? 2 : 1);
        }
        if (std::isalpha(static_cast<unsigned char>(after[0])) == 0)
            return lineEnd + 1;
    }
    for (std::size_t i = data.find('\n'); i != std::string_view::npos; i = data.find('\n', i + 1)) {
        if (i + 1 < data.size() && data[i + 1] == '\n')
            return i + 2;
        if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n')
            return i + 3;
    }
    // A head that never ends is no answer: all of it is taken as one.
    return data.size() > kMaxHead ? data.size() : 0;
}

ResponseHead ParseHead(std::string_view head) {
    ResponseHead out;
    std::size_t end = head.find('\n');
    std::string_view first = head.substr(0, end);
    while (!first.empty() && first.back() == '\r')
        first.remove_suffix(1);
    for (const char c : first.substr(0, 120))
        out.firstLine += std::isprint(static_cast<unsigned char>(c)) != 0 ? c : '?';
    bool sourceTableBody = false;
    while (end != std::string_view::npos) {
        const std::size_t next = head.find('\n', end + 1);
        std::string_view line = head.substr(
            end + 1, next == std::string_view::npos ? std::string_view::npos : next - end - 1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string_view value;
        if (HeaderValue(line, "Transfer-Encoding", value))
            out.chunked = StartsWithNoCase(value, "chunked");
        else if (HeaderValue(line, "Ntrip-Version", value) && StartsWithNoCase(value, "Ntrip/2"))
            out.version = 2;
        else if (HeaderValue(line, "Content-Type", value))
            sourceTableBody = StartsWithNoCase(value, "gnss/sourcetable");
        end = next;
    }
    if (StartsWithNoCase(first, "ICY 200")) {
        out.kind = ResponseHead::Kind::Stream;
        out.status = 200;
        return out;
    }
    if (StartsWithNoCase(first, "SOURCETABLE 200")) {
        out.kind = ResponseHead::Kind::SourceTable;
        out.status = 200;
        return out;
    }
    if (!StartsWithNoCase(first, "HTTP/1.") || first.size() < 12 || first[8] != ' ')
        return out;
    if (first[7] == '1')
        out.version = 2;
    int status = 0;
    const auto [ptr, ec] = std::from_chars(first.data() + 9, first.data() + 12, status);
    if (ec != std::errc() || ptr != first.data() + 12)
        return out;
    out.status = status;
    if (status == 200)
        out.kind = sourceTableBody ? ResponseHead::Kind::SourceTable : ResponseHead::Kind::Stream;
    else if (status == 401)
        out.kind = ResponseHead::Kind::Unauthorized;
    else if (status == 404)
        out.kind = ResponseHead::Kind::NotFound;
    return out;
}

std::string RefusalWords(const ResponseHead &head) {
    switch (head.kind) {
    case ResponseHead::Kind::Unauthorized:
        return "wrong user or password";
    case ResponseHead::Kind::NotFound:
    case ResponseHead::Kind::SourceTable:
        return "no such mount point";
    case ResponseHead::Kind::Stream:
        return {};
    case ResponseHead::Kind::Other:
        break;
    }
    return head.firstLine.empty() ? "the caster gave no answer"
                                  : "the caster answered \"" + head.firstLine + "\"";
}

bool CChunkDecoder::Feed(const char *data, std::size_t n, std::string &out) {
    const std::size_t before = out.size();
    out.append(data, n);
    const std::size_t kept = FeedInPlace(out.data() + before, n);
    out.resize(before + kept);
    return !Failed();
}

std::size_t CChunkDecoder::FeedInPlace(char *buf, std::size_t n) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = buf[i];
        switch (m_state) {
        case State::Size:
            if (const int v = HexValue(c); v >= 0) {
                // Eight hex digits are more than any caster's chunk: more is a broken stream.
                if (++m_digits > 8) {
                    m_state = State::Failed;
                    return out;
                }
                m_left = m_left * 16 + static_cast<std::size_t>(v);
            } else if (m_digits > 0 && (c == ';' || c == ' ' || c == '\t')) {
                m_state = State::Extension;
            } else if (m_digits > 0 && c == '\r') {
                m_state = State::SizeLf;
            } else {
                m_state = State::Failed;
                return out;
            }
            break;
        case State::Extension:
            if (c == '\r')
                m_state = State::SizeLf;
            else if (c == '\n')
                m_state = m_left == 0 ? State::Trailer : State::Data;
            break;
        case State::SizeLf:
            if (c != '\n') {
                m_state = State::Failed;
                return out;
            }
            m_state = m_left == 0 ? State::Trailer : State::Data;
            m_trailerLineEmpty = true;
            break;
        case State::Data: {
            const std::size_t take = std::min(m_left, n - i);
            std::copy(buf + i, buf + i + take, buf + out);
            out += take;
            i += take - 1;
            m_left -= take;
            if (m_left == 0)
                m_state = State::DataCr;
            break;
        }
        case State::DataCr:
            if (c != '\r') {
                m_state = State::Failed;
                return out;
            }
            m_state = State::DataLf;
            break;
        case State::DataLf:
            if (c != '\n') {
                m_state = State::Failed;
                return out;
            }
            m_state = State::Size;
            m_digits = 0;
            break;
        case State::Trailer:
            if (c == '\n') {
                if (m_trailerLineEmpty)
                    m_state = State::Ended;
                m_trailerLineEmpty = true;
            } else if (c != '\r') {
                m_trailerLineEmpty = false;
            }
            break;
        case State::Ended:
        case State::Failed:
            return out;
        }
    }
    return out;
}

std::vector<SourceEntry> ParseSourceTable(std::string_view text) {
    std::vector<SourceEntry> entries;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!StartsWithNoCase(line, "STR;"))
            continue;
        std::vector<std::string_view> fields;
        for (std::size_t from = 0;;) {
            const std::size_t semi = line.find(';', from);
            fields.push_back(
                line.substr(from, semi == std::string_view::npos ? semi : semi - from));
            if (semi == std::string_view::npos)
                break;
            from = semi + 1;
        }
        // Up to the nmea flag (field 12) is what a client needs; a shorter line is broken.
        if (fields.size() < 12 || fields[1].empty())
            continue;
        SourceEntry e;
        e.mount = fields[1];
        e.identifier = fields[2];
        e.format = fields[3];
        e.formatDetails = fields[4];
        e.navSystem = fields[6];
        e.network = fields[7];
        e.country = fields[8];
        double lat = 0.0, lon = 0.0;
        if (ParseDouble(fields[9], lat) && ParseDouble(fields[10], lon) && std::abs(lat) <= 90.0 &&
            lon >= -180.0 && lon <= 360.0 && (lat != 0.0 || lon != 0.0)) {
            e.lat = lat;
            e.lon = lon > 180.0 ? lon - 360.0 : lon;
            e.hasPosition = true;
        }
        e.wantsGga = fields[11] == "1";
        if (fields.size() > 15)
            e.authentication = fields[15];
        entries.push_back(std::move(e));
    }
    return entries;
}

void SortByDistance(std::vector<SourceEntry> &entries, double lat, double lon) {
    // A sphere is plenty to put bases in order.
    constexpr double kRadiusKm = 6371.0;
    constexpr double kRad = std::numbers::pi / 180.0;
    for (auto &e : entries) {
        if (!e.hasPosition) {
            e.distanceKm = -1.0;
            continue;
        }
        const double dLat = (e.lat - lat) * kRad, dLon = (e.lon - lon) * kRad;
        const double a =
            std::sin(dLat / 2) * std::sin(dLat / 2) +
            std::cos(lat * kRad) * std::cos(e.lat * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
        e.distanceKm = 2.0 * kRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SourceEntry &a, const SourceEntry &b) {
                         if (a.hasPosition != b.hasPosition)
                             return a.hasPosition;
                         return a.hasPosition && a.distanceKm < b.distanceKm;
                     });
}

} // namespace platform::ntrip
