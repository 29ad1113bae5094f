#pragma once

#include <netdb.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace platform {

struct ResolvedAddress {
    sockaddr_storage addr{};
    socklen_t len = 0;
    int family = 0;
    int socktype = 0;
};

// What ResolveWithin returns when the resolver has not answered in time.
constexpr int kResolveTimedOut = 1; // EAI_ codes are negative

using LookupFn = int (*)(const char *, const char *, const addrinfo *, addrinfo **);

// getaddrinfo with a time limit, so a name server that is slow to answer cannot hold the
// window's thread: past timeoutMs the lookup goes on in the background and its answer is dropped.
// 0 with the addresses, an EAI_ code, or kResolveTimedOut.
int ResolveWithin(const char *host, const char *service, const addrinfo &hints, int timeoutMs,
                  std::vector<ResolvedAddress> &out, LookupFn lookup = ::getaddrinfo);

// The reason for a ResolveWithin result, for the user.
std::string ResolveError(int rc, int timeoutMs);

} // namespace platform
