#pragma once

#include "model/NmeaDecoder.h"

#include <cstddef>
#include <cstdint>

// Tells when a receiver's epoch is complete: when a sentence with a new time of fix follows
// sentences not yet reported, or when the stream goes quiet after them. Fed on the reader thread.
class CEpochTracker {
public:
    // A good sentence, "$" through line end; fields: the decoder's split of it, when it made one
    // (CNmeaDecoder::SentenceFields), so the time of fix is not looked for again.
    void OnSentence(const char *sentence, std::size_t len,
                    const CNmeaDecoder::Fields *fields = nullptr);
    // A good binary frame. A UBX navigation message's time of week marks its epoch as a sentence's
    // time of fix does, and once one has, the sentences' times no longer do (the two protocols of
    // one epoch are one epoch); NAV-EOE ends the epoch at once.
    void OnFrame(FrameProtocol protocol, const unsigned char *frame, std::size_t len);
    // After a block was decoded: true when an epoch ended inside it.
    bool BlockDone();
    // The stream has been quiet: true when sentences wait to be reported.
    bool Quiet();
    // True while sentences since the last report wait for a quiet line or a new time.
    bool Pending() const { return m_bPending; }
    void Reset();

private:
    static constexpr std::size_t kMaxTime = 15;
    char m_time[kMaxTime] = {};
    std::size_t m_nTime = 0;
    bool m_bPending = false;
    bool m_bTimedPending = false; // one of them carried a time of fix
    bool m_bEnded = false;
    bool m_bUbxTimed = false; // UBX times of week mark the epochs
    std::uint32_t m_iTow = 0;
};
