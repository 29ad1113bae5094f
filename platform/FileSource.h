#pragma once

#include "ByteSource.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A recording played back as if the receiver sent it: the bytes as they are in the file (gzip is
// read through zlib), paced by the times of its sentences (of its UBX navigation messages when it
// has no timed sentences). Speed and position are set from the
// window's thread while the reader plays.
class CFileSource : public CByteSource {
public:
    static constexpr int kPaused = 0;
    static constexpr int kFastest = -1;

    explicit CFileSource(std::string path);
    ~CFileSource() override;
    // Opens the file; false with the reason.
    bool Open(std::string &why);

    SerialRead Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) override;
    bool Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) override;
    void Release() override {}
    bool Reopen() override { return true; }
    int LastError() const override { return 0; }
    int Handle() const override { return m_fd; }
    std::string Description() const override { return "replay of " + m_path; }
    bool CanSendCommands(std::string &why) const override;
    bool IsNetwork() const override { return false; }

    // 1, 10, kFastest, or kPaused, which keeps the speed to resume at.
    void SetSpeed(int speed) {
        if (speed != kPaused)
            m_speed.store(speed);
        m_paused.store(speed == kPaused);
    }
    int Speed() const { return m_paused.load() ? kPaused : m_speed.load(); }
    // Plays on at the speed it had before the pause.
    void Resume() { m_paused.store(false); }
    // Jumps to this fraction (0-1) of the recording, to the next line there.
    // Asked while paused, it plays the moment it lands on, then holds there.
    void JumpTo(double fraction) {
        m_jumpWhilePaused.store(m_paused.load());
        m_jump.store(fraction);
    }
    // How far the playback is, 0-1 (of the file's bytes).
    double Position() const { return m_position.load(); }
    bool Ended() const { return m_ended.load(); }

private:
    // Fills m_chunk from the file; false at its end.
    bool Refill();
    void DoJump(double fraction);
    // The epoch time (seconds of the day) a sentence line starts, or -1.
    static double LineTime(const char *line, std::size_t n);
    // The time of week in seconds of the UBX navigation message at p (left bytes there), or -1.
    static double FrameTime(const char *p, std::size_t left);

    std::string m_path;
    void *m_gz = nullptr; // gzFile
    int m_fd = -1;
    std::uint64_t m_total = 1;    // bytes the playback runs through (uncompressed, estimated)
    std::uint64_t m_consumed = 0; // bytes handed out, jumps included
    std::vector<char> m_chunk;
    std::size_t m_at = 0;
    bool m_eof = false;
    double m_epochUtc = -1.0;
    bool m_bSentenceTimes = false; // timed sentences seen: UBX times no longer pace
    std::chrono::steady_clock::time_point m_epochStart;

    std::atomic<int> m_speed{1};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_jumpWhilePaused{false};
    bool m_step = false;  // playing the moment a jump while paused landed on
    int m_stepEpochs = 0; // epochs begun since that jump
    std::size_t m_stepBytes = 0;
    std::atomic<double> m_jump{-1.0};
    std::atomic<double> m_position{0.0};
    std::atomic<bool> m_ended{false};
};

// True when name is a recording to replay: "file://PATH", or a path to a regular file.
bool IsReplayName(const std::string &name);
// The path of a replay name ("file://" taken off).
std::string ReplayPath(const std::string &name);
// Why the recording cannot be replayed ("... holds no NMEA in its first MiB"), or "".
std::string ReplayProblem(const std::string &name);

} // namespace platform
