#include "TrackOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::string Num(double v, int decimals) {
    char b[48];
    std::snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}

std::string Quoted(const std::string &text) {
    return text.empty() ? "null" : "\"" + text + "\"";
}

bool WriteWhole(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "skywatch-decode: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int writeErrno = errno;
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "skywatch-decode: cannot write %s: %s\n", path.c_str(),
                     std::strerror(written ? errno : writeErrno));
        return false;
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

std::string SummaryJson(const CFixTrack &track, const std::optional<GeoPoint> &reference) {
    const std::vector<TrackFix> &fixes = track.Fixes();
    std::vector<GeoPoint> points;
    points.reserve(fixes.size());
    for (const TrackFix &t : fixes)
        points.push_back(GeoPoint{t.lat, t.lon, t.alt, t.hasAlt});
    const PositionStats st = ComputePositionStats(points, reference);
    std::string out = "{\"fixes\": " + std::to_string(st.fixes);
    if (st.fixes == 0)
        return out + ", \"mean\": null, \"cep50_m\": null, \"cep95_m\": null, \"drms2_m\": null, "
                     "\"vertical95_m\": null, \"first_fix\": null, \"last_fix\": null}";
    out += ", \"mean\": {\"lat\": " + Num(st.mean.lat, 9) + ", \"lon\": " + Num(st.mean.lon, 9) +
           ", \"alt\": " + (st.mean.hasAlt ? Num(st.mean.alt, 3) : "null") + "}";
    out += ", \"cep50_m\": " + Num(st.cep50, 4) + ", \"cep95_m\": " + Num(st.cep95, 4) +
           ", \"drms2_m\": " + Num(st.drms2, 4) +
           ", \"vertical95_m\": " + (st.mean.hasAlt ? Num(st.vertical95, 4) : "null");
    out += ", \"first_fix\": " + Quoted(FixTimeText(fixes.front())) +
           ", \"last_fix\": " + Quoted(FixTimeText(fixes.back()));
    if (reference) {
        out += ", \"reference\": {\"lat\": " + Num(reference->lat, 9) +
               ", \"lon\": " + Num(reference->lon, 9) +
               ", \"alt\": " + (reference->hasAlt ? Num(reference->alt, 3) : "null") + "}";
        out += ", \"mean_offset_m\": {\"east\": " + Num(st.meanEast, 4) +
               ", \"north\": " + Num(st.meanNorth, 4) +
               ", \"up\": " + (reference->hasAlt && st.mean.hasAlt ? Num(st.meanUp, 4) : "null") +
               "}";
    }
    return out + "}";
}

int FinishTrack(const CFixTrack &track, const TrackOptions &options) {
    bool ok = true;
    if (!options.gpxPath.empty())
        ok = WriteWhole(options.gpxPath, TrackToGpx(track.Fixes())) && ok;
    if (!options.csvPath.empty())
        ok = WriteWhole(options.csvPath, TrackToCsv(track.Fixes())) && ok;
    if (options.summary)
        std::printf("%s\n", SummaryJson(track, options.reference).c_str());
    return ok ? 0 : 2;
}
