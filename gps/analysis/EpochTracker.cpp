#include "analysis/EpochTracker.h"
#include "protocol/UbxMessages.h"

#include <cstring>
#include <string_view>

namespace {

// The time of fix a sentence carries (RMC, GGA, GNS: the first field; GLL: the fifth), or "".
std::string_view TimeOfFix(std::string_view s) {
    if (s.size() < 7 || s[0] != '$')
        return {};
    const std::string_view type = s.substr(3, 3);
    int field = 0;
    if (type == "RMC" || type == "GGA" || type == "GNS")
        field = 1;
    else if (type == "GLL")
        field = 5;
    else
        return {};
    std::size_t at = 0;
    for (int i = 0; i < field; ++i) {
        at = s.find(',', at);
        if (at == std::string_view::npos)
            return {};
        ++at;
    }
    const std::size_t end = s.find_first_of(",*\r\n", at);
    return end == std::string_view::npos ? std::string_view{} : s.substr(at, end - at);
}

// The same from the decoder's fields (RMC, GGA, GNS): field 1 ends at a "," or at the checksum's
// "*", and at an earlier "*" inside it, as the sentence's own reading ends it.
std::string_view TimeOfFix(std::string_view s, const CNmeaDecoder::Fields &f) {
    if (s.size() < 7)
        return {};
    const std::string_view type = s.substr(3, 3);
    if (type != "RMC" && type != "GGA" && type != "GNS")
        return TimeOfFix(s);
    if (s[6] != ',')
        return {};
    const CNmeaDecoder::Field t = f[1];
    const auto *star = static_cast<const char *>(std::memchr(t.p, '*', t.n));
    return {t.p, star != nullptr ? static_cast<std::size_t>(star - t.p) : t.n};
}

} // namespace

void CEpochTracker::OnSentence(const char *sentence, std::size_t len,
                               const CNmeaDecoder::Fields *fields) {
    if (m_bUbxTimed) {
        m_bPending = true;
        return;
    }
    const std::string_view s(sentence, len);
    const std::string_view time = fields != nullptr ? TimeOfFix(s, *fields) : TimeOfFix(s);
    if (!time.empty() && time.size() <= kMaxTime && time != std::string_view(m_time, m_nTime)) {
        // Sentences of another time wait: their epoch is over. Untimed ones (a banner) that
        // came after a quiet line belong to this new epoch.
        if (m_bTimedPending)
            m_bEnded = true;
        std::memcpy(m_time, time.data(), time.size());
        m_nTime = time.size();
    }
    if (!time.empty())
        m_bTimedPending = true;
    m_bPending = true;
}

void CEpochTracker::OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
    constexpr unsigned char kNav = 0x01;
    constexpr unsigned char kEoe = 0x61;
    m_bPending = true;
    if (protocol != FrameProtocol::Ubx || len < 8 + 4 || frame[2] != kNav)
        return;
    if (frame[3] == kEoe) {
        m_bEnded = true;
        m_bPending = m_bTimedPending = false;
        return;
    }
    std::uint32_t iTow = 0;
    if (!ubx::NavTimeOfWeek(frame, len, iTow))
        return;
    // The first timed frame after timed sentences ends their epoch: from here on the frames
    // mark the epochs, and a receiver switched to UBX has said its last sentence.
    if (m_bTimedPending && (!m_bUbxTimed || iTow != m_iTow))
        m_bEnded = true;
    m_bUbxTimed = true;
    m_iTow = iTow;
    m_bTimedPending = true;
}

bool CEpochTracker::BlockDone() {
    const bool ended = m_bEnded;
    m_bEnded = false;
    return ended;
}

bool CEpochTracker::Quiet() {
    const bool pending = m_bPending;
    m_bPending = m_bTimedPending = false;
    return pending;
}

void CEpochTracker::Reset() {
    m_nTime = 0;
    m_bPending = m_bTimedPending = false;
    m_bEnded = false;
    m_bUbxTimed = false;
    m_iTow = 0;
}
