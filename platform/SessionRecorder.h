#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// Writes the received bytes to a file exactly as they came. The reader thread only appends to a
// buffer; a thread of the recorder's own writes it out at least every kFlushMs, so a slow or full
// disk never holds up the reading. A write that fails stops the recording with the reason; what
// was written stays.
class CSessionRecorder {
public:
    static constexpr int kFlushMs = 250;
    // Bytes held for the writer before the recording gives up on a disk that does not keep up.
    static constexpr std::size_t kMaxPending = 8u << 20;

    CSessionRecorder() = default;
    ~CSessionRecorder();
    CSessionRecorder(const CSessionRecorder &) = delete;
    CSessionRecorder &operator=(const CSessionRecorder &) = delete;

    // Starts recording to path, ending a recording in progress. An existing regular file is
    // replaced only when overwrite is set; anything else that exists there is refused. False
    // with a one-line reason.
    bool Start(const std::string &path, bool overwrite, std::string &why);
    // Writes what is pending and closes the file.
    void Stop();
    // Any thread that feeds the decoder: the bytes as received.
    void OnBlock(const char *block, std::size_t n);

    struct Status {
        bool recording = false;
        std::string path;
        std::uint64_t written = 0; // bytes in the file so far
        std::string stopped;       // why the last recording stopped by itself, or ""
    };
    Status CopyStatus() const;

    // Whether path may be a new recording: "" when it may, else the reason ("... exists").
    static std::string CheckTarget(const std::string &path, bool overwrite);

private:
    // Under m_lock.
    void SetRecording(bool on) {
        m_recording = on;
        m_bTaking.store(on, std::memory_order_release);
    }
    void WriterThread();
    // Writes the batch; false after setting m_stopped.
    bool WriteOut(const std::string &batch);

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::thread m_writer;
    int m_fd = -1;
    bool m_recording = false; // under m_lock; false also once a failure stopped it
    // m_recording, for OnBlock to read without the lock.
    std::atomic<bool> m_bTaking{false};
    bool m_quit = false;
    bool m_overflow = false;
    std::string m_pending;
    std::string m_path;
    std::uint64_t m_written = 0;
    std::string m_stopped;
};

// "12 B", "4.5 kB", "1.2 MB": a byte count for the caption.
std::string ByteCountText(std::uint64_t n);

} // namespace platform
