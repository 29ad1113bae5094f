// Feeds arbitrary bytes to what runs after the decoder. Port mode (first byte below 0x80): the
// decoder with the hooks CGpsPort sets, the epoch tracker reporting epochs to the signal history
// as the reader does, and the fix track beside them as the decode tool keeps it, fed in blocks
// whose sizes come from the input, some followed by a quiet line. Every fix and point must be a
// place on the earth, the statistics and exports finite, the signal history ordered and whole;
// the fixes must not depend on the blocks. Reply mode (0x80 and above): what reads the receiver's
// answers (the family recogniser, the checksum writer, the reference point's text). First byte
// 0x7F: the port itself, its reader thread replaying the input as a recording.
#include "GpsPort.h"
#include "PortTable.h"
#include "analysis/EpochTracker.h"
#include "analysis/FixTrack.h"
#include "analysis/IntegrityWatch.h"
#include "analysis/SignalHistory.h"
#include "model/FixExtra.h"
#include "model/NmeaDecoder.h"
#include "protocol/NmeaConvert.h"
#include "protocol/Rtcm3.h"
#include "receiver/FixStopwatch.h"
#include "receiver/ReceiverFamily.h"
#include "receiver/RestartCommands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

void Fail(const char *what) {
    std::fprintf(stderr, "fuzz_port: %s\n", what);
    std::abort();
}

void Check(bool ok, const char *what) {
    if (!ok)
        Fail(what);
}

// The decoders' clock, moved on by the blocks and quiet lines, so the sky table's five-second
// drop runs the same on every replay.
std::int64_t g_nowMs = 0;
std::int64_t NowMs() {
    return g_nowMs;
}

bool OnEarth(double lat, double lon, double alt) {
    return std::isfinite(lat) && std::isfinite(lon) && std::isfinite(alt) &&
           std::fabs(lat) <= 90.0 && std::fabs(lon) <= 180.0;
}

void CheckFix(const TrackFix &t) {
    Check(OnEarth(t.lat, t.lon, t.alt), "track fix off the earth or not finite");
}

void CheckPoints(const std::vector<GeoPoint> &points) {
    for (const GeoPoint &g : points)
        Check(OnEarth(g.lat, g.lon, g.alt), "history point off the earth or not finite");
}

void CheckStats(const PositionStats &st) {
    const double values[] = {st.mean.lat, st.mean.lon,   st.mean.alt, st.cep50,     st.cep95,
                             st.drms2,    st.vertical95, st.meanEast, st.meanNorth, st.meanUp};
    for (double v : values)
        Check(std::isfinite(v), "position statistics not finite");
    Check(OnEarth(st.mean.lat, st.mean.lon, st.mean.alt), "mean position off the earth");
    Check(st.cep50 >= 0.0 && st.cep50 <= st.cep95, "CEP50 negative or above CEP95");
}

void CheckExport(const std::string &text) {
    Check(text.find("nan") == std::string::npos && text.find("inf") == std::string::npos,
          "export holds nan or inf");
}

// The CSV must say what each fix holds: its lat, lon and alt read back to the fix's values.
void CheckCsv(const std::string &csv, const std::vector<TrackFix> &fixes) {
    std::size_t at = csv.find('\n') + 1;
    for (const TrackFix &t : fixes) {
        const std::size_t end = csv.find('\n', at);
        Check(end != std::string::npos, "CSV line missing");
        const std::string line = csv.substr(at, end - at);
        at = end + 1;
        double v[3] = {};
        std::size_t from = line.find(',') + 1;
        for (double &x : v) {
            const std::size_t comma = line.find(',', from);
            x = std::strtod(line.substr(from, comma - from).c_str(), nullptr);
            from = comma + 1;
        }
        const double want[3] = {t.lat, t.lon, t.hasAlt ? t.alt : 0.0};
        for (int i = 0; i < 3; ++i)
            Check(std::fabs(v[i] - want[i]) <= 1e-3 + 1e-9 * std::fabs(want[i]),
                  "CSV number differs from the fix");
    }
}

void CheckSignals(const SignalHistoryCopy &copy) {
    for (std::size_t i = 0; i < copy.samples.size(); ++i) {
        const HistorySample &s = copy.samples[i];
        Check(i == 0 || copy.samples[i - 1].time <= s.time, "signal history out of time order");
        Check(std::size_t{s.first} + s.count <= copy.sigs.size(),
              "sample's signals outside the copy");
        Check(s.hdop >= -1, "sample HDOP below -1");
    }
    for (const HistorySignal &sig : copy.sigs)
        Check(static_cast<std::size_t>(sig.System()) < kGnssCount && sig.snr > 0,
              "signal of no system or without strength");
}

bool SameNewest(const SignalHistoryCopy &a, const SignalHistoryCopy &b) {
    return a.samples.empty() ? b.samples.empty()
                             : !b.samples.empty() && a.samples.back().time == b.samples.back().time;
}

bool HasTime(const SignalHistoryCopy &copy, std::int64_t time) {
    return std::any_of(copy.samples.begin(), copy.samples.end(),
                       [time](const HistorySample &s) { return s.time == time; });
}

// Every satellite and signal the window lists has a system name and a band name.
void CheckSky(const SkyView &sky) {
    Check(sky.count <= SkyView::kMax && sky.used <= sky.count, "sky count out of range");
    for (std::size_t i = 0; i < sky.count; ++i) {
        const SkySat &sat = sky.sats[i];
        Check(sat.nSigs <= SkySat::kMaxSignals, "satellite with too many signals");
        Check(static_cast<std::size_t>(sat.gnss) < kGnssCount && GnssName(sat.gnss)[0] != '\0',
              "satellite of no system");
        for (std::size_t k = 0; k < sat.nSigs; ++k)
            Check(BandName(sat.gnss, sat.sigs[k].id) != nullptr, "signal without a band name");
    }
}

bool IsZero(const GpsFix &fix) {
    GpsFix zero;
    std::memset(&zero, 0, sizeof zero);
    return std::memcmp(&fix, &zero, sizeof fix) == 0;
}

// CGpsPort's parts wired as its constructor and reader wire them, without a source or a thread.
// The recorder is left out: it only copies blocks while a recording runs.
struct Port {
    CReceiverFamily family;
    CFixStopwatch ttff;
    CFixHistory history;
    CSignalHistory signals;
    CNmeaDecoder decoder{0};
    CEpochTracker epoch;
    CFixTrack track;
    // Told only the sentences and frames: one epoch at the end gives the last time of fix.
    CSignalHistory lastTime;
    CFixStopwatch::Clock::time_point blockArrived{};
    SkyView sky;
    // The integrity watch with the shipped thresholds, fed each epoch as the port feeds it.
    CIntegrityWatch watch{ShippedThresholds()};
    // What the decode tool's --rtcm reads of each RTCM 3 frame.
    rtcm3::Tally rtcm;
    // What the NTRIP client passes on of the same bytes, had they come from a caster.
    rtcm3::CFramer framer;
    std::vector<std::vector<unsigned char>> framed;
    SkyView watchSky;
    Integrity watchIntegrity;
    bool alarmOn[kThreatCount]{};

    static WatchThresholds ShippedThresholds() {
        WatchThresholds t;
        std::vector<std::string> problems;
        Check(ParseThresholds(DefaultThresholdsText(), t, problems), "shipped thresholds refused");
        return t;
    }
    // Each threat's events alternate start and end; every number is finite.
    void CheckWatch() {
        for (const WatchEvent &e : watch.TakeEvents()) {
            bool &on = alarmOn[static_cast<std::size_t>(e.threat)];
            Check(e.start != on, "an alarm started twice or ended unstarted");
            on = e.start;
            Check(std::isfinite(e.durationS) && e.durationS >= 0.0, "alarm of no length");
            for (const auto &[name, v] : e.evidence)
                Check(std::isfinite(v), "evidence not a number");
            const std::string json = EventToJson(e);
            Check(json.find("nan") == std::string::npos && json.find("inf") == std::string::npos,
                  "event line with no number");
        }
        const WatchStatus status = watch.Status();
        for (std::size_t k = 0; k < kThreatCount; ++k)
            Check(status.alarms[k].active == alarmOn[k], "status and events disagree");
        for (const AlarmSpan &span : status.spans)
            Check(span.to < 0 || span.to >= span.from, "span ends before it starts");
    }

    Port() {
        decoder.SetClock(NowMs);
        decoder.SetHooks(
            {{},
             [this](const char *s, std::size_t len) {
                 family.OnSentence(s, len);
                 epoch.OnSentence(s, len);
                 history.OnSentence(s, len);
                 signals.OnSentence(s, len);
                 track.AddSentence(s, len);
                 lastTime.OnSentence(s, len);
             },
             [this](bool valid) { ttff.OnFixReportAt(valid, blockArrived); },
             [this](FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
                 if (protocol == FrameProtocol::Ubx)
                     family.OnUbxFrame();
                 epoch.OnFrame(protocol, frame, len);
                 signals.OnFrame(protocol, frame, len);
                 lastTime.OnFrame(protocol, frame, len);
                 if (protocol == FrameProtocol::Rtcm3)
                     rtcm.Add(frame, len);
             },
             {},
             [this](const NavReport &report) {
                 history.OnReport(report);
                 track.AddReport(report);
             }});
        ttff.Start(RestartKind::Cold, Arrival());
    }
    static CFixStopwatch::Clock::time_point Arrival() {
        return CFixStopwatch::Clock::time_point{} + std::chrono::hours(1) +
               std::chrono::milliseconds(g_nowMs);
    }
    void NotifyEpoch(bool byNewTime) {
        signals.OnEpoch(decoder, byNewTime);
        watch.OnEpoch(EpochOf(decoder, watchSky, watchIntegrity, g_nowMs));
        CheckWatch();
    }
    // A replay's read that jumped, as the reader reports it before the read's bytes.
    void Jump() {
        signals.OnJump();
        lastTime.OnJump();
        watch.ResetReferences();
    }
    void Block(const char *bytes, std::size_t n) {
        g_nowMs += 100;
        blockArrived = Arrival();
        decoder.ParseBuffer(bytes, static_cast<int>(n));
        if (epoch.BlockDone())
            NotifyEpoch(true);
        framer.Feed(reinterpret_cast<const unsigned char *>(bytes), n,
                    [&](const unsigned char *frame, std::size_t len) {
                        framed.emplace_back(frame, frame + len);
                    });
    }
    void QuietLine() {
        g_nowMs += 1000;
        if (epoch.Quiet())
            NotifyEpoch(false);
    }
    // What CGpsPort's reader does on a reconnect, and the clear after it.
    void Reconnect() {
        decoder.ResetScanner();
        epoch.Reset();
        family.Reset();
        decoder.ClearFix();
        history.Clear();
        ttff.Cancel();
        watch.ResetReferences();
    }
    // What the window and the tools read, at any moment.
    void CheckCopies() {
        CheckPoints(history.CopyPoints());
        const SignalHistoryCopy copy = signals.Copy();
        CheckSignals(copy);
        Check(copy.samples.size() <= signals.Size(), "copy holds more samples than the history");
        decoder.CopySky(sky);
        CheckSky(sky);
        GpsFix fix;
        FixExtra extra;
        decoder.CopyFix(fix, extra);
        Check(QualityName(extra.quality) != nullptr, "quality without a name");
        if (const std::optional<TrackFix> t = track.PendingFix())
            CheckFix(*t);
        const std::string text = ttff.Text(Arrival());
        Check(!ttff.Running() || !text.empty(), "running stopwatch shows no text");
        if (const std::optional<double> result = ttff.Result())
            Check(std::isfinite(*result) && *result >= 0.0 && !ttff.FixNeverLost(),
                  "time to fix negative, or both a time and never lost");
    }
};

bool SameFix(const TrackFix &a, const TrackFix &b) {
    return a.lat == b.lat && a.lon == b.lon && a.alt == b.alt && a.hasAlt == b.hasAlt &&
           a.utcSeconds == b.utcSeconds && a.date == b.date && a.speedKmh == b.speedKmh &&
           a.course == b.course && a.fixMode == b.fixMode && a.quality == b.quality &&
           a.satsUsed == b.satsUsed && a.hdop == b.hdop;
}

bool SamePoints(const std::vector<GeoPoint> &a, const std::vector<GeoPoint> &b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [](const GeoPoint &x, const GeoPoint &y) {
            return x.lat == y.lat && x.lon == y.lon && x.alt == y.alt && x.hasAlt == y.hasAlt;
        });
}

void CheckTrack(CFixTrack &track, const std::vector<GeoPoint> &points) {
    track.Finish();
    const std::vector<TrackFix> &fixes = track.Fixes();
    std::vector<GeoPoint> trackPoints;
    for (const TrackFix &t : fixes) {
        CheckFix(t);
        trackPoints.push_back(GeoPoint{t.lat, t.lon, t.alt, t.hasAlt});
    }
    for (const std::vector<GeoPoint> *set : {&std::as_const(trackPoints), &points}) {
        CheckStats(ComputePositionStats(*set));
        if (!set->empty())
            CheckStats(ComputePositionStats(*set, set->back()));
    }
    const std::string gpx = TrackToGpx(fixes);
    const std::string csv = TrackToCsv(fixes);
    CheckExport(gpx);
    CheckExport(csv);
    CheckCsv(csv, fixes);
}

int PortMode(const std::uint8_t *data, std::size_t size) {
    // Byte 0: bits 0-1 how many size bytes follow (1..4), bits 2-5 which of them are followed by
    // a quiet line, bit 6 whether the read after a quiet line jumped (a replay's seek); each size
    // byte gives a block of 1..256 bytes, used in turn.
    const std::size_t nSizes = (data[0] & 3u) + 1u;
    const unsigned quietAfter = (data[0] >> 2) & 0xfu;
    const bool jumps = (data[0] & 0x40u) != 0;
    if (size <= nSizes + 1)
        return 0;
    const char *text = reinterpret_cast<const char *>(data + 1 + nSizes);
    const std::size_t length = size - 1 - nSizes;
    if (length > 1u << 20)
        return 0;

    g_nowMs = 0;
    auto split = std::make_unique<Port>();
    std::size_t pos = 0;
    bool jumped = false, quiet = false;
    for (std::size_t i = 0; pos < length; ++i) {
        const std::size_t slot = i % nSizes;
        const std::size_t n = std::min<std::size_t>(data[1 + slot] + 1u, length - pos);
        if (jumps && quiet) {
            split->Jump();
            jumped = true;
        }
        split->Block(text + pos, n);
        pos += n;
        quiet = ((quietAfter >> slot) & 1u) != 0;
        if (quiet)
            split->QuietLine();
        split->CheckCopies();
    }
    split->QuietLine();
    split->CheckCopies();

    g_nowMs = 0;
    auto whole = std::make_unique<Port>();
    whole->Block(text, length);
    whole->QuietLine();
    whole->CheckCopies();

    Check(split->framed == whole->framed && split->framer.BadCrc() == whole->framer.BadCrc(),
          "correction frames differ from the ones found in a single block");

    // Sentences reach the fix track one by one whatever the blocks, so the blocks change nothing.
    const std::vector<GeoPoint> points = split->history.CopyPoints();
    Check(SamePoints(points, whole->history.CopyPoints()),
          "history points differ from the ones fed in a single block");
    CheckTrack(split->track, points);
    whole->track.Finish();
    Check(std::equal(split->track.Fixes().begin(), split->track.Fixes().end(),
                     whole->track.Fixes().begin(), whole->track.Fixes().end(), SameFix),
          "track fixes differ from the ones fed in a single block");
    Check(split->track.Rejected() == whole->track.Rejected(),
          "rejected sentences differ from the ones fed in a single block");
    // Epochs are sampled where a block or a quiet line ends them, so several in one block make
    // one sample and the times depend on the blocks; only the last quiet line's must be there.
    for (Port *port : {split.get(), whole.get()}) {
        port->lastTime.OnEpoch(port->decoder);
        const SignalHistoryCopy last = port->lastTime.Copy();
        const SignalHistoryCopy copy = port->signals.Copy();
        if (!last.samples.empty())
            Check(HasTime(copy, last.samples.back().time),
                  "the last epoch before the quiet line is missing from the signal history");
        else if (!jumped)
            Check(copy.samples.empty(), "signal history sampled without a time");
    }
    if (!jumped)
        Check(SameNewest(split->lastTime.Copy(), whole->lastTime.Copy()),
              "last time of fix differs from the one fed in a single block");

    // After a reconnect nothing said before counts as sent; the stream then starts afresh.
    split->Reconnect();
    GpsFix cleared;
    split->decoder.CopyFix(cleared);
    split->decoder.CopySky(split->sky);
    Check(IsZero(cleared) && split->sky.count == 0, "record or sky kept across a reconnect");
    Check(split->family.Current() == ReceiverFamily::Unknown && !split->ttff.Running(),
          "family or stopwatch kept across a reconnect");
    Check(split->history.CopyPoints().size() <= 1, "history points kept after a clear");
    const std::size_t again = std::min<std::size_t>(length, 512);
    split->Block(text, again);
    split->QuietLine();
    split->CheckCopies();
    return 0;
}

// The zero-terminated text in a buffer of exactly size bytes (ASan sees any write past it).
void CheckAppendChecksum(std::string_view bytes) {
    const std::size_t size = std::min<std::size_t>(bytes.size(), kSentenceBufferSize);
    if (size == 0)
        return;
    std::vector<char> buf(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    const std::vector<char> before = buf;
    AppendChecksum(buf.data(), size);
    const void *zero = std::memchr(before.data(), '\0', size);
    const std::size_t n =
        zero == nullptr ? size
                        : static_cast<std::size_t>(static_cast<const char *>(zero) - before.data());
    if (before[0] != '$' || zero == nullptr || size - n < 6) {
        Check(buf == before, "checksum written where it does not fit");
        return;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < n; ++i)
        sum ^= static_cast<unsigned char>(before[i]);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    Check(std::memcmp(buf.data(), before.data(), n) == 0 &&
              std::memcmp(buf.data() + n, tail, 6) == 0,
          "checksum line wrong");
}

void CheckFamily(const CReceiverFamily &recogniser) {
    const ReceiverFamily f = recogniser.Current();
    Check(f <= ReceiverFamily::St, "family outside its enum");
    const char *name = FamilyName(f);
    Check(name != nullptr && name[0] != '\0', "family without a name");
}

// A whole UBX frame of the given class, id and payload with its Fletcher checksum.
std::string UbxFrame(std::uint8_t cls, std::uint8_t id, std::string_view payload) {
    std::string frame = "\xB5\x62";
    frame += static_cast<char>(cls);
    frame += static_cast<char>(id);
    frame += static_cast<char>(payload.size() & 0xff);
    frame += static_cast<char>(payload.size() >> 8);
    frame += payload;
    std::uint8_t a = 0, b = 0;
    for (std::size_t i = 2; i < frame.size(); ++i) {
        a = static_cast<std::uint8_t>(a + static_cast<std::uint8_t>(frame[i]));
        b = static_cast<std::uint8_t>(b + a);
    }
    frame += static_cast<char>(a);
    frame += static_cast<char>(b);
    return frame;
}

// Same value, NaN or not, zero's sign included.
bool SameDouble(double a, double b) {
    return std::signbit(a) == std::signbit(b) && (a == b || (std::isnan(a) && std::isnan(b)));
}

// The conversions give the C library's atoi and atof results, and the two field readers agree.
void CheckTextReaders(std::string_view bytes) {
    const std::string line(bytes.substr(0, bytes.find('\0')));
    Check(nmea::AtoI(line.c_str()) == std::atoi(line.c_str()), "AtoI differs from atoi");
    Check(SameDouble(nmea::AtoF(line.c_str()), std::atof(line.c_str())), "AtoF differs from atof");
    char piece[24];
    const std::size_t from = line.empty() ? 0 : static_cast<unsigned char>(line[0]) % 24u;
    nmea::Piece(line.c_str(), static_cast<int>(from), 20, piece);
    Check(piece == (line.size() < from ? std::string() : line.substr(from, 20)),
          "Piece differs from the text's piece");
    const std::size_t star = line.find('*');
    if (star == std::string::npos || star < 7)
        return;
    CNmeaDecoder::Fields fields;
    CNmeaDecoder::SplitFields(line.c_str(), star, fields);
    const char *pos = line.c_str() + 7;
    for (std::size_t i = 1; pos != nullptr && i <= CNmeaDecoder::Fields::kMax; ++i) {
        CNmeaDecoder::Field next;
        char copied[CNmeaDecoder::kFieldSize];
        CNmeaDecoder::NextField(pos, copied);
        pos = CNmeaDecoder::NextField(pos, next);
        const CNmeaDecoder::Field split = fields[i];
        const std::string text(split.p, split.n);
        Check(text == std::string_view(next.p, next.n) && text == copied,
              "NextField and SplitFields read different fields");
        Check(nmea::AtoI(split.p, split.n) == std::atoi(text.c_str()) &&
                  SameDouble(nmea::AtoF(split.p, split.n), std::atof(text.c_str())),
              "a field's AtoI or AtoF differs from atoi or atof");
    }
}

// The family a decoder's sentences and UBX frames name, the bytes fed in blocks of `block`;
// `whole`, when given, says whether one frame of all the bytes came out.
ReceiverFamily Recognise(std::string_view bytes, std::size_t block, bool *whole = nullptr) {
    CReceiverFamily family;
    CNmeaDecoder decoder(0);
    decoder.SetHooks({{},
                      [&](const char *s, std::size_t n) { family.OnSentence(s, n); },
                      {},
                      [&](FrameProtocol protocol, const unsigned char *, std::size_t len) {
                          if (protocol == FrameProtocol::Ubx)
                              family.OnUbxFrame();
                          if (whole != nullptr && len == bytes.size())
                              *whole = true;
                      }});
    for (std::size_t at = 0; at < bytes.size(); at += block)
        decoder.ParseBuffer(bytes.data() + at,
                            static_cast<int>(std::min(block, bytes.size() - at)));
    CheckFamily(family);
    return family.Current();
}

int ReplyMode(const std::uint8_t *data, std::size_t size) {
    // Bytes 1-3: family, restart kind, block size; the rest is what the receiver answered.
    if (size < 4)
        return 0;
    const auto family = static_cast<ReceiverFamily>(data[1] % 6);
    const auto kind = static_cast<RestartKind>(data[2] % 3);
    const std::size_t block = data[3] + 1u;
    const std::string_view rest(reinterpret_cast<const char *>(data + 4), size - 4);
    if (rest.size() > 1u << 16)
        return 0;

    // A restart in a family's own language names that family to the recogniser (SiRF's for an
    // unknown one), and its NMEA lines carry a good checksum.
    const std::string restart = ComposeRestart(family, kind);
    ReceiverFamily named;
    if (family == ReceiverFamily::Ublox) {
        named = Recognise(restart, block);
    } else {
        Check(restart.size() > 6 && restart.ends_with("\r\n"), "restart line without CR LF");
        CReceiverFamily line;
        line.OnSentence(restart.data(), restart.size());
        named = line.Current();
        std::vector<char> again(restart.begin(), restart.end() - 5);
        again.resize(kSentenceBufferSize);
        AppendChecksum(again.data(), again.size());
        Check(restart == again.data(), "restart line's checksum wrong");
    }
    Check(named == (family == ReceiverFamily::Unknown ? ReceiverFamily::Sirf : family),
          "restart does not name its own family");
    char line[kSentenceBufferSize];
    const char *sirf = kind == RestartKind::Cold   ? ComposeColdStart(line)
                       : kind == RestartKind::Warm ? ComposeWarmStart(line)
                                                   : ComposeHotStart(line);
    Check(ComposeRestart(ReceiverFamily::Sirf, kind) == sirf && RestartName(kind)[0] != '\0',
          "SiRF restart differs between its two composers, or has no name");
    // The queries: one UBX poll, then NMEA lines the recogniser reads as the family they ask.
    const std::string queries = ComposeFamilyQueries();
    Check(Recognise(std::string_view(queries).substr(0, queries.find('$')), block) ==
              ReceiverFamily::Ublox,
          "the UBX poll is not a good frame");

    CheckAppendChecksum(rest);

    // The raw bytes give the same family however they are cut; each line read as a sentence
    // leaves a family inside the enum.
    Check(Recognise(rest, block) == Recognise(rest, rest.size()),
          "recognition depends on the blocks");
    CReceiverFamily whole;
    for (std::size_t at = 0; at < rest.size();) {
        const std::size_t end = std::min(rest.find('\n', at), rest.size() - 1) + 1;
        whole.OnSentence(rest.data() + at, end - at);
        CheckFamily(whole);
        CheckTextReaders(rest.substr(at, end - at));
        at = end;
    }

    // A well-formed frame of a class receivers send names u-blox; the same frame with a bad
    // checksum is not taken (what it held is read again, and may name anyone).
    if (rest.size() >= 2) {
        constexpr std::uint8_t kClasses[] = {0x01, 0x02, 0x05, 0x06, 0x0A, 0x0D, 0x27};
        const std::string frame =
            UbxFrame(kClasses[static_cast<std::uint8_t>(rest[0]) % std::size(kClasses)],
                     static_cast<std::uint8_t>(rest[1]), rest.substr(2, 4096));
        Check(Recognise(frame, block) == ReceiverFamily::Ublox, "good UBX frame not recognised");
        std::string broken = frame;
        broken.back() = static_cast<char>(broken.back() ^ 1);
        bool taken = false;
        (void)Recognise(broken, block, &taken);
        Check(!taken, "UBX frame with a bad checksum taken");
    }

    GeoPoint point;
    if (ParseReference(std::string(rest), point))
        Check(OnEarth(point.lat, point.lon, point.alt), "reference point off the earth");
    return 0;
}

// The port itself on the input as a recording: its reader thread at the replay's fastest pace,
// a jump back to the start, a command it must refuse, a clear and a close. A thread and a file per
// input make it slow, so one first byte in 256 asks for it.
int RealPortMode(const std::uint8_t *data, std::size_t size) {
    const char *tmp = std::getenv("TMPDIR");
    std::string path =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/fuzz_port_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        return 0;
    const bool written = write(fd, data + 1, size - 1) == static_cast<ssize_t>(size - 1);
    close(fd);
    platform::BindPort(9, path);
    if (CGpsPort port(0); written && port.Open(9, 4800) && port.Replay() != nullptr) {
        port.SetEpochListener([] {});
        port.Replay()->SetSpeed(platform::CFileSource::kFastest);
        const auto played = [&port] {
            for (int i = 0; i < 2000 && !port.Replay()->Ended(); ++i)
                usleep(1000);
        };
        played();
        port.Replay()->JumpTo(0.0);
        usleep(2000);
        played();
        port.WaitForDecoded(0, std::chrono::milliseconds(1));
        port.Send("$PMTK101*32\r\n");
        Check(!port.LastSendFailure().empty(), "a recording took a command");
        std::string why;
        Check(!port.CanSend(why) && !why.empty(), "a recording says it takes commands");
        Check(!port.SourceDescription().empty() && port.CopyLinkState().bOpen,
              "an open replay not described or not open");
        CheckSignals(port.Signals().Copy());
        CheckPoints(port.History().CopyPoints());
        SkyView sky;
        port.CopySky(sky);
        CheckSky(sky);
        port.ClearFix();
        port.Close();
        Check(!port.CopyLinkState().bOpen, "a closed port still open");
    }
    std::remove(path.c_str());
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    if (data[0] == 0x7f)
        return RealPortMode(data, size);
    return data[0] < 0x80 ? PortMode(data, size) : ReplyMode(data, size);
}
