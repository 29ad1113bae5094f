#pragma once

#include "analysis/FixTrack.h"

#include <optional>
#include <string>

// The decode tool's session options: a summary of the fixes and their export.
struct TrackOptions {
    bool summary = false;
    std::string gpxPath, csvPath;
    std::optional<GeoPoint> reference;
    bool Active() const { return summary || !gpxPath.empty() || !csvPath.empty(); }
};

// Takes argv[i] (and its value) when it is one of these options. Returns false when it is not
// one; error is set when it is one but its value is wrong.
bool ParseTrackOption(int argc, char **argv, int &i, TrackOptions &options, std::string &error);

// Why the exports cannot go where they are named, or "": one is the file read (input; nullptr or
// "-" for standard input), or two are one file. Checked before anything is written.
std::string OutputClash(const TrackOptions &options, const char *input);

// What the summary needs of each fix (its position, 24 bytes), and the first and last fixes whole.
class CTrackSummary {
public:
    void Add(const TrackFix &fix);
    std::size_t Count() const { return m_positions.Count(); }
    // The spread of the fixes; the store is used up to compute it.
    PositionStats TakeStats(const std::optional<GeoPoint> &reference) {
        return m_positions.Take(reference);
    }
    std::optional<TrackFix> first, last;

private:
    CPositionStats m_positions;
};

// The summary as one JSON object; the store is used up. track: what it rejected, and the date of
// fixes made before the stream gave one.
std::string SummaryJson(CTrackSummary &summary, const CFixTrack &track,
                        const std::optional<GeoPoint> &reference);

// Prints the summary and writes the files (of the fixes track still holds); 0, or 2 after saying
// what could not be written.
int FinishTrack(const CFixTrack &track, CTrackSummary &summary, const TrackOptions &options);
