#pragma once

#include <cstdint>
#include <string>

enum class SimFamily;

// What the simulated receiver is set to: its epochs a second, the systems in its sky (bits of
// the modern sky's order: 1 GPS, 2 GLONASS, 4 Galileo, 8 BeiDou) and its line's baud rate.
struct SimSettings {
    int nRate = 1;
    unsigned systems = 0xF;
    int nBaud = 9600;
    bool operator==(const SimSettings &) const = default;
};

// The receiver's configuration as its family keeps it: the working settings it runs on, the
// non-volatile ones a power cycle brings back, and (ST) the parameters set but not yet saved
// and reset into use. Obeys each family's own configuration commands and answers as it would.
class CSimConfig {
public:
    CSimConfig(SimFamily family, const SimSettings &initial)
        : m_family(family), m_working(initial), m_saved(initial), m_pending(initial) {}

    // u-blox: the protocol version times 100 (the key interface from 2301), and one known key
    // it refuses (0: none), as a firmware that lacks it.
    void SetUbx(int protocolVersion, std::uint32_t refuseKey) {
        m_nProtocol = protocolVersion;
        m_refuseKey = refuseKey;
    }

    // Every command answered as the family does, none applied.
    void SetAckOnly(bool bAckOnly) { m_bAckOnly = bAckOnly; }

    // body: a checksum-good proprietary sentence up to "*". True when it was one of this
    // family's configuration commands; its answer (sentences) is appended to answer, and
    // bReset set when it resets the receiver (ST's PSTMSRR).
    bool OnSentence(const std::string &body, std::string &answer, bool &bReset);
    // A checksum-good UBX frame of class CFG; true when it was a configuration message.
    bool OnUbx(const std::string &frame, std::string &answer);

    const SimSettings &Working() const { return m_working; }
    // Power off and on: the non-volatile settings come back, the rest is forgotten.
    void PowerCycle() { m_working = m_pending = m_saved; }

private:
    bool ObeySentence(const std::string &body, std::string &answer, bool &bReset);
    bool ObeyUbx(const std::string &frame, std::string &answer);
    // Undoes what a command changed when the receiver only acknowledges.
    void KeepIfAckOnly(const SimSettings &working, const SimSettings &saved,
                       const SimSettings &pending);
    bool OnUbxValSet(const std::string &payload);
    // MediaTek and SiRF keep every change in their backup memory at once.
    void Changed();

    SimFamily m_family;
    SimSettings m_working, m_saved, m_pending;
    int m_nProtocol = 1800;
    std::uint32_t m_refuseKey = 0;
    bool m_bAckOnly = false;
};
