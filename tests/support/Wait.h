#pragma once

#include <chrono>
#include <time.h>

// Waits until done() or the timeout, calling between() after every look (a Qt test pumps its
// event loop there); returns done()'s last value.
template <typename F, typename G>
bool WaitUntil(F done, std::chrono::milliseconds timeout, G between) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        between();
        struct timespec ts {
            0, 2'000'000
        };
        nanosleep(&ts, nullptr);
    }
}

template <typename F> bool WaitUntil(F done, std::chrono::milliseconds timeout) {
    return WaitUntil(done, timeout, [] {});
}
