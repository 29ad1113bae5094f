#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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
// window's commands) and copied by the console: adding never waits on a reader of the copies
// for longer than one copy of a line, and the ring never grows past its capacity.
class CStreamTap {
public:
    static constexpr std::size_t kCapacity = 10000;
    explicit CStreamTap(std::size_t capacity = kCapacity) : m_capacity(capacity) {}

    void Add(TapKind kind, const void *data, std::size_t n) {
        Add(kind, data, n, std::chrono::system_clock::now());
    }
    // A line that came at the given time (the reader's: its block's, read once for all its lines).
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
    const std::size_t m_capacity;
    mutable std::mutex m_lock;
    std::vector<TapLine> m_ring;
    std::uint64_t m_added = 0;
};
