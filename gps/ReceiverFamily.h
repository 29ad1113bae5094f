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
    // Forgets the family and any half-seen frame, for a new connection.
    void Reset();
    // s holds one whole checksum-good sentence, "$" through its line end, len bytes.
    void OnSentence(const char *s, std::size_t len);
    // Every block of raw bytes as read, for the UBX frames between the sentences; passed over
    // while the family is u-blox, which a frame can only repeat.
    void OnBlock(const char *block, std::size_t n);
    ReceiverFamily Current() const { return m_family.load(std::memory_order_relaxed); }

private:
    void Set(ReceiverFamily family) { m_family.store(family, std::memory_order_relaxed); }
    void UbxByte(std::uint8_t b);

    std::atomic<ReceiverFamily> m_family{ReceiverFamily::Unknown};
    // A UBX frame being followed across blocks: bytes seen so far, its payload length, and its
    // running checksum.
    std::size_t m_nUbx = 0;
    std::size_t m_nUbxLength = 0;
    std::uint8_t m_ckA = 0;
    std::uint8_t m_ckB = 0;
    std::uint8_t m_ubxCkA = 0;
};
