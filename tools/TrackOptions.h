#pragma once

#include "FixTrack.h"

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

// The summary as one JSON object.
std::string SummaryJson(const CFixTrack &track, const std::optional<GeoPoint> &reference);

// Prints the summary and writes the files; 0, or 2 after saying what could not be written.
int FinishTrack(const CFixTrack &track, const TrackOptions &options);
