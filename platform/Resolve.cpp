#include "Resolve.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

namespace {

// Shared with the lookup's thread, which may outlive the caller's wait.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    std::vector<ResolvedAddress> addrs;
};

} // namespace

int ResolveWithin(const char *host, const char *service, const addrinfo &hints, int timeoutMs,
                  std::vector<ResolvedAddress> &out, LookupFn lookup) {
    auto state = std::make_shared<Lookup>();
    std::optional<std::string> hostCopy;
    if (host != nullptr)
        hostCopy = host;
    std::string serviceCopy = service != nullptr ? service : "";
    std::thread([state, hostCopy, serviceCopy, hints, lookup, hasService = service != nullptr] {
        addrinfo *list = nullptr;
        const int rc = lookup(hostCopy ? hostCopy->c_str() : nullptr,
                              hasService ? serviceCopy.c_str() : nullptr, &hints, &list);
        std::vector<ResolvedAddress> addrs;
        for (const addrinfo *a = rc == 0 ? list : nullptr; a != nullptr; a = a->ai_next) {
            if (a->ai_addrlen > sizeof(sockaddr_storage))
                continue;
            ResolvedAddress entry;
            std::memcpy(&entry.addr, a->ai_addr, a->ai_addrlen);
            entry.len = a->ai_addrlen;
            entry.family = a->ai_family;
            entry.socktype = a->ai_socktype;
            addrs.push_back(entry);
        }
        if (list != nullptr)
            ::freeaddrinfo(list);
        std::lock_guard guard(state->lock);
        state->rc = rc;
        state->addrs = std::move(addrs);
        state->finished = true;
        state->done.notify_all();
    }).detach();
    std::unique_lock guard(state->lock);
    if (!state->done.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return state->finished; }))
        return kResolveTimedOut;
    out = std::move(state->addrs);
    return state->rc;
}

std::string ResolveError(int rc, int timeoutMs) {
    if (rc == kResolveTimedOut)
        return "no answer from the name server within " + std::to_string(timeoutMs) + " ms";
    return ::gai_strerror(rc);
}

} // namespace platform
