#include "analysis/SignalHistory.h"

#include "model/NmeaDecoder.h"
#include "protocol/NmeaConvert.h"
#include "protocol/UbxMessages.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using Field = CNmeaDecoder::Field;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

bool Digits(Field f, std::size_t n) {
    if (f.n < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (f.p[i] < '0' || f.p[i] > '9')
            return false;
    return true;
}

std::uint8_t Count(std::size_t n) {
    return static_cast<std::uint8_t>(std::min<std::size_t>(n, 255));
}

} // namespace

CSignalHistory::CSignalHistory() : m_sky(std::make_unique<SkyView>()) {}

CSignalHistory::~CSignalHistory() = default;

void CSignalHistory::OnSentence(const char *s, std::size_t len,
                                const CNmeaDecoder::Fields *fields) {
    if (len < 7 || s[0] != '$' || s[1] == 'P')
        return;
    const bool rmc = std::memcmp(s + 3, "RMC,", 4) == 0;
    const bool gga = std::memcmp(s + 3, "GGA,", 4) == 0;
    if (!rmc && !gga && std::memcmp(s + 3, "GNS,", 4) != 0)
        return;
    const char *star = static_cast<const char *>(std::memchr(s, '*', len));
    if (star == nullptr)
        return;
    // The decoder split it at its checksum's "*": the same fields unless an earlier "*" ends them.
    CNmeaDecoder::Fields own;
    if (fields == nullptr || star != s + len - 3) {
        CNmeaDecoder::SplitFields(s, static_cast<std::size_t>(star - s), own);
        fields = &own;
    }
    const CNmeaDecoder::Fields &f = *fields;
    if (gga) {
        // $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47
        const double hdop = nmea::AtoF(f[8].p, f[8].n);
        m_ggaHdop = f[8].n != 0 && hdop >= 0.0 && hdop < 3000.0
                        ? static_cast<std::int16_t>(std::lround(hdop * 10.0))
                        : std::int16_t{-1};
    }
    // hhmmss first in all three; RMC's date ddmmyy in field 9.
    const Field t = f[1];
    if (m_ubxTimed || !Digits(t, 6))
        return;
    const int h = nmea::AtoI(t.p, 2), m = nmea::AtoI(t.p + 2, 2), sec = nmea::AtoI(t.p + 4, 2);
    if (h > 23 || m > 59 || sec > 60)
        return;
    int y = 0, mo = 0, d = 0;
    if (rmc && Digits(f[9], 6)) {
        d = nmea::AtoI(f[9].p, 2);
        mo = nmea::AtoI(f[9].p + 2, 2);
        y = nmea::AtoI(f[9].p + 4, 2);
        // Two-digit years before 80 are this century's, as the receivers mean them.
        y = y < 80 ? 2000 + y : 1900 + y;
    }
    SetTime(h * 3600 + m * 60 + sec, y, mo, d);
}

void CSignalHistory::OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
    constexpr unsigned char kNav = 0x01, kEoe = 0x61;
    if (protocol != FrameProtocol::Ubx || len < 8 || frame[2] != kNav)
        return;
    const unsigned char *payload = frame + 6;
    const std::size_t n = len - 8;
    // NAV-EOE: the epoch that ends is the latest time's, not the one before, whether frames or
    // sentences gave it.
    if (frame[3] == kEoe) {
        m_prevTime = m_time;
        return;
    }
    std::uint32_t iTow = 0;
    if (!ubx::NavTimeOfWeek(frame, len, iTow))
        return;
    // A new time of week: the epoch before ended with the latest time, whatever this one's is.
    if (m_ubxTimed && iTow != m_iTow)
        m_prevTime = m_time;
    m_iTow = iTow;
    const ubx::Msg msg = ubx::Identify(frame[2], frame[3]);
    if (msg == ubx::Msg::NavPvt) {
        ubx::NavPvt m;
        if (ubx::Read(payload, n, m) != ubx::Result::Ok || !m.validTime || m.hour > 23 ||
            m.min > 59 || m.sec > 60)
            return;
        m_ubxTimed = true;
        SetTime(m.hour * 3600 + m.min * 60 + m.sec, m.validDate ? m.year : 0, m.month,
                m.validDate ? m.day : 0);
    } else if (msg == ubx::Msg::NavTimeutc) {
        ubx::NavTimeutc m;
        if (ubx::Read(payload, n, m) != ubx::Result::Ok || !m.validUtc || m.hour > 23 ||
            m.min > 59 || m.sec > 60)
            return;
        m_ubxTimed = true;
        SetTime(m.hour * 3600 + m.min * 60 + m.sec, m.year, m.month, m.day);
    }
}

void CSignalHistory::SetTime(std::int64_t tod, int year, int month, int day) {
    // A time of day far below the last one is the next day's, before a date says so.
    if (m_lastTod >= 0 && tod + 43200 < m_lastTod)
        ++m_day;
    if (day >= 1 && day <= 31 && month >= 1 && month <= 12 && year >= 1900 && year <= 9999)
        m_day = DaysFromCivil(year, month, day);
    m_lastTod = tod;
    const std::int64_t time = m_day * 86400 + tod;
    if (time != m_time) {
        m_prevTime = m_time < 0 ? time : m_time;
        m_time = time;
    }
}

void CSignalHistory::OnEpoch(const CNmeaDecoder &decoder, bool byNewTime) {
    if ((byNewTime ? m_prevTime : m_time) < 0)
        return;
    decoder.CopySky(*m_sky);
    OnEpoch(*m_sky, byNewTime);
}

void CSignalHistory::OnEpoch(const SkyView &sky, bool byNewTime) {
    const std::int64_t time = byNewTime ? m_prevTime : m_time;
    if (time < 0)
        return;
    const std::int16_t hdop = m_ggaHdop >= 0 ? m_ggaHdop
                              : sky.hdop > 0 ? sky.hdop
                                             : std::int16_t{-1};
    std::lock_guard lock(m_lock);
    Append(sky, time, hdop);
}

void CSignalHistory::OnJump() {
    m_jumped = true;
    // Times from before the jump say nothing of the day or the epoch after it.
    m_time = m_prevTime = m_lastTod = -1;
}

void CSignalHistory::DropNewest() {
    const HistorySample &s = m_samples[(m_oldest + m_count - 1) % kMaxSamples];
    m_sigCount -= s.count;
    --m_count;
}

void CSignalHistory::Append(const SkyView &sky, std::int64_t time, std::int16_t hdop) {
    if (!m_samples) {
        m_samples = std::make_unique<HistorySample[]>(kMaxSamples);
        m_sigs = std::make_unique<HistorySignal[]>(kMaxSignals);
    }
    // The same second again replaces its sample; after a jump, the samples from its time on go;
    // in a live stream an earlier second starts a new span.
    const auto newest = [this] { return m_samples[(m_oldest + m_count - 1) % kMaxSamples].time; };
    while (m_jumped && m_count != 0 && newest() >= time)
        DropNewest();
    if (m_count != 0 && newest() == time)
        DropNewest();
    m_jumped = false;
    std::size_t n = 0;
    for (std::size_t i = 0; i < sky.count; ++i) {
        const SkySat &sat = sky.sats[i];
        if (sat.nSigs == 0)
            n += sat.snr > 0 ? 1 : 0;
        for (std::size_t k = 0; k < sat.nSigs && k < SkySat::kMaxSignals; ++k)
            n += sat.sigs[k].snr > 0 ? 1 : 0;
    }
    const auto dropOldest = [this] {
        m_sigStart = (m_sigStart + m_samples[m_oldest].count) % kMaxSignals;
        m_sigCount -= m_samples[m_oldest].count;
        m_oldest = (m_oldest + 1) % kMaxSamples;
        --m_count;
    };
    if (m_count == kMaxSamples)
        dropOldest();
    while (m_count != 0 && kMaxSignals - m_sigCount < n)
        dropOldest();
    if (m_count == 0)
        m_sigStart = m_sigCount = 0;

    HistorySample &s = m_samples[(m_oldest + m_count) % kMaxSamples];
    s = HistorySample{};
    s.time = time;
    s.hdop = hdop;
    s.first = static_cast<std::uint32_t>((m_sigStart + m_sigCount) % kMaxSignals);
    s.count = static_cast<std::uint16_t>(n);
    for (std::size_t g = 0; g < kGnssCount; ++g) {
        s.inView[g] = Count(sky.inView[g]);
        s.used[g] = Count(sky.usedBy[g]);
    }
    std::size_t at = s.first;
    const auto put = [&](const SkySat &sat, std::uint8_t id, std::uint8_t snr) {
        if (snr == 0)
            return;
        m_sigs[at] = HistorySignal{
            static_cast<std::uint8_t>(static_cast<unsigned>(sat.gnss) | (sat.used ? 0x80u : 0u)),
            static_cast<std::uint8_t>(std::min<unsigned>(sat.sv, 255)), id, snr};
        at = (at + 1) % kMaxSignals;
    };
    for (std::size_t i = 0; i < sky.count; ++i) {
        const SkySat &sat = sky.sats[i];
        if (sat.nSigs == 0)
            put(sat, 0, sat.snr);
        for (std::size_t k = 0; k < sat.nSigs && k < SkySat::kMaxSignals; ++k)
            put(sat, sat.sigs[k].id, sat.sigs[k].snr);
    }
    m_sigCount += n;
    ++m_count;
}

SignalHistoryCopy CSignalHistory::Copy() const {
    SignalHistoryCopy out;
    std::lock_guard lock(m_lock);
    out.samples.resize(m_count);
    out.sigs.resize(m_sigCount);
    const std::size_t head = std::min(m_sigCount, kMaxSignals - m_sigStart);
    if (m_sigCount != 0) {
        std::memcpy(out.sigs.data(), &m_sigs[m_sigStart], head * sizeof(HistorySignal));
        std::memcpy(out.sigs.data() + head, &m_sigs[0],
                    (m_sigCount - head) * sizeof(HistorySignal));
    }
    for (std::size_t i = 0; i < m_count; ++i) {
        HistorySample s = m_samples[(m_oldest + i) % kMaxSamples];
        s.first = static_cast<std::uint32_t>((s.first + kMaxSignals - m_sigStart) % kMaxSignals);
        out.samples[i] = s;
    }
    // Spans are held in the order they came; the plots want one time line. Each sample keeps its
    // own signals (first, count), so only the samples move.
    const auto byTime = [](const HistorySample &a, const HistorySample &b) {
        return a.time < b.time;
    };
    if (!std::is_sorted(out.samples.begin(), out.samples.end(), byTime)) {
        std::stable_sort(out.samples.begin(), out.samples.end(), byTime);
        // Of one second in two spans, the later span's sample stays (it sorted last).
        std::vector<HistorySample> kept;
        kept.reserve(out.samples.size());
        for (std::size_t i = 0; i < out.samples.size(); ++i)
            if (i + 1 == out.samples.size() || out.samples[i + 1].time != out.samples[i].time)
                kept.push_back(out.samples[i]);
        out.samples = std::move(kept);
    }
    return out;
}

std::size_t CSignalHistory::Size() const {
    std::lock_guard lock(m_lock);
    return m_count;
}
