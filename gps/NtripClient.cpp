#include "NtripClient.h"

#include "NtripSource.h"
#include "analysis/FixTrack.h"
#include "model/Geodesy.h"
#include "model/NmeaDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <pthread.h>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// The pause before attempt n+1 after n failures in a row: 1, 2, 4 ... s, then once a minute.
int PauseSeconds(int failures) {
    return failures >= 6 ? 60 : 1 << std::max(0, failures);
}

constexpr int kReadMs = 250;

} // namespace

double BaseDistanceKm(const CorrectionStatus &status, const GpsFix &fix, const FixExtra &extra) {
    if (!status.hasBase || (extra.sent & kSentPosition) == 0 || fix.bValid == 0)
        return -1.0;
    const double lat = extra.hasPrecise ? extra.preciseLat : fix.lLatitude / 1e6;
    const double lon = extra.hasPrecise ? extra.preciseLon : fix.lLongitude / 1e6;
    const double h = extra.hasPrecise ? extra.preciseHeight : 0.0;
    double x = 0.0, y = 0.0, z = 0.0;
    GeodeticToEcef(lat, lon, h, x, y, z);
    const double dx = x - status.base.x, dy = y - status.base.y, dz = z - status.base.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz) / 1000.0;
}

std::string ComposeGga(const GpsFix &fix, const FixExtra &extra) {
    if (fix.bValid == 0 || (extra.sent & kSentPosition) == 0 || fix.cFixMode == 1)
        return {};
    const double lat = extra.hasPrecise ? extra.preciseLat : fix.lLatitude / 1e6;
    const double lon = extra.hasPrecise ? extra.preciseLon : fix.lLongitude / 1e6;
    const double alt = extra.hasPrecise ? extra.preciseMsl : fix.wAltitude;
    const double geoid = extra.hasPrecise ? extra.preciseHeight - extra.preciseMsl : 0.0;
    const auto split = [](double deg, int &whole, double &minutes) {
        deg = std::abs(deg);
        whole = static_cast<int>(deg);
        minutes = (deg - whole) * 60.0;
        // Rounded to the five decimals printed: 59.999996 must not print as 60.00000.
        if (std::round(minutes * 1e5) >= 60.0 * 1e5) {
            ++whole;
            minutes = 0.0;
        }
    };
    int latDeg = 0, lonDeg = 0;
    double latMin = 0.0, lonMin = 0.0;
    split(lat, latDeg, latMin);
    split(lon, lonDeg, lonMin);
    // The caster wants where the rover is; the time is the sending moment's, in UTC, which the
    // record (kept in local time) would only approximate.
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    const int quality = extra.quality > 0 ? extra.quality : 1;
    const int used = std::clamp<int>(fix.cSatsUsed, 0, 99);
    const double hdop = (extra.sent & kSentHdop) != 0 && fix.nHdop > 0 ? fix.nHdop / 10.0 : 1.0;
    char body[160];
    std::snprintf(body, sizeof body,
                  "GPGGA,%02d%02d%02d.00,%02d%08.5f,%c,%03d%08.5f,%c,%d,%02d,%.1f,%.1f,M,%.1f,M,,",
                  utc.tm_hour, utc.tm_min, utc.tm_sec, latDeg, latMin, lat < 0 ? 'S' : 'N', lonDeg,
                  lonMin, lon < 0 ? 'W' : 'E', quality, used, hdop, alt, geoid);
    unsigned char sum = 0;
    for (const char *p = body; *p != '\0'; ++p)
        sum ^= static_cast<unsigned char>(*p);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return std::string("$") + body + tail;
}

CNtripClient::CNtripClient(NtripOptions options, FrameSink sink, FixSource fixSource)
    : m_options(std::move(options)), m_sink(std::move(sink)), m_fixSource(std::move(fixSource)) {
    m_options.stallS = std::clamp(m_options.stallS, 1, 30);
    m_options.ggaIntervalS = std::max(1, m_options.ggaIntervalS);
    m_status.url = platform::ntrip::MaskedUrl(m_options.url);
    m_status.mount = m_options.url.mount;
    m_status.ggaOn = m_options.ggaUpload;
}

CNtripClient::~CNtripClient() {
    Stop();
}

void CNtripClient::Start() {
    Stop();
    m_stop.Lower();
    {
        std::lock_guard lock(m_lock);
        m_status.on = true;
        m_status.state = "connecting";
        m_startMs = NowMs();
    }
    m_thread = std::thread([this] { Run(); });
}

void CNtripClient::Stop() {
    if (!m_thread.joinable())
        return;
    m_stop.Raise();
    m_thread.join();
    std::lock_guard lock(m_lock);
    m_status.on = false;
    m_status.receiving = false;
    m_status.state = "stopped";
}

CorrectionStatus CNtripClient::Status() const {
    std::lock_guard lock(m_lock);
    CorrectionStatus s = m_status;
    const std::int64_t now = NowMs();
    if (m_lastFrameMs >= 0)
        s.ageS = static_cast<double>(now - m_lastFrameMs) / 1000.0;
    s.receiving = s.on && m_lastFrameMs >= 0 && s.ageS <= m_options.stallS;
    if (!s.on || !m_refusal.empty()) {
        if (s.on)
            s.state = m_refusal;
        return s;
    }
    // Whatever the connection's state, corrections that do not come are what matters.
    const std::int64_t since = m_lastFrameMs >= 0 ? m_lastFrameMs : m_startMs;
    const std::int64_t quietS = (now - since) / 1000;
    if (quietS >= m_options.stallS)
        s.state = "no corrections for " + std::to_string(quietS) + " s";
    else if (s.receiving)
        s.state = "receiving";
    else if (!m_failure.empty())
        s.state = m_failure;
    return s;
}

void CNtripClient::SetState(const std::string &state, const std::string &failure,
                            const std::string &refusal) {
    std::lock_guard lock(m_lock);
    m_status.state = state;
    m_failure = failure;
    m_refusal = refusal;
}

bool CNtripClient::LearnGga() {
    std::string why;
    auto table = platform::CNtripSource::FetchSourceTable(m_options.url, 5000, why, &m_stop);
    if (m_stop.IsRaised())
        return false;
    for (const auto &entry : table) {
        if (entry.mount == m_options.url.mount && entry.wantsGga) {
            std::lock_guard lock(m_lock);
            m_status.ggaOn = true;
        }
    }
    return true;
}

void CNtripClient::Run() {
    // Named, so that top -H and a debugger tell it from the reader.
    pthread_setname_np(pthread_self(), "skywatch-ntrip");
    if (!m_options.ggaUpload && !LearnGga())
        return;
    int failures = 0;
    int version = 2;
    while (!m_stop.IsRaised()) {
        const Session session = RunSession(version);
        if (m_stop.IsRaised())
            break;
        if (session.frames > 0)
            failures = 0;
        else
            ++failures;
        // A caster that answered a version 2 request with nothing it could read may know
        // version 1 only.
        if (!session.answered && version == 2)
            version = 1;
        else if (session.answered && session.frames == 0 && version == 1 && !session.refused)
            version = 2;
        {
            std::lock_guard lock(m_lock);
            ++m_status.reconnects;
        }
        m_stop.WaitFor(
            std::chrono::seconds(session.answered || failures > 1 ? PauseSeconds(failures) : 0));
    }
}

CNtripClient::Session CNtripClient::RunSession(int version) {
    Session session;
    platform::CNtripSource source(m_options.url, version);
    SetState("connecting", m_failure, {});
    std::string message;
    if (!source.Open(0, message)) {
        SetState("connecting", message, {});
        return session;
    }
    rtcm3::CFramer framer;
    std::uint32_t badSeen = 0;
    std::int64_t lastDataMs = NowMs();
    std::int64_t nextGgaMs = 0;
    char buf[4096];
    while (!m_stop.IsRaised()) {
        const platform::SerialRead r = source.Read(buf, sizeof buf, kReadMs, m_stop);
        if (r.woken)
            break;
        if (r.gone)
            source.ConnectionClosed();
        const auto phase = source.CurrentPhase();
        if (phase == platform::CNtripSource::Phase::Data && !session.answered) {
            session.answered = true;
            SetState("waiting for data", {}, {});
        }
        if (r.count > 0) {
            {
                std::lock_guard lock(m_lock);
                m_status.bytes += r.count;
            }
            framer.Feed(reinterpret_cast<const unsigned char *>(buf), r.count,
                        [&](const unsigned char *frame, std::size_t len) {
                            ++session.frames;
                            lastDataMs = NowMs();
                            Deliver(frame, len);
                        });
            if (framer.BadCrc() != badSeen) {
                std::lock_guard lock(m_lock);
                m_status.badCrc += framer.BadCrc() - badSeen;
                badSeen = framer.BadCrc();
            }
        }
        // Frames that came before a break are good: they went on above.
        if (phase == platform::CNtripSource::Phase::Refused) {
            session.answered = source.Head().kind != platform::ntrip::ResponseHead::Kind::Other;
            session.refused = true;
            const std::string words = source.Refusal();
            SetState(words, {}, words);
            return session;
        }
        if (r.gone) {
            const std::string why = r.error == 0 || r.error == ECONNRESET
                                        ? "the caster closed the connection"
                                        : "cannot reach " +
                                              platform::ntrip::MaskedUrl(m_options.url) + ": " +
                                              std::strerror(r.error);
            SetState("connecting", why, {});
            return session;
        }
        const std::int64_t now = NowMs();
        if (now - lastDataMs > m_options.stallS * 1000LL) {
            SetState("connecting", {}, {});
            return session;
        }
        if (session.answered && now >= nextGgaMs && GgaWanted()) {
            GpsFix fix{};
            FixExtra extra;
            m_fixSource(fix, extra);
            const std::string gga = ComposeGga(fix, extra);
            if (!gga.empty()) {
                std::string why;
                if (source.SendGga(gga, 1000, why)) {
                    std::lock_guard lock(m_lock);
                    ++m_status.ggaSent;
                }
                nextGgaMs = now + m_options.ggaIntervalS * 1000LL;
            }
        }
    }
    return session;
}

bool CNtripClient::GgaWanted() const {
    std::lock_guard lock(m_lock);
    return m_status.ggaOn;
}

void CNtripClient::Deliver(const unsigned char *frame, std::size_t len) {
    std::string why;
    const bool written = m_sink ? m_sink(frame, len, why) : false;
    std::lock_guard lock(m_lock);
    m_lastFrameMs = NowMs();
    ++m_status.frames;
    const int type = rtcm3::MessageType(frame, len);
    if (type >= 0)
        ++m_status.types[type];
    // Most messages name their station in the 12 bits after the message number.
    if (type >= 1001 && len >= 3 + 3 + 3)
        m_status.station = (frame[4] & 0x0F) << 8 | frame[5];
    rtcm3::Station station;
    if (rtcm3::ReadStation(frame, len, station)) {
        m_status.hasBase = true;
        m_status.base = station;
    }
    if (written) {
        ++m_status.forwarded;
        m_status.notForwarded.clear();
    } else {
        m_status.notForwarded = why;
    }
}
