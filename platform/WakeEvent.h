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

// How a wait for a descriptor beside a wake event ended.
struct ReadableWait {
    int error = 0;         // errno of a failed poll
    bool woken = false;    // the wake event was raised
    bool timedOut = false; // the deadline passed first
    short revents = 0;     // what poll() said of the descriptor
};
// Waits until fd has something to say (data, hang-up), wake is raised or the deadline passes.
// A signal does not end the wait.
ReadableWait WaitReadable(int fd, const CWakeEvent &wake,
                          std::chrono::steady_clock::time_point deadline);

// Milliseconds from now to deadline for poll(), rounded up so a wait never ends early, at least 0.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline);

} // namespace platform
