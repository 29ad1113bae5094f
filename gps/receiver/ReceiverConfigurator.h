#pragma once

#include "receiver/ReceiverSettings.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class CReceiverLink;

// How one setting went, as the window and the decode tool say it.
struct SettingResult {
    std::string setting; // "rate", "gnss", "baud", "save"
    std::string value;   // "5", "GPS,GAL", "115200"; "" for save
    // "confirmed", "nak", "no answer", "not supported", "refused", "not sent" (a save after a
    // change that failed)
    std::string result;
    std::string detail;    // what confirmed it, or why not ("receiver sent NAK for CFG-RATE", ...)
    double seconds = -1.0; // from the first command to the confirmation
    bool Confirmed() const { return result == "confirmed"; }
};
// "rate 5 Hz: confirmed", "gnss GPS,GAL: not confirmed: receiver sent NAK", ...
std::string ResultText(const SettingResult &result);

// Sends a setting in the receiver's family's language through the open port, waits for its
// acknowledgement and checks it against what the receiver then does: the interval between
// epochs for the rate, the systems in view for the constellations, the stream decoding at the
// new speed for the baud rate (the port follows; after a few seconds without a stream it goes
// back to the old speed and says so). Nothing is reported as set that was not. Blocking: run it
// on a thread of its own, never the port's reader. A baud change reopens the port from that
// thread (CGpsPort::ChangeBaud): meanwhile the owner must not open or close it nor read its
// public numbers (m_nPort, m_nBaud, m_hPort).
class CReceiverConfigurator {
public:
    explicit CReceiverConfigurator(CReceiverLink &port);
    ~CReceiverConfigurator();
    CReceiverConfigurator(const CReceiverConfigurator &) = delete;
    CReceiverConfigurator &operator=(const CReceiverConfigurator &) = delete;

    SettingResult Apply(const Setting &setting);
    // Each in order, then a save when asked (one result more). A family that takes settings only
    // from its saved configuration (ST) gets them all written, saved and reset, then each checked.
    std::vector<SettingResult> ApplyAll(const std::vector<Setting> &settings, bool save);

    // What the receiver does now, measured over ms: fixes a second, systems in view, the port's
    // baud rate (0 on a network source). Not while Apply runs: both read the same replies.
    struct Current {
        double rateHz = 0.0;
        unsigned gnss = 0;
        int baud = 0;
    };
    Current Measure(int ms);

private:
    using Clock = std::chrono::steady_clock;
    struct Reply {
        std::string bytes; // a sentence without its line end, or a whole UBX frame
        bool binary = false;
    };
    void ClearReplies();
    std::deque<Reply> TakeReplies();
    ReceiverFamily AwaitFamily();
    // The u-blox protocol version times 100, asked once with a MON-VER poll; 0 when unknown.
    int ProtocolVersion();
    // 1 acknowledged, -1 refused, 0 nothing (failure says why when it was not sent), 2 when
    // nothing answers the step.
    int SendStep(const ConfigStep &step, std::string &failure);
    // 1 acknowledged, -1 refused, 0 nothing within the reply time.
    int AwaitReply(const ReplyMatch &reply);
    bool Prepare(const Setting &setting, SettingResult &result, ReceiverFamily &family,
                 int &protocolVersion, FamilySupport &support);
    // Refuses, before anything is sent, what the family cannot do or the line cannot carry.
    bool Admit(ReceiverFamily family, int protocolVersion, const Setting &setting,
               SettingResult &result);
    bool SendSetting(ReceiverFamily family, int protocolVersion, const Setting &setting,
                     SettingResult &result);
    bool SendKeyByKey(ReceiverFamily family, int protocolVersion, const Setting &setting,
                      SettingResult &result);
    void Verify(const Setting &setting, Clock::time_point started, SettingResult &result);

    CReceiverLink &m_port;
    // Kept across a baud change, which reopens the port and makes it learn the family again.
    ReceiverFamily m_family = ReceiverFamily::Unknown;
    int m_protocolVersion = -1;
    FamilySupport m_support;
    double m_rateHz = 0.0;       // the rate last measured
    Current m_pending;           // written, not yet in use until saved and reset (ST)
    bool m_acknowledged = false; // a step of the last setting sent was acknowledged
    bool m_waitedForSource = false;
    // Replies seen by the port's reader, taken by Apply.
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Reply> m_replies;
};
