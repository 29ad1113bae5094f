#pragma once

#include "receiver/RestartKind.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>

// Times a restart to its first fix (TTFF). Started when a restart command goes out, stopped by
// the first sentence reporting a valid fix. Every call takes the time from its caller, so the
// behaviour is a function of the calls alone; a lock makes it safe to report fixes from the
// reader thread while the window reads the text.
//
// A fix in sentences already on their way when the command went out must not stop it at 0 s:
// a fix counts only once the receiver has reported no fix after the start, the sign that it
// obeyed. A receiver still reporting its fix kInFlight after the start never lost it (it ignored
// the command); the watch then stops without a time, and the text says so.
class CFixStopwatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInFlight{2000};
    // How long the result stays in the text after the fix.
    static constexpr std::chrono::seconds kShowResult{60};

    void Start(RestartKind kind, Clock::time_point now);
    // Closing the port or another Re-set.
    void Cancel();
    // A sentence that says whether the receiver has a fix.
    void OnFixReport(bool bFix, Clock::time_point now);
    // The same at the present time; costs one atomic load while nothing is timed.
    void OnFixReport(bool bFix) {
        if (m_bRunning.load(std::memory_order_relaxed))
            OnFixReport(bFix, Clock::now());
    }
    // The same for a report that arrived at the given time (the present when unset).
    void OnFixReportAt(bool bFix, Clock::time_point arrived) {
        if (m_bRunning.load(std::memory_order_relaxed))
            OnFixReport(bFix, arrived == Clock::time_point{} ? Clock::now() : arrived);
    }

    bool Running() const;
    // Seconds from the start to the fix, once stopped by a fix that followed a loss.
    std::optional<double> Result() const;
    // Stopped because the receiver never lost its fix.
    bool FixNeverLost() const;
    // "cold start, 12 s" while running, "cold start: fix in 31.4 s" for a minute after (or "cold
    // start: fix never lost"), else "".
    std::string Text(Clock::time_point now) const;

private:
    enum class State { Idle, Running, Stopped };
    mutable std::mutex m_lock;
    // The decoders' fast way out: set while Running, written under the lock.
    std::atomic<bool> m_bRunning{false};
    State m_state = State::Idle;
    RestartKind m_kind = RestartKind::Cold;
    bool m_bLost = false;
    Clock::time_point m_start{};
    Clock::time_point m_stop{};
};
