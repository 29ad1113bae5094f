#include "receiver/ReceiverConfigurator.h"

#include "model/SkyTable.h"
#include "receiver/ReceiverLink.h"
#include "receiver/RestartCommands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kFamilyWaitMs = 3000;
constexpr int kCanSendWaitMs = 1000;
constexpr int kReplyWaitMs = 1500;
constexpr int kMonVerWaitMs = 1500;
// Epochs of the old rate still in the line when the acknowledgement comes.
constexpr int kRateSettleMs = 500;
constexpr int kRateMeasureMs = 2500;
// The sky table keeps a silent system 5 s: a switched-off one leaves it after that.
constexpr int kGnssWaitMs = 8000;
constexpr int kBaudWaitMs = 4000;
// Good sentences or frames at the new speed that show the stream goes on.
constexpr std::size_t kBaudProof = 3;
constexpr std::size_t kMaxReplies = 4096;

double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string Fixed1(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// The time of fix of a GGA, RMC or GNS in milliseconds of the day; -1 for other sentences.
// $GPGGA,092725.00,4717.11399,N,00833.91590,E,1,08,1.01,499.6,M,48.0,M,,*5B
std::int64_t SentenceTimeMs(const std::string &s) {
    if (s.size() < 14 || s[0] != '$' || s[6] != ',')
        return -1;
    const std::string type = s.substr(3, 3);
    if (type != "GGA" && type != "RMC" && type != "GNS")
        return -1;
    int hh = 0, mm = 0;
    double ss = 0.0;
    if (std::sscanf(s.c_str() + 7, "%2d%2d%lf", &hh, &mm, &ss) != 3)
        return -1;
    if (hh > 23 || mm > 59 || ss < 0.0 || ss >= 61.0)
        return -1;
    return (hh * 3600 + mm * 60) * 1000 + std::llround(ss * 1000.0);
}

// NAV-PVT's time of week (iTOW, ms), -1 for other frames.
std::int64_t FrameTimeMs(const std::string &f) {
    if (f.size() < 12 || static_cast<unsigned char>(f[2]) != 0x01 ||
        static_cast<unsigned char>(f[3]) != 0x07)
        return -1;
    std::uint32_t itow = 0;
    for (std::size_t i = 4; i-- > 0;)
        itow = (itow << 8) | static_cast<unsigned char>(f[6 + i]);
    return itow;
}

// Epochs a second from distinct times of fix: (n - 1) over their span.
double RateOf(const std::set<std::int64_t> &times) {
    if (times.size() < 2)
        return 0.0;
    const double span = static_cast<double>(*times.rbegin() - *times.begin()) / 1000.0;
    return span > 0.0 ? static_cast<double>(times.size() - 1) / span : 0.0;
}

// MON-VER's "PROTVER=27.11" (or "PROTVER 14.00") extension as 2711; 0 when it has none.
int ProtocolVersionOf(const std::string &frame) {
    constexpr std::size_t kHead = 6, kFixed = 40, kExtension = 30;
    if (frame.size() < kHead + 2)
        return 0;
    const std::size_t end = frame.size() - 2;
    for (std::size_t at = kHead + kFixed; at + kExtension <= end; at += kExtension) {
        std::string ext = frame.substr(at, kExtension);
        ext = ext.substr(0, ext.find('\0'));
        if (ext.rfind("PROTVER", 0) != 0 || ext.size() < 9)
            continue;
        int major = 0, minor = 0;
        if (std::sscanf(ext.c_str() + 8, "%d.%d", &major, &minor) >= 1 && major > 0 && major < 100)
            return major * 100 + minor;
    }
    return 0;
}

bool IsMonVer(const std::string &frame) {
    return frame.size() >= 8 && static_cast<unsigned char>(frame[2]) == 0x0A &&
           static_cast<unsigned char>(frame[3]) == 0x04;
}

unsigned GnssBitOf(Gnss gnss) {
    switch (gnss) {
    case Gnss::GPS:
        return kGnssGps;
    case Gnss::GLONASS:
        return kGnssGlonass;
    case Gnss::Galileo:
        return kGnssGalileo;
    case Gnss::BeiDou:
        return kGnssBeidou;
    case Gnss::QZSS:
        return kGnssQzss;
    case Gnss::SBAS:
        return kGnssSbas;
    case Gnss::NavIC:
        break;
    }
    return 0;
}

unsigned SystemsInView(const CReceiverLink &port) {
    auto sky = std::make_unique<SkyView>();
    port.CopySky(*sky);
    unsigned mask = 0;
    for (std::size_t g = 0; g < kGnssCount; ++g)
        if (sky->inView[g] > 0)
            mask |= GnssBitOf(static_cast<Gnss>(g));
    return mask;
}

// "not supported: ..." or "refused: ..." from the commands' composer, as a result and its reason.
void Refuse(const std::string &why, SettingResult &result) {
    for (const char *kind : {"not supported", "refused"}) {
        const std::string prefix = std::string(kind) + ": ";
        if (why.rfind(prefix, 0) == 0) {
            result.result = kind;
            result.detail = why.substr(prefix.size());
            return;
        }
    }
    result.result = "refused";
    result.detail = why.empty() ? "nothing to send" : why;
}

// The order in which a command line's settings can all succeed: a faster line first, so a rate
// it carries is not judged at the old speed; a slower one last, once the rate is down.
std::vector<std::size_t> ApplyOrder(const std::vector<Setting> &settings, int baud) {
    std::vector<std::size_t> order(settings.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto rank = [&](std::size_t i) {
        const Setting &s = settings[i];
        if (s.kind != SettingKind::Baud || baud <= 0)
            return 1;
        return s.baud > baud ? 0 : 2;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
    return order;
}

} // namespace

std::string ResultText(const SettingResult &result) {
    std::string head = result.setting;
    if (!result.value.empty())
        head += " " + result.value + (result.setting == "rate" ? " Hz" : "");
    if (result.Confirmed())
        return head + ": confirmed";
    const bool sent = result.result == "nak" || result.result == "no answer";
    std::string text = head + ": " + (sent ? std::string("not confirmed") : result.result);
    if (!result.detail.empty())
        text += ": " + result.detail;
    return text;
}

CReceiverConfigurator::CReceiverConfigurator(CReceiverLink &port) : m_port(port) {
    m_port.SetReplyListener([this](const char *data, std::size_t len, bool binary) {
        std::lock_guard lock(m_lock);
        m_replies.push_back({std::string(data, len), binary});
        if (m_replies.size() > kMaxReplies)
            m_replies.pop_front();
        m_changed.notify_all();
    });
}

CReceiverConfigurator::~CReceiverConfigurator() {
    m_port.SetReplyListener(nullptr);
}

void CReceiverConfigurator::ClearReplies() {
    std::lock_guard lock(m_lock);
    m_replies.clear();
}

std::deque<CReceiverConfigurator::Reply> CReceiverConfigurator::TakeReplies() {
    std::lock_guard lock(m_lock);
    return std::exchange(m_replies, {});
}

ReceiverFamily CReceiverConfigurator::AwaitFamily() {
    const auto until = Clock::now() + milliseconds(kFamilyWaitMs);
    while (m_port.Family() == ReceiverFamily::Unknown && Clock::now() < until) {
        // A port reopened at a new speed forgets the family this one already learnt.
        if (m_family != ReceiverFamily::Unknown)
            return m_family;
        std::this_thread::sleep_for(milliseconds(20));
    }
    if (m_port.Family() == ReceiverFamily::Unknown) {
        const std::string queries = ComposeFamilyQueries();
        m_port.Send(queries.data(), queries.size());
        const auto asked = Clock::now() + milliseconds(kFamilyQueryMs);
        while (m_port.Family() == ReceiverFamily::Unknown && Clock::now() < asked)
            std::this_thread::sleep_for(milliseconds(20));
    }
    if (m_port.Family() != ReceiverFamily::Unknown)
        m_family = m_port.Family();
    return m_family;
}

int CReceiverConfigurator::ProtocolVersion() {
    if (m_protocolVersion >= 0)
        return m_protocolVersion;
    static const unsigned char kPoll[] = {0xB5, 0x62, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34};
    for (int attempt = 0; attempt < 2; ++attempt) {
        ClearReplies();
        m_port.Send(reinterpret_cast<const char *>(kPoll), sizeof kPoll);
        const auto until = Clock::now() + milliseconds(kMonVerWaitMs);
        std::unique_lock lock(m_lock);
        while (Clock::now() < until) {
            for (const Reply &reply : m_replies)
                if (reply.binary && IsMonVer(reply.bytes)) {
                    m_protocolVersion = ProtocolVersionOf(reply.bytes);
                    return m_protocolVersion;
                }
            m_changed.wait_until(lock, until);
        }
    }
    // A receiver that does not answer is taken for one of the legacy messages, not remembered.
    return 0;
}

int CReceiverConfigurator::SendStep(const ConfigStep &step, std::string &failure) {
    // A command lost on the line is sent once more before the receiver is called silent.
    for (int attempt = 0; attempt < 2; ++attempt) {
        ClearReplies();
        m_port.Send(step.bytes.data(), step.bytes.size());
        if (!m_port.LastSendFailure().empty()) {
            failure = m_port.LastSendFailure();
            return 0;
        }
        if (step.reply.kind == ReplyMatch::Kind::None)
            return 2;
        if (const int match = AwaitReply(step.reply); match != 0)
            return match;
    }
    return 0;
}

int CReceiverConfigurator::AwaitReply(const ReplyMatch &reply) {
    const auto until = Clock::now() + milliseconds(kReplyWaitMs);
    std::unique_lock lock(m_lock);
    for (;;) {
        while (!m_replies.empty()) {
            const Reply got = std::move(m_replies.front());
            m_replies.pop_front();
            const int match =
                got.binary
                    ? MatchUbxFrame(reply,
                                    reinterpret_cast<const unsigned char *>(got.bytes.data()),
                                    got.bytes.size())
                    : MatchSentence(reply, got.bytes.data(), got.bytes.size());
            if (match != 0)
                return match;
        }
        if (m_changed.wait_until(lock, until) == std::cv_status::timeout && m_replies.empty())
            return 0;
    }
}

bool CReceiverConfigurator::SendSetting(ReceiverFamily family, int protocolVersion,
                                        const Setting &setting, SettingResult &result) {
    std::string why;
    const std::vector<ConfigStep> steps =
        ComposeSetting(family, protocolVersion, setting, false, why);
    if (steps.empty()) {
        Refuse(why, result);
        return false;
    }
    m_acknowledged = false;
    for (const ConfigStep &step : steps) {
        std::string failure;
        const int outcome = SendStep(step, failure);
        m_acknowledged = m_acknowledged || outcome == 1;
        if (outcome < 0) {
            // The key interface refuses a whole VALSET for one key: each alone names it.
            const bool valset = step.reply.kind == ReplyMatch::Kind::UbxAck &&
                                step.reply.ubxClass == 0x06 && step.reply.ubxId == 0x8A;
            if (family == ReceiverFamily::Ublox && valset)
                return SendKeyByKey(family, protocolVersion, setting, result);
            result.result = "nak";
            result.detail = "receiver sent NAK for " + step.what;
            return false;
        }
        // A baud change may be answered at the new speed or not at all: the stream decides.
        if (outcome == 0 && setting.kind != SettingKind::Baud) {
            result.result = "no answer";
            result.detail = failure.empty() ? "no reply to " + step.what + ", sent twice, " +
                                                  Fixed1(kReplyWaitMs / 1000.0) + " s each"
                                            : step.what + " not sent: " + failure;
            return false;
        }
        if (step.settleMs > 0)
            std::this_thread::sleep_for(milliseconds(step.settleMs));
    }
    return true;
}

bool CReceiverConfigurator::SendKeyByKey(ReceiverFamily family, int protocolVersion,
                                         const Setting &setting, SettingResult &result) {
    std::string why;
    const std::vector<ConfigStep> steps =
        ComposeSetting(family, protocolVersion, setting, true, why);
    std::vector<std::string> refused;
    std::size_t applied = 0;
    for (const ConfigStep &step : steps) {
        std::string failure;
        const int outcome = SendStep(step, failure);
        if (outcome < 0)
            refused.push_back(step.what);
        else if (outcome > 0)
            ++applied;
        if (step.settleMs > 0)
            std::this_thread::sleep_for(milliseconds(step.settleMs));
    }
    result.result = refused.empty() ? "no answer" : "nak";
    std::string names;
    for (const std::string &name : refused)
        names += (names.empty() ? "" : ", ") + name;
    if (refused.empty())
        result.detail = "receiver sent NAK for the whole change and no reply key by key";
    else
        result.detail = std::string(refused.size() == 1 ? "refused key " : "refused keys ") +
                        names + (applied > 0 ? "; others applied" : "; nothing applied");
    return false;
}

bool CReceiverConfigurator::Admit(ReceiverFamily family, int protocolVersion,
                                  const Setting &setting, SettingResult &result) {
    std::string why;
    if (ComposeSetting(family, protocolVersion, setting, false, why).empty()) {
        Refuse(why, result);
        return false;
    }
    if (setting.kind == SettingKind::Baud && m_port.IsNetworkSource()) {
        result.result = "refused";
        result.detail = "a network source has no baud rate of its own";
        return false;
    }
    if (setting.kind == SettingKind::Save || m_port.IsNetworkSource())
        return true;
    // Judged before anything is sent: a line that cannot carry the stream loses the receiver.
    // Settings written but not yet in use (ST) count as what the receiver will run on.
    int baud = m_pending.baud > 0 ? m_pending.baud : m_port.Baud();
    double rate = m_pending.rateHz;
    unsigned gnss = m_pending.gnss;
    if (setting.kind == SettingKind::Baud)
        baud = setting.baud;
    if (setting.kind == SettingKind::Rate)
        rate = setting.rateHz;
    else if (rate <= 0.0)
        rate = m_rateHz > 0.0 ? m_rateHz : Measure(kRateMeasureMs).rateHz;
    if (rate <= 0.0)
        rate = 1.0;
    if (setting.kind == SettingKind::Gnss)
        gnss = setting.gnss;
    else if (gnss == 0)
        gnss = SystemsInView(m_port);
    if (!FitsLine(static_cast<int>(std::lround(rate)), gnss, baud, why)) {
        result.result = "refused";
        result.detail = why;
        return false;
    }
    return true;
}

bool CReceiverConfigurator::Prepare(const Setting &setting, SettingResult &result,
                                    ReceiverFamily &family, int &protocolVersion,
                                    FamilySupport &support) {
    result.setting = SettingName(setting.kind);
    result.value = SettingValue(setting);
    std::string why;
    // gpsd names the device it serves just after the connection stands: waited for once.
    const auto ready = Clock::now() + milliseconds(m_waitedForSource ? 0 : kCanSendWaitMs);
    m_waitedForSource = true;
    while (!m_port.CanSend(why) && Clock::now() < ready)
        std::this_thread::sleep_for(milliseconds(20));
    if (!m_port.CanSend(why)) {
        result.result = "refused";
        result.detail = why;
        return false;
    }
    family = AwaitFamily();
    if (family == ReceiverFamily::Unknown) {
        result.result = "not supported";
        result.detail = "receiver not recognised";
        return false;
    }
    protocolVersion = family == ReceiverFamily::Ublox ? ProtocolVersion() : 0;
    support = SupportOf(family, protocolVersion);
    return Admit(family, protocolVersion, setting, result);
}

void CReceiverConfigurator::Verify(const Setting &setting, Clock::time_point started,
                                   SettingResult &result) {
    switch (setting.kind) {
    case SettingKind::Rate: {
        std::this_thread::sleep_for(milliseconds(kRateSettleMs));
        const double measured = Measure(kRateMeasureMs).rateHz;
        if (std::fabs(measured - setting.rateHz) <= 0.1 * setting.rateHz) {
            m_rateHz = measured;
            result.result = "confirmed";
            result.detail = "measured " + Fixed1(measured) + " Hz";
        } else {
            result.result = "no answer";
            result.detail = "acknowledged, but " + Fixed1(measured) + " Hz measured";
        }
        break;
    }
    case SettingKind::Gnss: {
        // Systems it could not switch off stay; the chosen ones must be all that is left.
        const FamilySupport &support = m_support;
        const unsigned judged = support.gnssChoices;
        const unsigned allowed = setting.gnss | support.gnssRequired;
        const auto until = Clock::now() + milliseconds(kGnssWaitMs);
        unsigned seen = 0;
        for (;;) {
            seen = SystemsInView(m_port);
            // Every system asked must show, and every one dropped be gone: an acknowledgement
            // alone proves nothing.
            const unsigned missing = setting.gnss & judged & ~seen;
            const unsigned stayed = seen & judged & ~allowed;
            if (missing == 0 && stayed == 0 && (seen & setting.gnss) != 0) {
                result.result = "confirmed";
                result.detail = "in view: " + GnssListText(seen);
                break;
            }
            if (Clock::now() >= until) {
                result.result = "no answer";
                result.detail = "acknowledged, but in view: " +
                                (seen == 0 ? std::string("none") : GnssListText(seen));
                if (missing != 0)
                    result.detail += "; not seen: " + GnssListText(missing);
                if (stayed != 0)
                    result.detail += "; still in view: " + GnssListText(stayed);
                break;
            }
            std::this_thread::sleep_for(milliseconds(250));
        }
        break;
    }
    case SettingKind::Baud: {
        const int old = m_port.Baud();
        std::size_t good = 0;
        if (m_port.ChangeBaud(setting.baud)) {
            ClearReplies();
            const auto until = Clock::now() + milliseconds(kBaudWaitMs);
            std::unique_lock lock(m_lock);
            while (m_replies.size() < kBaudProof && Clock::now() < until)
                m_changed.wait_until(lock, until);
            good = m_replies.size();
        }
        if (good >= kBaudProof) {
            result.result = "confirmed";
            result.detail = "stream decodes at " + std::to_string(setting.baud) + " baud";
        } else {
            const bool back = m_port.ChangeBaud(old);
            result.result = "no answer";
            result.detail = "no stream at " + std::to_string(setting.baud) + "; " +
                            (back ? "back at " + std::to_string(old)
                                  : "cannot reopen at " + std::to_string(old));
        }
        break;
    }
    case SettingKind::Save:
        // A save shows only after a power cycle: its acknowledgement is all there is to see.
        if (m_acknowledged) {
            result.result = "confirmed";
            result.detail = "receiver acknowledged the save";
        } else {
            result.result = "no answer";
            result.detail = "sent; the receiver does not acknowledge a save";
        }
        break;
    }
    if (result.Confirmed())
        result.seconds = SecondsSince(started);
}

SettingResult CReceiverConfigurator::Apply(const Setting &setting) {
    SettingResult result;
    ReceiverFamily family = ReceiverFamily::Unknown;
    int protocolVersion = 0;
    if (!Prepare(setting, result, family, protocolVersion, m_support))
        return result;
    if (m_support.onlyWithSave && setting.kind != SettingKind::Save) {
        result.result = "refused";
        result.detail = std::string(FamilyName(family)) + " applies it only with save";
        return result;
    }
    const auto started = Clock::now();
    if (!SendSetting(family, protocolVersion, setting, result))
        return result;
    Verify(setting, started, result);
    return result;
}

std::vector<SettingResult> CReceiverConfigurator::ApplyAll(const std::vector<Setting> &settings,
                                                           bool save) {
    std::vector<SettingResult> results;
    Setting saving;
    saving.kind = SettingKind::Save;
    SettingResult probe;
    ReceiverFamily family = ReceiverFamily::Unknown;
    int protocolVersion = 0;
    const bool known = Prepare(saving, probe, family, protocolVersion, m_support);
    if (!(known && save && m_support.onlyWithSave)) {
        results.resize(settings.size());
        for (std::size_t i : ApplyOrder(settings, m_port.Baud()))
            results[i] = Apply(settings[i]);
        if (!save)
            return results;
        // A save of a half-made change would keep it across power cycles.
        const auto failed = std::find_if(results.begin(), results.end(),
                                         [](const SettingResult &r) { return !r.Confirmed(); });
        if (failed == results.end()) {
            results.push_back(Apply(saving));
        } else if (!known && !probe.result.empty()) {
            // A save that could not go anyway says its own reason (a source that takes no
            // commands), which names the fault better than the failed change does.
            results.push_back(probe);
        } else {
            SettingResult skipped;
            skipped.setting = SettingName(SettingKind::Save);
            skipped.result = "not sent";
            skipped.detail = "an earlier change failed (" + failed->setting + ")";
            results.push_back(skipped);
        }
        return results;
    }
    // Settings that take effect only from the saved configuration: all written, saved, the
    // receiver reset by the save, then each checked in what it does after.
    const auto started = Clock::now();
    std::vector<std::size_t> pending;
    for (const Setting &setting : settings) {
        SettingResult result;
        if (Prepare(setting, result, family, protocolVersion, m_support) &&
            SendSetting(family, protocolVersion, setting, result)) {
            pending.push_back(results.size());
            if (setting.kind == SettingKind::Rate)
                m_pending.rateHz = setting.rateHz;
            else if (setting.kind == SettingKind::Gnss)
                m_pending.gnss = setting.gnss;
            else if (setting.kind == SettingKind::Baud)
                m_pending.baud = setting.baud;
        }
        results.push_back(result);
    }
    m_pending = Current{};
    SettingResult saved;
    saved.setting = SettingName(SettingKind::Save);
    const bool stored = SendSetting(family, protocolVersion, saving, saved);
    if (stored)
        Verify(saving, started, saved);
    // The speed first: nothing else can be seen until the port follows it.
    std::stable_sort(pending.begin(), pending.end(), [&](std::size_t a, std::size_t b) {
        return (settings[a].kind == SettingKind::Baud) > (settings[b].kind == SettingKind::Baud);
    });
    for (std::size_t i : pending) {
        if (!stored) {
            results[i].result = "no answer";
            results[i].detail = "written, but the save failed: " + saved.detail;
            continue;
        }
        Verify(settings[i], started, results[i]);
    }
    results.push_back(saved);
    return results;
}

CReceiverConfigurator::Current CReceiverConfigurator::Measure(int ms) {
    ClearReplies();
    std::this_thread::sleep_for(milliseconds(ms));
    std::set<std::int64_t> nmea, ubx;
    for (const Reply &reply : TakeReplies()) {
        const std::int64_t t =
            reply.binary ? FrameTimeMs(reply.bytes) : SentenceTimeMs(reply.bytes);
        if (t >= 0)
            (reply.binary ? ubx : nmea).insert(t);
    }
    Current current;
    // UBX time of week and NMEA time of day are apart; the binary list, when sent, decides.
    current.rateHz = ubx.size() >= 2 ? RateOf(ubx) : RateOf(nmea);
    current.gnss = SystemsInView(m_port);
    current.baud = m_port.IsNetworkSource() ? 0 : std::max(m_port.Baud(), 0);
    return current;
}
