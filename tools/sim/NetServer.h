#pragma once

#include <functional>
#include <string>
#include <vector>

// The simulated stream served on the network, as ser2net (TCP: every client gets the stream and
// may send commands) and phone apps (UDP: one datagram per sentence or UBX frame to a fixed
// address) do.
class CNetServer {
public:
    using CommandHandler = std::function<void(const char *data, std::size_t n)>;

    CNetServer() = default;
    ~CNetServer();
    CNetServer(const CNetServer &) = delete;
    CNetServer &operator=(const CNetServer &) = delete;

    // Listens on HOST:PORT (HOST defaults to 127.0.0.1); false with a one-line error.
    bool ListenTcp(const std::string &hostPort, std::string &error);
    // Sends datagrams to HOST:PORT; false with a one-line error.
    bool SendUdpTo(const std::string &hostPort, std::string &error);
    // Hands n bytes of the stream to every client.
    void Send(const char *data, std::size_t n);
    // Accepts new clients and passes what they wrote to handler; never blocks.
    void Service(const CommandHandler &handler);
    // Drops the listener, every client and the UDP socket (the receiver unplugged).
    void Close();
    // Serves again on the same addresses and ports after Close.
    bool Reopen(std::string &error);
    // What is being served, one line each ("tcp://127.0.0.1:PORT"), for the user.
    std::vector<std::string> Addresses() const;

private:
    struct Client {
        int fd = -1;
    };
    std::string m_tcpSpec;
    std::string m_udpSpec;
    int m_listen = -1;
    int m_udp = -1;
    std::vector<Client> m_clients;
    std::string m_udpLine;
    std::vector<std::string> m_addresses;
};

// Splits "[HOST:]PORT" into host and port; false with a one-line error.
bool SplitHostPort(const std::string &text, bool hostRequired, std::string &host, int &port,
                   std::string &error);
