#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The chip maker's family a receiver belongs to, as far as its own stream tells.
enum class ReceiverFamily : std::uint8_t { Unknown, Sirf, Ublox, Mtk, Casic, St };

// "SiRF", "u-blox", "MediaTek", "CASIC", "ST Teseo"; "unknown" for Unknown.
const char *FamilyName(ReceiverFamily family);

// Recognises the receiver from what it sends anyway: banners ($GxTXT), proprietary sentences
// and UBX binary frames. Keeps the last family recognised; Unknown until something identifies it.
// Fed on the reader thread; Current() may be read from any thread.
class CReceiverFamily {
public:
    // Forgets the family, for a new connection.
    void Reset() { Set(ReceiverFamily::Unknown); }
    // s holds one whole checksum-good sentence, "$" through its line end, len bytes.
    void OnSentence(const char *s, std::size_t len);
    // A UBX frame whose checksum holds, as the decoder takes it: in the stream's order with the
    // sentences wherever the block edges fall, which raw blocks are not.
    void OnUbxFrame() { Set(ReceiverFamily::Ublox); }
    ReceiverFamily Current() const { return m_family.load(std::memory_order_relaxed); }

private:
    void Set(ReceiverFamily family) { m_family.store(family, std::memory_order_relaxed); }

    std::atomic<ReceiverFamily> m_family{ReceiverFamily::Unknown};
};
