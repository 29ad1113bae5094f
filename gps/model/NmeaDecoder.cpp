#include "model/NmeaDecoder.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// Two talker letters and three type letters, then the fields or the "*".
bool IsStandardAddress(const char *s, std::size_t star) {
    if (star < 6 || s[1] == 'P' || (star > 6 && s[6] != ','))
        return false;
    for (int i = 1; i <= 5; ++i) {
        if (!IsUpper(s[i]))
            return false;
    }
    return true;
}

bool IsType(const char *s, const char *type) {
    return s[3] == type[0] && s[4] == type[1] && s[5] == type[2];
}

} // namespace

CNmeaDecoder::CNmeaDecoder(int nBiasSeconds) : m_nBiasSeconds(nBiasSeconds) {}

void CNmeaDecoder::CopyFix(GpsFix &dest) const {
    std::lock_guard lock(m_fixLock);
    std::memcpy(&dest, &m_shownFix, sizeof m_shownFix);
}

void CNmeaDecoder::CopyFix(GpsFix &dest, FixExtra &extra) const {
    std::lock_guard lock(m_fixLock);
    std::memcpy(&dest, &m_shownFix, sizeof m_shownFix);
    extra = m_shownExtra;
}

void CNmeaDecoder::ClearFix() {
    {
        std::lock_guard lock(m_fixLock);
        std::memset(&m_shownFix, 0, sizeof m_shownFix);
        m_shownExtra = FixExtra{};
        // The feeding thread clears its own record before it next stores or shows one.
        m_clearAsked.store(true, std::memory_order_release);
    }
    m_sky.Clear();
}

void CNmeaDecoder::BeginBlock() {
    if (m_clearAsked.load(std::memory_order_acquire)) {
        std::lock_guard lock(m_fixLock);
        std::memset(&m_fix, 0, sizeof m_fix);
        m_extra = FixExtra{};
        ForgetUbx();
        m_fixDirty = false;
        m_clearAsked.store(false, std::memory_order_relaxed);
    }
    m_sky.TakeClear();
}

void CNmeaDecoder::EndBlock() {
    if (m_fixDirty || m_clearAsked.load(std::memory_order_acquire)) {
        std::lock_guard lock(m_fixLock);
        if (m_clearAsked.load(std::memory_order_relaxed)) {
            // Cleared while this block was read: its sentences belong to the cleared past.
            std::memset(&m_fix, 0, sizeof m_fix);
            m_extra = FixExtra{};
            ForgetUbx();
            m_clearAsked.store(false, std::memory_order_relaxed);
        } else {
            std::memcpy(&m_shownFix, &m_fix, sizeof m_fix);
            m_shownExtra = m_extra;
        }
        m_fixDirty = false;
    }
    m_sky.Publish();
}

void CNmeaDecoder::ForgetUbx() {
    std::fill(std::begin(m_ubxSaid), std::end(m_ubxSaid), 0);
    m_bUbxSeen = false;
    m_ubxSats.clear();
    m_ubxSignals.clear();
    m_ubxSatsFromSat = false;
    m_bSatsUsedFromSky = false;
    m_bGgaQuality = false;
}

std::int64_t CNmeaDecoder::SteadyMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

void CNmeaDecoder::NoteFixReport(bool valid) {
    // A count, not a clock reading: reading the clock per sentence cost a tenth of the scan.
    if (valid)
        Bump(m_validFixes);
    if (m_hooks.onFixReport)
        m_hooks.onFixReport(valid);
}

void CNmeaDecoder::ParseBuffer(const char *block, int n) {
    if (block == nullptr || n <= 0)
        return;
    m_nowMs = m_clock();
    BeginBlock();
    Scan(block, static_cast<std::size_t>(n));
    EndBlock();
}

// s holds one whole sentence whose checksum holds, "$" through its checksum's digits.
void CNmeaDecoder::OnSentence(const char *s, std::size_t len) {
    const std::size_t star = len - 3;
    // Proprietary sentences ("$P...") and odd addresses ("$GPRMCX") are never taken for ours.
    void (CNmeaDecoder::*decode)(const char *, const Fields &) = nullptr;
    std::atomic<std::uint32_t> *counter = nullptr;
    if (IsStandardAddress(s, star)) {
        if (IsType(s, "GGA")) {
            decode = &CNmeaDecoder::ParseGGA;
            counter = &m_counters.nGga;
        } else if (IsType(s, "GSA")) {
            decode = &CNmeaDecoder::ParseGSA;
            counter = &m_counters.nGsa;
        } else if (IsType(s, "GSV")) {
            decode = &CNmeaDecoder::ParseGSV;
            counter = &m_counters.nGsv;
        } else if (IsType(s, "RMC")) {
            decode = &CNmeaDecoder::ParseRMC;
            counter = &m_counters.nRmc;
        } else if (IsType(s, "GNS")) {
            decode = &CNmeaDecoder::ParseGNS;
            counter = &m_counters.nGns;
        } else if (IsType(s, "GST")) {
            decode = &CNmeaDecoder::ParseGST;
            counter = &m_counters.nGst;
        }
    }
    // Split once, before the hook, so the watchers take the decoder's fields rather than split
    // again. The sentence is read where it lies: no field is read past its "*".
    if (decode != nullptr) {
        SplitFields(s, star, m_fields);
        m_pFields = &m_fields;
    }
    if (m_hooks.onSentence)
        m_hooks.onSentence(s, len);
    m_pFields = nullptr;
    if (decode == nullptr) {
        Bump(m_counters.nUnknown);
        return;
    }
    (this->*decode)(s, m_fields);
    Bump(*counter);
}

void CNmeaDecoder::OnBytes(const char *bytes, std::size_t n) {
    if (m_hooks.onBlock)
        m_hooks.onBlock(bytes, n);
}

void CNmeaDecoder::OnBadSentence(const char *s, std::size_t len) {
    if (m_hooks.onBadSentence)
        m_hooks.onBadSentence(s, len);
}

void CNmeaDecoder::OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
    if (m_hooks.onFrame)
        m_hooks.onFrame(protocol, frame, len);
    if (protocol == FrameProtocol::Ubx)
        HandleUbx(frame[2], frame[3], frame + 6, len - 8);
}
