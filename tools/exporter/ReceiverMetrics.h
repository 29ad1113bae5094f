#pragma once

#include "GpsPort.h"

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

// Every metric the exporter serves, one family each, shared by all receivers; each series carries
// its receiver's name.
struct ExporterFamilies {
    using Gauges = prometheus::Family<prometheus::Gauge>;
    using Counters = prometheus::Family<prometheus::Counter>;
    Gauges *up, *lastDataAge, *fixMode, *fixQuality, *fixSatellites, *carrier;
    Gauges *latitude, *longitude, *altitude;
    Gauges *inView, *used, *tracked, *cn0;
    Gauges *pdop, *hdop, *vdop, *accuracy, *speedAccuracy, *gstError;
    Gauges *jamIndicator, *agc, *jamState, *spoofState, *alarm, *learning;
    Gauges *correctionAge, *ttff;
    Counters *decoded, *bad, *frames, *framesBad, *signalsDropped;
};
// Registers the families with registry.
ExporterFamilies MakeFamilies(prometheus::Registry &registry);

// One gauge series that exists only while it has a value: a receiver gone quiet leaves no old
// value behind.
class CSeries {
public:
    CSeries(ExporterFamilies::Gauges &family, prometheus::Labels labels)
        : m_family(family), m_labels(std::move(labels)) {}
    ~CSeries() { Clear(); }
    CSeries(const CSeries &) = delete;
    CSeries &operator=(const CSeries &) = delete;
    void Set(double value);
    void Clear();

private:
    ExporterFamilies::Gauges &m_family;
    prometheus::Labels m_labels;
    prometheus::Gauge *m_gauge = nullptr;
};

// One source watched through its own port: opens it, keeps it open (the port reconnects by itself)
// and turns its copies into series labelled receiver="name".
class CReceiverMetrics {
public:
    using Clock = std::chrono::steady_clock;
    // Data older than this is a source that stopped, as the window's "No data" says.
    static constexpr std::chrono::seconds kSilentAfter{3};
    // A source that did not open is tried again this often.
    static constexpr std::chrono::seconds kRetryOpen{5};
    // A receiver without a fix this long after it came up is no longer timed.
    static constexpr std::chrono::minutes kTtffLimit{15};

    // At most maxSignals C/N0 series: a receiver sending random satellite numbers must not
    // grow the scrape without end.
    CReceiverMetrics(ExporterFamilies &families, std::string name, std::string address, int baud,
                     std::chrono::seconds forgetAfter, std::size_t maxSignals);
    ~CReceiverMetrics();
    CReceiverMetrics(const CReceiverMetrics &) = delete;
    CReceiverMetrics &operator=(const CReceiverMetrics &) = delete;

    // Opens the source when it is closed and its retry is due; why it did not open, else "".
    // The port table is shared: call on one thread only.
    std::string OpenIfDue(Clock::time_point now);
    // Reads the port's copies and sets the series.
    void Update(Clock::time_point now);
    const std::string &Name() const { return m_name; }
    const std::string &Address() const { return m_address; }
    bool IsOpen() const { return m_port.m_nPort > 0; }
    const std::vector<std::string> &WatchProblems() const { return m_port.WatchProblems(); }

private:
    struct SignalSeries {
        std::unique_ptr<CSeries> series;
        Clock::time_point heard;
    };
    prometheus::Labels
    With(std::initializer_list<std::pair<const std::string, std::string>> more) const;
    void UpdateSky(const SkyView &sky, Clock::time_point now);
    void UpdateCounters();
    void ClearLive();

    ExporterFamilies &m_f;
    std::string m_name;
    std::string m_address;
    int m_baud;
    std::chrono::seconds m_forgetAfter;
    std::size_t m_maxSignals;
    CGpsPort m_port;
    Clock::time_point m_nextOpen{};
    bool m_wasUp = false;
    Clock::time_point m_upSince{};
    bool m_timedFromOpen = false; // the stopwatch runs from the open, not from the data
    std::unique_ptr<SkyView> m_sky = std::make_unique<SkyView>();
    // Series of this receiver, cleared while its source is down.
    std::vector<std::unique_ptr<CSeries>> m_live;
    enum Live : std::size_t {
        kFixMode,
        kQuality,
        kFixSats,
        kCarrier,
        kLat,
        kLon,
        kAlt,
        kPdop,
        kHdop,
        kVdop,
        kHAcc,
        kVAcc,
        kSpeedAcc,
        kErrLat,
        kErrLon,
        kErrAlt,
        kJamState,
        kSpoofState,
        kLearning,
        kCorrAge,
        kAlarm0,
        kInView0 = kAlarm0 + kThreatCount,
        kUsed0 = kInView0 + kGnssCount,
        kTracked0 = kUsed0 + kGnssCount,
        kJamInd0 = kTracked0 + kGnssCount,
        kAgc0 = kJamInd0 + Integrity::kMaxBlocks,
        kLiveCount = kAgc0 + Integrity::kMaxBlocks
    };
    // C/N0 per (system, satellite, band), kept until not heard for m_forgetAfter.
    using SignalKey = std::tuple<int, int, std::string>;
    std::map<SignalKey, SignalSeries> m_cn0;
    std::unique_ptr<CSeries> m_up, m_age, m_ttff;
    prometheus::Counter *m_decoded = nullptr, *m_bad = nullptr;
    prometheus::Counter *m_ubx = nullptr, *m_ubxBad = nullptr, *m_rtcm = nullptr,
                        *m_rtcmBad = nullptr, *m_signalsDropped = nullptr;
    ScanCounters m_counted{};
};
