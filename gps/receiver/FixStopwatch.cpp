#include "receiver/FixStopwatch.h"

#include <charconv>
#include <cstdio>

void CFixStopwatch::Start(RestartKind kind, Clock::time_point now) {
    std::lock_guard lock(m_lock);
    m_state = State::Running;
    m_bRunning.store(true, std::memory_order_relaxed);
    m_kind = kind;
    m_bLost = false;
    m_start = now;
}

void CFixStopwatch::Cancel() {
    std::lock_guard lock(m_lock);
    m_state = State::Idle;
    m_bRunning.store(false, std::memory_order_relaxed);
}

void CFixStopwatch::OnFixReport(bool bFix, Clock::time_point now) {
    std::lock_guard lock(m_lock);
    if (m_state != State::Running)
        return;
    if (!bFix) {
        m_bLost = true;
        return;
    }
    if (!m_bLost && now - m_start < kInFlight)
        return;
    m_state = State::Stopped;
    m_bRunning.store(false, std::memory_order_relaxed);
    m_stop = now;
}

bool CFixStopwatch::Running() const {
    std::lock_guard lock(m_lock);
    return m_state == State::Running;
}

std::optional<double> CFixStopwatch::Result() const {
    std::lock_guard lock(m_lock);
    if (m_state != State::Stopped || !m_bLost)
        return std::nullopt;
    return std::chrono::duration<double>(m_stop - m_start).count();
}

bool CFixStopwatch::FixNeverLost() const {
    std::lock_guard lock(m_lock);
    return m_state == State::Stopped && !m_bLost;
}

std::string CFixStopwatch::Text(Clock::time_point now) const {
    std::lock_guard lock(m_lock);
    char text[64];
    if (m_state == State::Running) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - m_start);
        std::snprintf(text, sizeof text, "%s, %lld s", RestartName(m_kind),
                      static_cast<long long>(seconds.count() < 0 ? 0 : seconds.count()));
        return text;
    }
    if (m_state == State::Stopped && now - m_stop < kShowResult && !m_bLost) {
        std::snprintf(text, sizeof text, "%s: fix never lost", RestartName(m_kind));
        return text;
    }
    if (m_state == State::Stopped && now - m_stop < kShowResult) {
        const double seconds = std::chrono::duration<double>(m_stop - m_start).count();
        // to_chars, not printf: the window shows numbers with a point whatever LC_NUMERIC says.
        char number[32];
        const auto r =
            std::to_chars(number, number + sizeof number, seconds, std::chars_format::fixed, 1);
        return std::string(RestartName(m_kind)) + ": fix in " + std::string(number, r.ptr) + " s";
    }
    return {};
}
