#include "TrackOptions.h"

#include "SameFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// JSON has no NaN nor infinity: such a value, which the track never takes, would be null.
std::string Num(double v, int decimals) {
    char b[400];
    const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, decimals);
    return std::isfinite(v) && r.ec == std::errc{} ? std::string(b, r.ptr) : "null";
}

std::string Quoted(const std::string &text) {
    return text.empty() ? "null" : "\"" + text + "\"";
}

bool Fail(const std::string &path, int error) {
    // What went to standard output comes first where the two streams share one pipe.
    std::fflush(stdout);
    std::fprintf(stderr, "skywatch-decode: cannot write %s: %s\n", path.c_str(),
                 std::strerror(error));
    return false;
}

bool WriteAll(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A device or a pipe cannot be replaced: it is written as it is.
bool WriteInPlace(const std::string &path, const std::string &text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return Fail(path, errno);
    const bool written = WriteAll(fd, text);
    const int error = errno;
    if (::close(fd) != 0 && written)
        return Fail(path, errno);
    return written || Fail(path, error);
}

// The whole text goes to a temporary file beside path and takes its name only once it is on the
// disk, so a failed write leaves the file that was there as it was.
bool WriteWhole(const std::string &path, const std::string &text) {
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return WriteInPlace(path, text);
    // A file the user may not write stays as it is, though its folder would let it be replaced.
    if (exists && ::access(path.c_str(), W_OK) != 0)
        return Fail(path, errno);
    // A link keeps leading to the export: the file it names is the one replaced.
    std::string target = path;
    if (char *real = exists ? ::realpath(path.c_str(), nullptr) : nullptr) {
        target = real;
        std::free(real);
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string temp = folder + "." + target.substr(folder.size()) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Fail(path, errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask) == 0 && WriteAll(fd, text) &&
              ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return Fail(path, error);
    }
    return true;
}

} // namespace

bool ParseTrackOption(int argc, char **argv, int &i, TrackOptions &options, std::string &error) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc && argv[i + 1][0] != '\0';
    if (arg == "--summary") {
        options.summary = true;
    } else if (arg == "--gpx" || arg == "--csv") {
        if (!hasValue)
            error = arg + " takes a file to write";
        else
            (arg == "--gpx" ? options.gpxPath : options.csvPath) = argv[++i];
    } else if (arg == "--reference") {
        GeoPoint point;
        if (!hasValue || !ParseReference(argv[++i], point))
            error = "--reference takes LAT,LON[,ALT] in degrees and metres";
        else
            options.reference = point;
    } else {
        return false;
    }
    return true;
}

void CTrackSummary::Add(const TrackFix &fix) {
    m_positions.Add(GeoPoint{fix.lat, fix.lon, fix.alt, fix.hasAlt});
    if (!first)
        first = fix;
    last = fix;
}

std::string SummaryJson(CTrackSummary &summary, const CFixTrack &track,
                        const std::optional<GeoPoint> &reference) {
    const PositionStats st = summary.TakeStats(reference);
    std::string out = "{\"fixes\": " + std::to_string(st.fixes);
    // Sentences that claimed a fix with values no receiver can mean: why fixes may be missing.
    const std::string rejected = ", \"rejected\": " + std::to_string(track.Rejected()) + "}";
    if (st.fixes == 0 || !summary.first || !summary.last)
        return out +
               ", \"mean\": null, \"cep50_m\": null, \"cep95_m\": null, \"drms2_m\": null, "
               "\"vertical95_m\": null, \"first_fix\": null, \"last_fix\": null" +
               rejected;
    out += ", \"mean\": {\"lat\": " + Num(st.mean.lat, 9) + ", \"lon\": " + Num(st.mean.lon, 9) +
           ", \"alt\": " + (st.mean.hasAlt ? Num(st.mean.alt, 3) : "null") + "}";
    out += ", \"cep50_m\": " + Num(st.cep50, 4) + ", \"cep95_m\": " + Num(st.cep95, 4) +
           ", \"drms2_m\": " + Num(st.drms2, 4) +
           ", \"vertical95_m\": " + (st.mean.hasAlt ? Num(st.vertical95, 4) : "null");
    // Fixes made before the first date have it now.
    TrackFix first = *summary.first, last = *summary.last;
    track.DateUndated(first);
    track.DateUndated(last);
    out += ", \"first_fix\": " + Quoted(FixTimeText(first)) +
           ", \"last_fix\": " + Quoted(FixTimeText(last));
    if (reference) {
        out += ", \"reference\": {\"lat\": " + Num(reference->lat, 9) +
               ", \"lon\": " + Num(reference->lon, 9) +
               ", \"alt\": " + (reference->hasAlt ? Num(reference->alt, 3) : "null") + "}";
        out += ", \"mean_offset_m\": {\"east\": " + Num(st.meanEast, 4) +
               ", \"north\": " + Num(st.meanNorth, 4) +
               ", \"up\": " + (reference->hasAlt && st.mean.hasAlt ? Num(st.meanUp, 4) : "null") +
               "}";
    }
    return out + rejected;
}

std::string OutputClash(const TrackOptions &options, const char *input) {
    const platform::FileKey in = input == nullptr || std::strcmp(input, "-") == 0
                                     ? platform::KeyOfDescriptor(0)
                                     : platform::KeyOfPath(input);
    const std::pair<const char *, const std::string *> outputs[] = {{"--gpx", &options.gpxPath},
                                                                    {"--csv", &options.csvPath}};
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
        const auto &[option, path] = outputs[i];
        if (path->empty())
            continue;
        const platform::FileKey key = platform::KeyOfPath(*path);
        if (in.exists && key == in)
            return std::string(option) + " " + *path + " is the file being read; write to another";
        for (std::size_t j = i + 1; j < std::size(outputs); ++j)
            if (!outputs[j].second->empty() && platform::KeyOfPath(*outputs[j].second) == key)
                return std::string(option) + " " + *path + " and " + outputs[j].first + " " +
                       *outputs[j].second + " are the same file; give each its own";
    }
    return {};
}

int FinishTrack(const CFixTrack &track, CTrackSummary &summary, const TrackOptions &options) {
    bool ok = true;
    if (!options.gpxPath.empty())
        ok = WriteWhole(options.gpxPath, TrackToGpx(track.Fixes())) && ok;
    if (!options.csvPath.empty())
        ok = WriteWhole(options.csvPath, TrackToCsv(track.Fixes())) && ok;
    if (options.summary)
        std::printf("%s\n", SummaryJson(summary, track, options.reference).c_str());
    return ok ? 0 : 2;
}
