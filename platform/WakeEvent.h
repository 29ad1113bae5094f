#pragma once

#include <chrono>

namespace platform {

// A flag one thread raises and another thread can wait on or poll beside a device: an eventfd.
// Raising it wakes a waiting poll() at once, which a plain atomic flag cannot do.
class CWakeEvent {
public:
    CWakeEvent();
    ~CWakeEvent();
    CWakeEvent(const CWakeEvent &) = delete;
    CWakeEvent &operator=(const CWakeEvent &) = delete;

    // False when the eventfd could not be made; Error() then holds errno.
    bool Valid() const { return m_fd >= 0; }
    int Error() const { return m_nError; }
    // Readable (POLLIN) while the event is raised.
    int Fd() const { return m_fd; }

    // Any thread.
    void Raise();
    void Lower();
    bool IsRaised() const;
    // Waits until the event is raised or the deadline passes; true when raised.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) const;
    bool WaitFor(std::chrono::milliseconds timeout) const;

private:
    int m_fd = -1;
    int m_nError = 0;
};

// Milliseconds from now to deadline for poll(), rounded up so a wait never ends early, at least 0.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline);

} // namespace platform
