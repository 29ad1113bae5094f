#pragma once

#include "model/NmeaDecoder.h"
#include "model/SkyTable.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// One satellite's signal in a history sample, four bytes.
struct HistorySignal {
    std::uint8_t gnssUsed = 0; // the Gnss in the low bits, 0x80 when the satellite was used
    std::uint8_t sv = 0;
    std::uint8_t id = 0;  // signal id, 0 when the sentence named none
    std::uint8_t snr = 0; // dB-Hz, above 0
    Gnss System() const { return static_cast<Gnss>(gnssUsed & 0x7f); }
    bool Used() const { return (gnssUsed & 0x80) != 0; }
};

// One second of the sky: the counts per system, the HDOP and where its signals are.
struct HistorySample {
    std::int64_t time = 0;   // seconds of fix time, UTC (since 1970 once a date was sent)
    std::uint32_t first = 0; // its signals in the copy: sigs[first, first + count)
    std::uint16_t count = 0;
    std::int16_t hdop = -1; // tenths; -1 when none was sent
    std::uint8_t inView[kGnssCount]{};
    std::uint8_t used[kGnssCount]{};
};

// The history as the window gets it, oldest sample first.
struct SignalHistoryCopy {
    std::vector<HistorySample> samples;
    std::vector<HistorySignal> sigs;
};

// Every tracked signal's strength, the satellites in view and used per system, and the HDOP, one
// sample per second of fix time, in rings of fixed size. Fed on the reader thread (OnSentence,
// OnFrame, OnEpoch); Copy and Size from any thread.
class CSignalHistory {
public:
    // Two hours of one sample a second, with room for 48 satellites on two bands in each.
    static constexpr std::size_t kMaxSamples = 7200;
    static constexpr std::size_t kMaxSignals = kMaxSamples * 96;

    CSignalHistory();
    ~CSignalHistory();
    CSignalHistory(const CSignalHistory &) = delete;
    CSignalHistory &operator=(const CSignalHistory &) = delete;

    // A good sentence: RMC, GGA and GNS give the time of fix, RMC the date, GGA the HDOP. fields:
    // the decoder's split of it, when it made one (CNmeaDecoder::SentenceFields).
    void OnSentence(const char *sentence, std::size_t len,
                    const CNmeaDecoder::Fields *fields = nullptr);
    // A good binary frame: UBX NAV-PVT (valid time) and NAV-TIMEUTC give the time of fix, each
    // NAV message's time of week its epoch, NAV-EOE its end. Once UBX gave a time, the sentences'
    // times are no longer taken (both speak of the same epochs, and the epochs go by UBX).
    void OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len);
    // An epoch ended: the decoder's sky goes into the sample of its second (a later epoch of the
    // same second replaces it). byNewTime: a sentence of the next epoch ended it, so the epoch's
    // time is the one before the latest. Nothing before the first time of fix. A time before the
    // newest sample's starts a new span and keeps the samples before it (a receiver's default date
    // after a cold start is one sentence, not a reason to forget the hour before), unless the
    // stream jumped (OnJump): then it drops the samples from that time on.
    void OnEpoch(const CNmeaDecoder &decoder, bool byNewTime = false);
    // The same with the decoder's sky as copied at the epoch's end.
    void OnEpoch(const SkyView &sky, bool byNewTime = false);
    // The stream moved (a replay jumped): the next time before the newest sample's cuts there.
    void OnJump();
    // Oldest first by time of fix; of two samples of one second (two spans), the later one.
    SignalHistoryCopy Copy() const;
    // Samples held, every span.
    std::size_t Size() const;

private:
    // A time of day in seconds, with its date when one was sent (day 0: none).
    void SetTime(std::int64_t tod, int year, int month, int day);
    void Append(const SkyView &sky, std::int64_t time, std::int16_t hdop);
    void DropNewest();

    // The reader's own state.
    std::int64_t m_time = -1;     // the latest time of fix; -1 before any
    std::int64_t m_prevTime = -1; // the one before it changed to the latest
    // Days since 1970 of the latest RMC date, counted on at midnight; a stream without dates
    // starts at day 0.
    std::int64_t m_day = 0;
    std::int64_t m_lastTod = -1; // the latest time of day, seconds
    std::int16_t m_ggaHdop = -1;
    std::unique_ptr<SkyView> m_sky;
    bool m_jumped = false;
    bool m_ubxTimed = false;  // a UBX message gave the time of fix
    std::uint32_t m_iTow = 0; // the latest UBX time of week, ms

    mutable std::mutex m_lock;
    std::unique_ptr<HistorySample[]> m_samples;
    std::unique_ptr<HistorySignal[]> m_sigs;
    std::size_t m_oldest = 0; // index of the oldest sample
    std::size_t m_count = 0;
    std::size_t m_sigStart = 0; // ring index of the oldest sample's first signal
    std::size_t m_sigCount = 0; // signals held, all samples
};
