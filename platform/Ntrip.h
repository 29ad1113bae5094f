#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The NTRIP protocol's text: the caster's address, the request, the answer's head, HTTP/1.1's
// chunked transfer and the source table. No sockets here.
namespace platform::ntrip {

constexpr int kDefaultPort = 2101;

// ntrip://[USER[:PASSWORD]@]HOST[:PORT]/MOUNTPOINT; an empty mount asks for the source table.
struct NtripUrl {
    std::string user, password;
    std::string host;
    int port = kDefaultPort;
    std::string mount;
};
// False with a one-line reason in error (which never holds the password).
bool ParseNtripUrl(const std::string &text, NtripUrl &url, std::string &error);
// The address as shown and logged: the password, when there is one, as "***".
std::string MaskedUrl(const NtripUrl &url);

// The GET for url's mount point (the source table when it is empty). Version 2 asks over
// HTTP/1.1 with "Ntrip-Version: Ntrip/2.0"; version 1 over HTTP/1.0. gga, when not empty, is a
// whole sentence sent in the "Ntrip-GGA" header (version 2 only).
std::string BuildRequest(const NtripUrl &url, int version, const std::string &gga = {});

// What the caster's first line and headers said.
struct ResponseHead {
    enum class Kind {
        Stream,       // "ICY 200 OK" or HTTP 200 with data
        SourceTable,  // "SOURCETABLE 200 OK", or HTTP 200 with a gnss/sourcetable body
        Unauthorized, // 401
        NotFound,     // 404
        Other,        // any other status, or a first line that is no answer
    };
    Kind kind = Kind::Other;
    int status = 0;
    int version = 1;      // 2 when the caster answered "Ntrip-Version: Ntrip/2.0" or over HTTP/1.1
    bool chunked = false; // "Transfer-Encoding: chunked"
    std::string firstLine;
};
constexpr std::size_t kMaxHead = 8192;
// The length of the head at the start of data once it is complete: "ICY 200 OK" ends at its
// line (a blank line after it included), the others at the blank line. 0 while incomplete.
std::size_t HeadLength(std::string_view data);
ResponseHead ParseHead(std::string_view head);
// What a refusal means to the user: "wrong user or password", "no such mount point", or the
// caster's first line.
std::string RefusalWords(const ResponseHead &head);

// Undoes HTTP/1.1 chunked transfer as the bytes come, cut anywhere; extensions and trailers are
// skipped. A malformed size line stops it for good (Failed).
class CChunkDecoder {
public:
    // Appends the payload bytes in data to out; false once the encoding proved broken.
    bool Feed(const char *data, std::size_t n, std::string &out);
    // In place: the payload of buf's n bytes moved to its front; how many. Once broken (Failed),
    // the payload before the break is still given.
    std::size_t FeedInPlace(char *buf, std::size_t n);
    bool Failed() const { return m_state == State::Failed; }
    // True after the last (zero-size) chunk.
    bool Ended() const { return m_state == State::Ended; }

private:
    enum class State { Size, Extension, SizeLf, Data, DataCr, DataLf, Trailer, Ended, Failed };
    State m_state = State::Size;
    std::size_t m_left = 0;
    int m_digits = 0;
    bool m_trailerLineEmpty = true;
};

// One STR line of a source table.
struct SourceEntry {
    std::string mount, identifier, format, formatDetails;
    std::string navSystem, network, country;
    double lat = 0.0, lon = 0.0;
    bool hasPosition = false;
    bool wantsGga = false;      // field 12, "nmea": the caster wants the rover's position
    std::string authentication; // "N", "B" or "D"
    double distanceKm = -1.0;   // from the rover, once SortByDistance had a position
};
// Every well-formed STR line of text; other records (CAS, NET) and malformed lines skipped.
std::vector<SourceEntry> ParseSourceTable(std::string_view text);
// Nearest first from lat, lon (degrees), filling distanceKm; entries without a position last.
void SortByDistance(std::vector<SourceEntry> &entries, double lat, double lon);

} // namespace platform::ntrip
