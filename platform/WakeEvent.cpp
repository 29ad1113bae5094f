#include "WakeEvent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

CWakeEvent::CWakeEvent() {
    m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_fd < 0)
        m_nError = errno;
}

CWakeEvent::~CWakeEvent() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void CWakeEvent::Raise() {
    if (m_fd < 0)
        return;
    const std::uint64_t one = 1;
    // Only fails when the counter would overflow, and then the event is raised already.
    [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
}

void CWakeEvent::Lower() {
    if (m_fd < 0)
        return;
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_fd, &count, sizeof count);
}

bool CWakeEvent::IsRaised() const {
    return WaitUntil(std::chrono::steady_clock::time_point{});
}

bool CWakeEvent::WaitUntil(std::chrono::steady_clock::time_point deadline) const {
    if (m_fd < 0)
        return false;
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int n = ::poll(&p, 1, MillisecondsUntil(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        return (p.revents & POLLIN) != 0;
    }
}

bool CWakeEvent::WaitFor(std::chrono::milliseconds timeout) const {
    return WaitUntil(std::chrono::steady_clock::now() + timeout);
}

ReadableWait WaitReadable(int fd, const CWakeEvent &wake,
                          std::chrono::steady_clock::time_point deadline) {
    ReadableWait w;
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake.Fd(), POLLIN, 0}};
        const int n = ::poll(p, 2, MillisecondsUntil(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            w.error = errno;
        else if ((p[1].revents & POLLIN) != 0)
            w.woken = true;
        w.timedOut = n == 0;
        w.revents = p[0].revents;
        return w;
    }
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    const auto left = deadline - steady_clock::now();
    if (left <= steady_clock::duration::zero())
        return 0;
    const auto ms = ceil<milliseconds>(left).count();
    return ms > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(ms);
}

} // namespace platform
