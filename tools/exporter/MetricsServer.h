#pragma once

#include <prometheus/registry.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Serves GET and HEAD of /metrics from one thread polling every connection, so a client that
// connects and says nothing, or half a request, holds a slot until its deadline and no more.
class CMetricsServer {
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::size_t maxConnections = 1024;
        std::size_t maxHead = 8192;
        Clock::duration headTimeout = std::chrono::seconds(3);
        Clock::duration writeTimeout = std::chrono::seconds(10);
        Clock::duration lingerTimeout = std::chrono::seconds(1);
        // Scrapes this close together share one serialisation of the registry.
        Clock::duration bodyReuse = std::chrono::milliseconds(100);
    };

    CMetricsServer(std::shared_ptr<prometheus::Registry> registry, Limits limits);
    ~CMetricsServer();
    CMetricsServer(const CMetricsServer &) = delete;
    CMetricsServer &operator=(const CMetricsServer &) = delete;

    // Binds host (a numeric IPv4 or IPv6 address, or a name) and port (0: any free one) and
    // starts serving; false with the reason.
    bool Start(const std::string &host, int port, std::string &why);
    // The port bound, once started.
    int Port() const { return m_port; }

private:
    enum class State { Head, Write, Linger };
    struct Connection {
        int fd = -1;
        State state = State::Head;
        Clock::time_point deadline;
        std::string head;
        std::string answer; // status line and headers, then the body unless it is shared
        std::shared_ptr<const std::string> body;
        std::size_t sent = 0;
    };

    void Run(const std::stop_token &stop);
    void Accept(Clock::time_point now);
    bool Evict();
    void ReadHead(Connection &c, Clock::time_point now);
    void Answer(Connection &c, Clock::time_point now);
    void Write(Connection &c, Clock::time_point now);
    void Linger(Connection &c);
    std::shared_ptr<const std::string> Body(Clock::time_point now, bool gzip);
    void Close(Connection &c);

    std::shared_ptr<prometheus::Registry> m_registry;
    Limits m_limits;
    int m_listen = -1;
    int m_wake = -1;
    int m_port = 0;
    std::vector<Connection> m_connections; // oldest first
    Clock::time_point m_acceptPausedUntil{};
    std::shared_ptr<const std::string> m_body;
    std::shared_ptr<const std::string> m_gzipped; // m_body compressed, once asked for
    Clock::time_point m_bodyAt{};
    std::jthread m_thread;
};
