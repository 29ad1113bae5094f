// skywatch-exporter: receivers' fixes, skies and links as Prometheus metrics.
#include "ReceiverMetrics.h"

#include "BaudList.h"
#include "MetricsServer.h"
#include "SourceUrl.h"
#include "protocol/WholeNumber.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <pthread.h>
#include <set>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kDefaultPort = 9724;
constexpr int kDefaultForgetS = 600;
// Above a dual-band receiver's tracked signals of every system (about 70 satellites, 2 bands).
constexpr int kDefaultMaxSignalSeries = 200;

constexpr const char *kUsage =
    "Usage: skywatch-exporter [--listen HOST:PORT] [--baud N] [--forget-after S]"
    " [--max-signal-series N] [NAME=]SOURCE...\n";

int Usage(const std::string &why) {
    std::fprintf(stderr, "skywatch-exporter: %s (see --help)\n", why.c_str());
    return 2;
}

int Help() {
    std::printf("%sServes the status of one or more GPS receivers as Prometheus metrics on\n"
                "http://HOST:PORT/metrics: whether data comes, the fix, the satellites and\n"
                "signals per system, each signal's C/N0, the DOPs, the receiver's accuracy\n"
                "estimates, its jamming indicator and the integrity watch's alarms, the age of\n"
                "its corrections, the time to its first fix and the sentences decoded and\n"
                "dropped. Every series is labelled receiver=\"NAME\".\n"
                "\n"
                "A SOURCE is a serial device path, gpsd://[HOST[:PORT]][/DEVICE],\n"
                "tcp://HOST:PORT, udp://[HOST]:PORT or a recording to replay; NAME is its\n"
                "label (letters, digits, '_', '.', ':' and '-'), else the source's last path\n"
                "component or its address. A source that is unplugged, closes or sends nothing\n"
                "for 3 s reads skywatch_source_up 0 and loses its fix and sky series until its\n"
                "data comes again; one that does not open is tried again every 5 s.\n"
                "\n"
                "  --listen HOST:PORT  where to serve (default 127.0.0.1:%d; 0.0.0.0:%d for\n"
                "                      every IPv4 address; port 0 picks a free one)\n"
                "  --baud N            serial speed: 1200, 2400, 4800, 9600, 19200, 38400, 57600\n"
                "                      or 115200 (default 4800)\n"
                "  --forget-after S    a signal not heard for S seconds loses its C/N0 series\n"
                "                      (default %d)\n"
                "  --max-signal-series N  C/N0 series kept per receiver; signals beyond are\n"
                "                      counted in skywatch_signal_series_dropped_total\n"
                "                      (default %d)\n"
                "  -h, --help          print this help and exit\n"
                "  --version           print the version and exit\n"
                "\n"
                "The first line on standard output names the address served. The integrity\n"
                "watch's thresholds are the shipped ones and those of\n"
                "$XDG_CONFIG_HOME/skywatch/integrity.conf; each receiver's usual signal is\n"
                "learnt and kept in $XDG_STATE_HOME/skywatch. Exit 2 on a bad option, 1 when\n"
                "the address cannot be served.\n",
                kUsage, kDefaultPort, kDefaultPort, kDefaultForgetS, kDefaultMaxSignalSeries);
    return 0;
}

bool IsName(const std::string &text) {
    if (text.empty())
        return false;
    for (const char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != ':' &&
            c != '-')
            return false;
    return true;
}

// A source without a name is called by its address, without the scheme, or by its file's name.
std::string NameOf(std::string address) {
    if (const auto scheme = address.find("://"); scheme != std::string::npos)
        address.erase(0, scheme + 3);
    else if (const auto slash = address.find_last_of('/'); slash != std::string::npos)
        address.erase(0, slash + 1);
    while (!address.empty() && address.back() == '/')
        address.pop_back();
    return address;
}

struct Source {
    std::string name, address;
};

// Idle clients each hold a descriptor until their deadline: the soft limit is raised to the hard
// one, and the server keeps half of it, up to its own cap, for its clients.
std::size_t ClientSlots(std::size_t sources) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 64;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    const rlim_t reserved = 64 + 4 * static_cast<rlim_t>(sources);
    const rlim_t spare = limit.rlim_cur > reserved ? limit.rlim_cur - reserved : 0;
    return std::clamp<std::size_t>(static_cast<std::size_t>(spare / 2), 16,
                                   CMetricsServer::Limits{}.maxConnections);
}

} // namespace

int main(int argc, char **argv) {
    std::string listen = "127.0.0.1:" + std::to_string(kDefaultPort);
    int baud = platform::kNmeaBaud;
    int forgetS = kDefaultForgetS;
    int maxSignalSeries = kDefaultMaxSignalSeries;
    std::vector<Source> sources;
    std::set<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h")
            return Help();
        if (arg == "--version") {
            std::printf("skywatch-exporter %s\n", SKYWATCH_VERSION);
            return 0;
        }
        if (arg == "--listen") {
            if (!hasValue)
                return Usage("--listen takes HOST:PORT");
            listen = argv[++i];
        } else if (arg == "--baud") {
            if (!hasValue || !ParseWholeNumber(argv[++i], baud) || !platform::IsListedBaud(baud))
                return Usage("--baud takes 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200");
        } else if (arg == "--forget-after") {
            if (!hasValue || !ParseWholeNumber(argv[++i], forgetS) || forgetS < 1)
                return Usage("--forget-after takes a whole number of seconds, at least 1");
        } else if (arg == "--max-signal-series") {
            if (!hasValue || !ParseWholeNumber(argv[++i], maxSignalSeries) || maxSignalSeries < 0)
                return Usage("--max-signal-series takes a whole number, at least 0");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else {
            Source source;
            const auto eq = arg.find('=');
            if (eq != std::string::npos && IsName(arg.substr(0, eq))) {
                source = {arg.substr(0, eq), arg.substr(eq + 1)};
            } else {
                source = {NameOf(arg), arg};
                if (source.name.empty())
                    return Usage("no name in " + arg + ": give one as NAME=" + arg);
            }
            if (source.address.empty())
                return Usage("no source after " + source.name + "=");
            if (platform::LooksLikeUrl(source.address) && source.address.rfind("file://", 0) != 0) {
                platform::SourceUrl url;
                std::string why;
                if (!platform::ParseSourceUrl(source.address, url, why))
                    return Usage(why);
            }
            if (!names.insert(source.name).second)
                return Usage("two sources named " + source.name + ": name them NAME=SOURCE");
            sources.push_back(std::move(source));
        }
    }
    if (sources.empty())
        return Usage("no source given");
    std::string host;
    int port = kDefaultPort;
    bool hasPort = false;
    std::string why;
    // Port 0 asks for a free port, which the sources' address parser rightly refuses.
    const bool anyPort = listen.size() > 2 && listen.compare(listen.size() - 2, 2, ":0") == 0;
    const std::string checked = anyPort ? listen.substr(0, listen.size() - 1) + "1" : listen;
    if (!platform::SplitHostPort(checked, listen, host, port, hasPort, why) || !hasPort ||
        host.empty())
        return Usage("--listen takes HOST:PORT" + (why.empty() ? std::string() : ": " + why));
    if (anyPort)
        port = 0;

    // SIGINT and SIGTERM are taken by the main loop's wait; blocked before any thread starts,
    // so no other thread is interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto registry = std::make_shared<prometheus::Registry>();
    ExporterFamilies families = MakeFamilies(*registry);
    std::vector<std::unique_ptr<CReceiverMetrics>> receivers;
    for (const Source &source : sources)
        receivers.push_back(std::make_unique<CReceiverMetrics>(
            families, source.name, source.address, baud, std::chrono::seconds(forgetS),
            static_cast<std::size_t>(maxSignalSeries)));

    const bool v6 = host.find(':') != std::string::npos;
    CMetricsServer::Limits limits;
    limits.maxConnections = ClientSlots(sources.size());
    CMetricsServer server(registry, limits);
    if (!server.Start(host, port, why)) {
        std::fprintf(stderr, "skywatch-exporter: cannot serve on %s: %s\n", listen.c_str(),
                     why.c_str());
        return 1;
    }
    std::printf("serving http://%s:%d/metrics\n", (v6 ? "[" + host + "]" : host).c_str(),
                server.Port());
    std::fflush(stdout);

    // The copies are read once a second here, not per scrape: a scrape costs the same however
    // often and by however many it is asked, never waits on a port's locks, and the forgetting
    // of signals runs on one clock.
    std::vector<std::string> said(receivers.size());
    bool problemsTold = false;
    auto tick = std::chrono::steady_clock::now();
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < receivers.size(); ++i) {
            CReceiverMetrics &r = *receivers[i];
            const bool wasOpen = r.IsOpen();
            const std::string failure = r.OpenIfDue(now);
            // Each failure is told once, until it changes or the source opens.
            if (!failure.empty() && failure != said[i])
                std::fprintf(stderr, "skywatch-exporter: %s: %s\n", r.Name().c_str(),
                             failure.c_str());
            if (!wasOpen && r.IsOpen()) {
                std::fprintf(stderr, "skywatch-exporter: %s: reading %s\n", r.Name().c_str(),
                             r.Address().c_str());
                if (!problemsTold)
                    for (const std::string &problem : r.WatchProblems())
                        std::fprintf(stderr, "skywatch-exporter: %s\n", problem.c_str());
                problemsTold = true;
            }
            if (!failure.empty() || r.IsOpen())
                said[i] = failure;
            r.Update(now);
        }
        tick += std::chrono::seconds(1);
        const auto wait = std::max(tick - std::chrono::steady_clock::now(),
                                   std::chrono::steady_clock::duration::zero());
        const auto s = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec timeout{static_cast<time_t>(s.count()),
                               static_cast<long>((wait - s) / std::chrono::nanoseconds(1))};
        const int caught = sigtimedwait(&stopSignals, nullptr, &timeout);
        if (caught == SIGINT || caught == SIGTERM)
            break;
        // A loop late by more than a tick (a stopped process) starts its ticks again from now.
        if (std::chrono::steady_clock::now() - tick > std::chrono::seconds(1))
            tick = std::chrono::steady_clock::now();
    }
    receivers.clear();
    return 0;
}
