#include "ReceiverMetrics.h"

#include "PortTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

using prometheus::BuildCounter;
using prometheus::BuildGauge;

ExporterFamilies::Gauges *Gauge(prometheus::Registry &r, const char *name, const char *help) {
    return &BuildGauge().Name(name).Help(help).Register(r);
}

ExporterFamilies::Counters *Counter(prometheus::Registry &r, const char *name, const char *help) {
    return &BuildCounter().Name(name).Help(help).Register(r);
}

// A signal's band as a label: the table's name, "signal N" for an id it lacks, "unspecified"
// where the receiver named no signal (NMEA before 4.11).
std::string BandLabel(Gnss gnss, int id) {
    const char *name = BandName(gnss, id);
    if (name[0] == '\0')
        return "unspecified";
    return std::strcmp(name, "unknown") == 0 ? "signal " + std::to_string(id) : name;
}

// Counts since the last look; a count that went back started again from 0.
double Delta(std::uint32_t now, std::uint32_t before) {
    return now >= before ? now - before : now;
}

// A receiver's float value without the binary tail its conversion to double adds (23.548, not
// 23.54800033569336): receivers send at most three or four decimals.
double Decimal(float value) {
    return std::round(static_cast<double>(value) * 1e4) / 1e4;
}

} // namespace

ExporterFamilies MakeFamilies(prometheus::Registry &r) {
    ExporterFamilies f{};
    f.up = Gauge(r, "skywatch_source_up",
                 "1 while the source delivers data (decoded within the last 3 s), else 0.");
    f.lastDataAge = Gauge(r, "skywatch_last_data_age_seconds",
                          "Seconds since the source last delivered a sentence or frame that "
                          "decoded.");
    f.fixMode = Gauge(r, "skywatch_fix_mode", "Fix mode the receiver reports: 1 none, 2 2D, 3 3D.");
    f.fixQuality = Gauge(r, "skywatch_fix_quality",
                         "GGA quality indicator: 0 no fix, 1 GPS, 2 DGPS, 3 PPS, 4 RTK fixed, "
                         "5 RTK float, 6 dead reckoning, 7 manual, 8 simulated.");
    f.fixSatellites = Gauge(r, "skywatch_fix_satellites",
                            "Satellites used in the fix, as the receiver counts them (GGA, UBX).");
    f.carrier = Gauge(r, "skywatch_carrier_solution",
                      "Carrier-phase solution the receiver reports (UBX): 0 none, 1 float, "
                      "2 fixed.");
    f.latitude =
        Gauge(r, "skywatch_latitude_degrees", "Latitude of the valid fix, north positive.");
    f.longitude =
        Gauge(r, "skywatch_longitude_degrees", "Longitude of the valid fix, east positive.");
    f.altitude =
        Gauge(r, "skywatch_altitude_meters", "Altitude of the valid fix above mean sea level.");
    f.inView = Gauge(r, "skywatch_satellites_in_view", "Satellites in view, per system.");
    f.used =
        Gauge(r, "skywatch_satellites_used", "Satellites in view used in the fix, per system.");
    f.tracked =
        Gauge(r, "skywatch_signals_tracked", "Signals received with a C/N0 above 0, per system.");
    f.cn0 = Gauge(r, "skywatch_signal_cn0_dbhz",
                  "Carrier-to-noise density of each signal in dB-Hz; 0 while not tracked. A "
                  "signal not heard for the forget time (10 min) is dropped.");
    f.pdop = Gauge(r, "skywatch_pdop", "Position dilution of precision the receiver reports.");
    f.hdop = Gauge(r, "skywatch_hdop", "Horizontal dilution of precision the receiver reports.");
    f.vdop = Gauge(r, "skywatch_vdop", "Vertical dilution of precision the receiver reports.");
    f.accuracy = Gauge(r, "skywatch_position_accuracy_meters",
                       "The receiver's own accuracy estimate of its position (UBX), "
                       "horizontal or vertical.");
    f.speedAccuracy = Gauge(r, "skywatch_speed_accuracy_meters_per_second",
                            "The receiver's own accuracy estimate of its speed (UBX).");
    f.gstError = Gauge(r, "skywatch_position_error_meters",
                       "One-sigma error of latitude, longitude and altitude (GST).");
    f.jamIndicator = Gauge(r, "skywatch_jamming_indicator",
                           "The receiver's jamming indicator per RF block, 0 (none) to 255 "
                           "(strong) (UBX MON-RF, MON-HW).");
    f.agc = Gauge(r, "skywatch_agc_ratio",
                  "The receiver's AGC monitor per RF block, as a share of its range (UBX).");
    f.jamState = Gauge(r, "skywatch_jamming_state",
                       "The receiver's own jamming state: 0 ok, 1 warning, 2 critical (UBX).");
    f.spoofState = Gauge(r, "skywatch_spoofing_state",
                         "The receiver's own spoofing state: 0 none, 1 indicated, 2 multiple "
                         "(UBX).");
    f.alarm = Gauge(r, "skywatch_integrity_alarm",
                    "1 while the integrity watch's alarm for the threat is active.");
    f.learning = Gauge(r, "skywatch_integrity_learning",
                       "1 while the integrity watch has no baseline of this receiver yet.");
    f.correctionAge = Gauge(r, "skywatch_correction_age_seconds",
                            "Age of the differential corrections the receiver uses (GGA field "
                            "13, UBX).");
    f.ttff = Gauge(r, "skywatch_ttff_seconds",
                   "Time to first fix after the source last came up without a fix.");
    f.decoded = Counter(r, "skywatch_sentences_decoded_total", "NMEA sentences decoded.");
    f.bad = Counter(r, "skywatch_sentences_bad_total",
                    "NMEA sentences dropped: bad checksum, cut short, too long or a bad byte.");
    f.frames = Counter(r, "skywatch_frames_total",
                       "Binary frames whose checksum held, per protocol (ubx, rtcm3).");
    f.framesBad = Counter(r, "skywatch_frames_bad_total",
                          "Binary frames with a bad checksum or length, per protocol.");
    f.signalsDropped = Counter(r, "skywatch_signal_series_dropped_total",
                               "C/N0 readings given no series, one per signal a second, because "
                               "the receiver has the most signal series allowed "
                               "(--max-signal-series).");
    return f;
}

void CSeries::Set(double value) {
    if (m_gauge == nullptr)
        m_gauge = &m_family.Add(m_labels);
    m_gauge->Set(value);
}

void CSeries::Clear() {
    if (m_gauge != nullptr)
        m_family.Remove(m_gauge);
    m_gauge = nullptr;
}

CReceiverMetrics::CReceiverMetrics(ExporterFamilies &families, std::string name,
                                   std::string address, int baud, std::chrono::seconds forgetAfter,
                                   std::size_t maxSignals)
    : m_f(families), m_name(std::move(name)), m_address(std::move(address)), m_baud(baud),
      m_forgetAfter(forgetAfter), m_maxSignals(maxSignals) {
    // Scraped for its figures only: no window reads the histories or the console's lines.
    m_port.KeepHistory(false);
    m_live.resize(kLiveCount);
    const auto live = [this](std::size_t k, ExporterFamilies::Gauges *family,
                             prometheus::Labels labels) {
        m_live[k] = std::make_unique<CSeries>(*family, std::move(labels));
    };
    const prometheus::Labels own = With({});
    live(kFixMode, m_f.fixMode, own);
    live(kQuality, m_f.fixQuality, own);
    live(kFixSats, m_f.fixSatellites, own);
    live(kCarrier, m_f.carrier, own);
    live(kLat, m_f.latitude, own);
    live(kLon, m_f.longitude, own);
    live(kAlt, m_f.altitude, own);
    live(kPdop, m_f.pdop, own);
    live(kHdop, m_f.hdop, own);
    live(kVdop, m_f.vdop, own);
    live(kHAcc, m_f.accuracy, With({{"direction", "horizontal"}}));
    live(kVAcc, m_f.accuracy, With({{"direction", "vertical"}}));
    live(kSpeedAcc, m_f.speedAccuracy, own);
    live(kErrLat, m_f.gstError, With({{"axis", "latitude"}}));
    live(kErrLon, m_f.gstError, With({{"axis", "longitude"}}));
    live(kErrAlt, m_f.gstError, With({{"axis", "altitude"}}));
    live(kJamState, m_f.jamState, own);
    live(kSpoofState, m_f.spoofState, own);
    live(kLearning, m_f.learning, own);
    live(kCorrAge, m_f.correctionAge, own);
    for (std::size_t t = 0; t < kThreatCount; ++t)
        live(kAlarm0 + t, m_f.alarm, With({{"threat", ThreatName(static_cast<Threat>(t))}}));
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        const prometheus::Labels system = With({{"system", GnssName(static_cast<Gnss>(g))}});
        live(kInView0 + g, m_f.inView, system);
        live(kUsed0 + g, m_f.used, system);
        live(kTracked0 + g, m_f.tracked, system);
    }
    for (std::size_t b = 0; b < Integrity::kMaxBlocks; ++b) {
        live(kJamInd0 + b, m_f.jamIndicator, With({{"block", std::to_string(b)}}));
        live(kAgc0 + b, m_f.agc, With({{"block", std::to_string(b)}}));
    }
    m_up = std::make_unique<CSeries>(*m_f.up, own);
    m_age = std::make_unique<CSeries>(*m_f.lastDataAge, own);
    m_ttff = std::make_unique<CSeries>(*m_f.ttff, own);
    m_up->Set(0);
    m_decoded = &m_f.decoded->Add(own);
    m_bad = &m_f.bad->Add(own);
    m_ubx = &m_f.frames->Add(With({{"protocol", "ubx"}}));
    m_ubxBad = &m_f.framesBad->Add(With({{"protocol", "ubx"}}));
    m_rtcm = &m_f.frames->Add(With({{"protocol", "rtcm3"}}));
    m_rtcmBad = &m_f.framesBad->Add(With({{"protocol", "rtcm3"}}));
    m_signalsDropped = &m_f.signalsDropped->Add(own);
}

CReceiverMetrics::~CReceiverMetrics() {
    m_port.Close();
    m_cn0.clear();
    m_f.decoded->Remove(m_decoded);
    m_f.bad->Remove(m_bad);
    m_f.frames->Remove(m_ubx);
    m_f.frames->Remove(m_rtcm);
    m_f.framesBad->Remove(m_ubxBad);
    m_f.framesBad->Remove(m_rtcmBad);
    m_f.signalsDropped->Remove(m_signalsDropped);
}

prometheus::Labels CReceiverMetrics::With(
    std::initializer_list<std::pair<const std::string, std::string>> more) const {
    prometheus::Labels labels(more);
    labels.emplace("receiver", m_name);
    return labels;
}

std::string CReceiverMetrics::OpenIfDue(Clock::time_point now) {
    if (IsOpen() || now < m_nextOpen)
        return {};
    m_nextOpen = now + kRetryOpen;
    // The port table names a port's device only while it opens: the port keeps its own path
    // for its reconnects, so one entry serves every source in turn.
    constexpr int kPort = 1;
    platform::BindPort(kPort, m_address);
    const bool opened = m_port.Open(kPort, m_baud);
    platform::BindPort(kPort, {});
    if (opened) {
        // A receiver that starts with the exporter is timed from the open.
        m_port.Stopwatch().Start(RestartKind::Cold, Clock::now());
        m_upSince = now;
        m_timedFromOpen = true;
        return {};
    }
    if (!m_port.LastOpenMessage().empty())
        return m_port.LastOpenMessage();
    return "cannot open " + m_port.LastOpenDevice() + ": " + std::strerror(m_port.LastOpenError());
}

void CReceiverMetrics::UpdateCounters() {
    const ScanCounters c = m_port.CopyCounters();
    m_decoded->Increment(Delta(c.Decoded(), m_counted.Decoded()));
    m_bad->Increment(Delta(c.NmeaBad(), m_counted.NmeaBad()));
    m_ubx->Increment(Delta(c.nUbx, m_counted.nUbx));
    m_ubxBad->Increment(Delta(c.nUbxBad, m_counted.nUbxBad));
    m_rtcm->Increment(Delta(c.nRtcm, m_counted.nRtcm));
    m_rtcmBad->Increment(Delta(c.nRtcmBad, m_counted.nRtcmBad));
    m_counted = c;
}

void CReceiverMetrics::ClearLive() {
    for (auto &series : m_live)
        series->Clear();
    m_cn0.clear();
}

void CReceiverMetrics::Update(Clock::time_point now) {
    UpdateCounters();
    const LinkState link = m_port.CopyLinkState();
    const bool flowing = IsOpen() && link.bOpen && !link.bReconnecting && link.bData;
    const bool up = flowing && now - link.lastData < kSilentAfter;
    m_up->Set(up ? 1 : 0);
    if (flowing)
        m_age->Set(std::chrono::duration<double>(now - link.lastData).count());
    else
        m_age->Clear();

    CFixStopwatch &stopwatch = m_port.Stopwatch();
    if (const auto ttff = stopwatch.Result())
        m_ttff->Set(*ttff);
    if (!up) {
        // Nothing the receiver said before it went quiet is shown as if it still said it.
        ClearLive();
        if (m_wasUp)
            stopwatch.Cancel();
        m_wasUp = false;
        return;
    }
    if (!m_wasUp && !m_timedFromOpen) {
        // A receiver that comes back without a fix is timed to its first; one that has its fix
        // stops the watch within 2 s.
        stopwatch.Start(RestartKind::Cold, now);
        m_upSince = now;
    } else if (stopwatch.Running() && now - m_upSince > kTtffLimit) {
        // A receiver that finds no fix must not keep the integrity watch starting afresh.
        stopwatch.Cancel();
    }
    m_wasUp = true;
    m_timedFromOpen = false;

    GpsFix fix{};
    FixExtra extra;
    m_port.CopyFix(fix, extra);
    m_port.CopySky(*m_sky);
    const WatchStatus watch = m_port.CopyWatch();
    const auto set = [this](std::size_t k, bool has, double value) {
        if (has)
            m_live[k]->Set(value);
        else
            m_live[k]->Clear();
    };
    const auto sent = [&extra](unsigned bit) { return (extra.sent & bit) != 0; };
    const bool valid = fix.bValid != 0 && sent(kSentValid);
    set(kFixMode, sent(kSentFixMode), fix.cFixMode);
    set(kQuality, extra.quality >= 0, extra.quality);
    set(kFixSats, sent(kSentSatsUsed), fix.cSatsUsed);
    set(kCarrier, extra.carrier >= 0, extra.carrier);
    set(kLat, valid && sent(kSentPosition), extra.fineLat);
    set(kLon, valid && sent(kSentPosition), extra.fineLon);
    set(kAlt, valid && sent(kSentAltitude), extra.altMslM);
    set(kPdop, sent(kSentPdop), Decimal(extra.pdop));
    set(kHdop, sent(kSentHdop), Decimal(extra.hdop));
    set(kVdop, sent(kSentVdop), Decimal(extra.vdop));
    set(kHAcc, extra.hAccM >= 0, Decimal(extra.hAccM));
    set(kVAcc, extra.vAccM >= 0, Decimal(extra.vAccM));
    set(kSpeedAcc, extra.speedAccMps >= 0, Decimal(extra.speedAccMps));
    set(kErrLat, extra.errLatM >= 0, Decimal(extra.errLatM));
    set(kErrLon, extra.errLonM >= 0, Decimal(extra.errLonM));
    set(kErrAlt, extra.errAltM >= 0, Decimal(extra.errAltM));
    const Integrity &integrity = extra.integrity;
    set(kJamState, integrity.jamming >= 0, integrity.jamming);
    set(kSpoofState, integrity.spoofing >= 0, integrity.spoofing);
    for (std::size_t b = 0; b < Integrity::kMaxBlocks; ++b) {
        const Integrity::RfBlock &block = integrity.blocks[b];
        const bool has = b < integrity.nBlocks;
        set(kJamInd0 + b, has && block.jamInd >= 0, block.jamInd);
        set(kAgc0 + b, has && block.agcPermil >= 0, block.agcPermil / 1000.0);
    }
    set(kLearning, true, watch.learning ? 1 : 0);
    for (std::size_t t = 0; t < kThreatCount; ++t)
        set(kAlarm0 + t, true, watch.alarms[t].active ? 1 : 0);
    set(kCorrAge, extra.diffAgeS >= 0, Decimal(extra.diffAgeS));
    UpdateSky(*m_sky, now);
}

void CReceiverMetrics::UpdateSky(const SkyView &sky, Clock::time_point now) {
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        m_live[kInView0 + g]->Set(static_cast<double>(sky.inView[g]));
        m_live[kUsed0 + g]->Set(static_cast<double>(sky.usedBy[g]));
        m_live[kTracked0 + g]->Set(static_cast<double>(sky.tracked[g]));
    }
    // The strengths heard now first, so a scrape meanwhile never sees a heard signal at 0.
    std::map<SignalKey, int> heard;
    const auto note = [&heard](const SkySat &sat, int id, int snr) {
        // A number no satellite of its system has is a receiver's garbage, not a signal.
        if (!IsSatelliteNumber(sat.gnss, sat.sv))
            return;
        int &kept =
            heard[{static_cast<int>(sat.gnss), static_cast<int>(sat.sv), BandLabel(sat.gnss, id)}];
        kept = std::max(kept, snr);
    };
    for (std::size_t i = 0; i < std::min(sky.count, SkyView::kMax); ++i) {
        const SkySat &sat = sky.sats[i];
        if (sat.nSigs == 0)
            note(sat, 0, sat.snr);
        for (std::size_t k = 0; k < std::min<std::size_t>(sat.nSigs, SkySat::kMaxSignals); ++k)
            note(sat, sat.sigs[k].id, sat.sigs[k].snr);
    }
    for (const auto &[key, snr] : heard) {
        auto it = m_cn0.find(key);
        // Only a signal heard makes a series: one merely in view would come back every time
        // it was forgotten.
        if (it == m_cn0.end()) {
            if (snr <= 0)
                continue;
            if (m_cn0.size() >= m_maxSignals) {
                m_signalsDropped->Increment();
                continue;
            }
            const auto &[gnss, sv, band] = key;
            auto series = std::make_unique<CSeries>(
                *m_f.cn0, With({{"system", GnssName(static_cast<Gnss>(gnss))},
                                {"sv", std::to_string(sv)},
                                {"band", band}}));
            it = m_cn0.emplace(key, SignalSeries{std::move(series), now}).first;
        }
        it->second.series->Set(snr);
        if (snr > 0)
            it->second.heard = now;
    }
    for (auto &[key, signal] : m_cn0)
        if (!heard.contains(key))
            signal.series->Set(0);
    std::erase_if(m_cn0,
                  [&](const auto &entry) { return now - entry.second.heard >= m_forgetAfter; });
}
