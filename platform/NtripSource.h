#pragma once

#include "Ntrip.h"
#include "SocketSource.h"

#include <mutex>
#include <string>
#include <vector>

namespace platform {

// One NTRIP connection to a caster's mount point: the request goes out as soon as the connection
// stands; the answer's head is read and taken off, chunked transfer undone, and only the
// correction bytes reach Read. A refusal ends the data (Read reports the peer gone) with its
// words in Refusal.
class CNtripSource final : public CSocketSource {
public:
    // version: 2 asks as NTRIP 2.0 (HTTP/1.1), 1 as NTRIP 1.0.
    CNtripSource(const ntrip::NtripUrl &url, int version);

    enum class Phase { Connecting, Head, Data, Refused };
    Phase CurrentPhase() const;
    // Why the caster refused ("wrong user or password", "no such mount point", ...); "" when it
    // did not. Any thread.
    std::string Refusal() const;
    // The head the caster answered with, once it did.
    ntrip::ResponseHead Head() const;
    // Told when the caster closed the connection: a head it left without its blank line (a bare
    // "HTTP/1.0 401 Unauthorized") is read as it stands.
    void ConnectionClosed();
    // Sends a GGA sentence to the caster (the rover's position) within timeoutMs.
    bool SendGga(const std::string &sentence, int timeoutMs, std::string &failure);

    std::string Description() const override;
    bool CanSendCommands(std::string &why) const override;

    // Asks the caster at url's host and port for its source table; empty with the reason in why
    // when it gives none within timeoutMs or stop, when given, is raised.
    static std::vector<ntrip::SourceEntry> FetchSourceTable(const ntrip::NtripUrl &url,
                                                            int timeoutMs, std::string &why,
                                                            const CWakeEvent *stop = nullptr);

protected:
    void OnConnected() override;
    std::size_t Filter(char *buf, std::size_t n) override;
    // Corrections are binary and framed by the client: each arrival goes on at once.
    bool EndsBlock(const char *, std::size_t) const override { return true; }

private:
    ntrip::NtripUrl m_ntrip;
    int m_version;
    mutable std::mutex m_lock; // the phase, head and refusal, read by the window
    Phase m_phase = Phase::Connecting;
    ntrip::ResponseHead m_head;
    std::string m_refusal;
    std::string m_headBytes;
    ntrip::CChunkDecoder m_chunks;
};

} // namespace platform
