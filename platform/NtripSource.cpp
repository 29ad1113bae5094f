#include "NtripSource.h"

#include "WakeEvent.h"

#include <chrono>

namespace platform {

namespace {

SourceUrl TcpOf(const ntrip::NtripUrl &url) {
    SourceUrl tcp;
    tcp.kind = SourceUrl::Kind::Tcp;
    tcp.host = url.host;
    tcp.port = url.port;
    return tcp;
}

} // namespace

CNtripSource::CNtripSource(const ntrip::NtripUrl &url, int version)
    : CSocketSource(TcpOf(url)), m_ntrip(url), m_version(version) {}

CNtripSource::Phase CNtripSource::CurrentPhase() const {
    std::lock_guard lock(m_lock);
    return m_phase;
}

std::string CNtripSource::Refusal() const {
    std::lock_guard lock(m_lock);
    return m_refusal;
}

ntrip::ResponseHead CNtripSource::Head() const {
    std::lock_guard lock(m_lock);
    return m_head;
}

void CNtripSource::ConnectionClosed() {
    std::lock_guard lock(m_lock);
    if (m_phase != Phase::Head || m_headBytes.empty())
        return;
    m_head = ntrip::ParseHead(m_headBytes);
    m_phase = Phase::Refused;
    m_refusal = ntrip::RefusalWords(m_head);
    if (m_head.kind == ntrip::ResponseHead::Kind::Stream)
        m_refusal = "the caster closed the connection";
}

bool CNtripSource::SendGga(const std::string &sentence, int timeoutMs, std::string &failure) {
    return Write(sentence.data(), sentence.size(), timeoutMs, failure);
}

std::string CNtripSource::Description() const {
    return "NTRIP caster " + ntrip::MaskedUrl(m_ntrip);
}

bool CNtripSource::CanSendCommands(std::string &why) const {
    why.clear();
    return true;
}

void CNtripSource::OnConnected() {
    {
        std::lock_guard lock(m_lock);
        m_phase = Phase::Head;
        m_head = {};
        m_refusal.clear();
    }
    m_headBytes.clear();
    m_chunks = {};
    const std::string request = ntrip::BuildRequest(m_ntrip, m_version);
    // A caster that does not take the request is seen in the answer that never comes.
    SendAll(request.data(), request.size(), 1000);
}

std::size_t CNtripSource::Filter(char *buf, std::size_t n) {
    Phase phase;
    {
        std::lock_guard lock(m_lock);
        phase = m_phase;
    }
    if (phase == Phase::Refused || phase == Phase::Connecting)
        return 0;
    std::size_t from = 0;
    if (phase == Phase::Head) {
        const std::size_t had = m_headBytes.size();
        m_headBytes.append(buf, n);
        const std::size_t headLen = ntrip::HeadLength(m_headBytes);
        if (headLen == 0)
            return 0;
        const ntrip::ResponseHead head =
            ntrip::ParseHead(std::string_view(m_headBytes).substr(0, headLen));
        // A source table asked for (no mount) is the data; asked for a mount, it is a refusal.
        const bool data =
            head.kind == ntrip::ResponseHead::Kind::Stream ||
            (m_ntrip.mount.empty() && head.kind == ntrip::ResponseHead::Kind::SourceTable);
        {
            std::lock_guard lock(m_lock);
            m_head = head;
            m_phase = data ? Phase::Data : Phase::Refused;
            if (!data)
                m_refusal = ntrip::RefusalWords(head);
        }
        if (!data)
            return 0;
        from = headLen - had;
        m_headBytes.clear();
    }
    std::size_t kept = n - from;
    if (from != 0)
        std::copy(buf + from, buf + n, buf);
    if (m_head.chunked) {
        kept = m_chunks.FeedInPlace(buf, kept);
        if (m_chunks.Failed()) {
            std::lock_guard lock(m_lock);
            m_phase = Phase::Refused;
            m_refusal = "the caster's chunked transfer is broken";
        }
    }
    return kept;
}

std::vector<ntrip::SourceEntry> CNtripSource::FetchSourceTable(const ntrip::NtripUrl &url,
                                                               int timeoutMs, std::string &why,
                                                               const CWakeEvent *stop) {
    using Clock = std::chrono::steady_clock;
    ntrip::NtripUrl tableUrl = url;
    tableUrl.mount.clear();
    CNtripSource source(tableUrl, 2);
    if (!source.Open(timeoutMs, why))
        return {};
    CWakeEvent own;
    const CWakeEvent &wake = stop != nullptr ? *stop : own;
    std::string body;
    char buf[4096];
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // The table ends with its own last line, or with the connection.
    constexpr std::size_t kMaxTable = 8u << 20;
    while (Clock::now() < deadline && body.find("ENDSOURCETABLE") == std::string::npos &&
           body.size() < kMaxTable) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const SerialRead r =
            source.Read(buf, sizeof buf, static_cast<int>(std::max<long>(1, left.count())), wake);
        body.append(buf, r.count);
        if (r.woken) {
            why = "stopped";
            return {};
        }
        if (r.gone)
            source.ConnectionClosed();
        if (r.gone || source.CurrentPhase() == Phase::Refused)
            break;
    }
    const Phase phase = source.CurrentPhase();
    if (phase == Phase::Refused) {
        why = source.Refusal();
        if (source.Head().kind == ntrip::ResponseHead::Kind::Stream)
            why = "the caster sent data, not a source table";
        return {};
    }
    if (phase != Phase::Data) {
        why = "the caster at " + ntrip::MaskedUrl(tableUrl) + " gave no source table within " +
              std::to_string(timeoutMs / 1000) + " s";
        return {};
    }
    auto entries = ntrip::ParseSourceTable(body);
    if (entries.empty())
        why = "the caster's source table lists no mount point";
    return entries;
}

} // namespace platform
