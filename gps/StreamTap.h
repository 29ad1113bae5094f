#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What one line of the raw stream is.
enum class TapKind : std::uint8_t {
    Sentence,    // an NMEA sentence whose checksum holds
    BadSentence, // an NMEA sentence whose checksum is wrong or missing
    Ubx,         // a UBX frame whose checksum holds
    Rtcm,        // an RTCM 3 frame whose CRC holds
    Sent,        // a command written to the receiver
};

struct TapLine {
    std::uint64_t seq = 0; // 1 for the first line ever added
    TapKind kind = TapKind::Sentence;
    std::chrono::system_clock::time_point at{};
    std::string bytes; // the sentence without its line end, or the whole frame
};

// The newest lines of the stream in a fixed ring, filled on the reader thread (and by the
// window's commands) and copied by the console. The lines' bytes lie one after another in one
// block of kBytes, written in order as they come: a line costs a copy into memory the last one
// warmed, not a visit to a string of its own. The ring holds at most capacity lines, fewer when
// their bytes outgrow the block (long binary frames).
class CStreamTap {
public:
    static constexpr std::size_t kCapacity = 10000;
    static constexpr std::size_t kBytes = std::size_t{4} << 20;
    explicit CStreamTap(std::size_t capacity = kCapacity, std::size_t bytes = kBytes)
        : m_capacity(capacity), m_byteCapacity(bytes) {}

    void Add(TapKind kind, const void *data, std::size_t n) {
        Add(kind, data, n, std::chrono::system_clock::now());
    }
    // A line that came at the given time (the reader's: its block's, read once for all its lines).
    // A line longer than the whole block keeps its first kBytes.
    void Add(TapKind kind, const void *data, std::size_t n,
             std::chrono::system_clock::time_point at);
    // The lines after the one numbered seen that the ring still holds, oldest first; seen
    // becomes the newest's number.
    std::vector<TapLine> Since(std::uint64_t &seen) const;
    // Lines held now, at most the capacity.
    std::size_t Size() const;
    std::size_t Capacity() const { return m_capacity; }
    // Lines ever added.
    std::uint64_t Added() const;

private:
    struct Entry {
        std::chrono::system_clock::time_point at;
        std::size_t offset = 0; // of its bytes in m_bytes
        std::uint32_t len = 0;
        TapKind kind = TapKind::Sentence;
    };
    // The oldest line held goes, its bytes with it.
    void DropOldest();
    // The ring's slot of the line that many after the oldest held.
    std::size_t Slot(std::size_t fromOldest) const;

    const std::size_t m_capacity;
    const std::size_t m_byteCapacity;
    mutable std::mutex m_lock;
    std::vector<Entry> m_ring;
    std::size_t m_oldest = 0; // the oldest held line's slot
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_head = 0;    // where the next line's bytes go
    std::uint64_t m_added = 0; // lines ever added: the newest's number
    std::size_t m_held = 0;    // lines held: numbers m_added - m_held + 1 to m_added
};
