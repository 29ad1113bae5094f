#pragma once

#include "ByteSource.h"
#include "SourceUrl.h"

#include <atomic>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace platform {

// NMEA over the network: a TCP connection (ser2net, RTK bases, phone apps) or UDP datagrams
// received on a port. Connecting never blocks: the reader waits for it beside its wake event,
// so Close is as quick as on a serial port.
class CSocketSource : public CByteSource {
public:
    explicit CSocketSource(const SourceUrl &url);
    ~CSocketSource() override;

    // Resolves the host and connects (TCP) or binds (UDP). Waits up to waitMs for a connection,
    // so that a refused one is reported at once; one still pending completes in Read.
    bool Open(int waitMs, std::string &message);
    // Open, except that a TCP peer that refuses or does not answer is retried by the reader as
    // one that went away (message keeps the reason); false only when the address does not
    // resolve or a UDP port cannot be listened on.
    bool OpenOrRetry(int waitMs, std::string &message);

    SerialRead Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) override;
    bool Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) override;
    void Release() override;
    bool Reopen() override;
    int LastError() const override { return m_nError; }
    int Handle() const override { return m_fd; }
    std::string Description() const override;
    bool CanSendCommands(std::string &why) const override;
    bool IsNetwork() const override { return true; }
    // Why a source down at start is not connected yet, until it is.
    std::string Warning() const override;
    // Datagrams longer than the largest UDP payload, whose end was lost (none over IPv4 or IPv6
    // without jumbograms).
    std::size_t CutDatagrams() const { return m_nCutDatagrams; }

protected:
    // Called on the connection as soon as it stands (gpsd wants its watch request).
    virtual void OnConnected() {}
    // Filters n freshly received bytes at buf in place; returns how many stay.
    virtual std::size_t Filter(char *buf, std::size_t n) {
        (void)buf;
        return n;
    }
    // True when freshly received bytes end a block the reader should have at once (a line end);
    // otherwise the read waits for a quiet gap.
    virtual bool EndsBlock(const char *data, std::size_t n) const { return HoldsLineEnd(data, n); }
    // Writes all of data to the connection before the deadline; false when it could not.
    bool SendAll(const char *data, std::size_t size, int timeoutMs);

    SourceUrl m_url;

private:
    struct Address {
        sockaddr_storage addr{};
        socklen_t len = 0;
        int family = 0;
    };
    // The window's thread gives a name server a short time, the reader's reconnect a longer one.
    static constexpr int kResolveOpenMs = 150;
    static constexpr int kResolveReopenMs = 2000;
    bool Resolve(std::string &message, int timeoutMs);
    // Starts connecting (or binds) to the addresses from m_nNext on; false when none is left.
    bool Start();
    // 1 connected, 0 still pending, -1 every address failed, -2 woken.
    int FinishConnect(int timeoutMs, const CWakeEvent *wake);
    void CloseSocket();
    // Receives the next datagram whole into m_datagram; false when none is waiting (or on an
    // error, which goes to r).
    bool ReceiveDatagram(SerialRead &r);
    // Moves up to room bytes of the datagram's rest to buf.
    std::size_t TakeDatagram(char *buf, std::size_t room);

    // The largest payload IPv6 carries without jumbograms (IPv4: 65,507).
    static constexpr std::size_t kMaxDatagram = 65527;

    std::vector<Address> m_addrs;
    std::size_t m_nNext = 0;
    int m_fd = -1;
    bool m_bConnecting = false;
    // Down at start: the first Read reports it gone, and the reader retries it.
    bool m_bDownAtStart = false;
    std::string m_downReason;
    std::atomic<bool> m_bConnectedOnce{false};
    // The datagram being handed out and how much of it went.
    std::vector<char> m_datagram;
    std::size_t m_nDatagramLen = 0;
    std::size_t m_nDatagramAt = 0;
    std::size_t m_nCutDatagrams = 0;
    int m_nError = 0;
    // Keeps Release and Reopen from closing the socket under a Write.
    std::mutex m_writeLock;
};

} // namespace platform
