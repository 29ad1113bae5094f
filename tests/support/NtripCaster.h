#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A small NTRIP caster on 127.0.0.1 for the tests, on a thread of its own, one client at a time:
// it checks the credentials and the mount point, answers as an NTRIP 2 or 1 caster would, serves
// a buffer of RTCM 3 and records what the clients sent.
class CTestCaster {
public:
    enum class Mode {
        Chunked, // "HTTP/1.1 200 OK" with chunked transfer, chunk edges anywhere
        Icy,     // "ICY 200 OK", then the bytes as they are
        Silent,  // the NTRIP 2 head, then nothing
        Close,   // the NTRIP 2 head, then the connection closed
        Broken,  // as Chunked, then a size line that is no number
    };
    struct Options {
        std::string user, password; // an empty user takes any client
        std::vector<std::string> mounts = {"MOUNT"};
        // Answers an unknown mount with the source table, as many NTRIP 1 casters do, not 404.
        bool tableForUnknown = false;
        // The source table as "SOURCETABLE 200 OK" rather than HTTP/1.1's gnss/sourcetable.
        bool tableV1 = false;
        std::vector<std::string> table; // the STR lines
        Mode mode = Mode::Chunked;
        std::string icyHead = "ICY 200 OK\r\n";
        std::vector<std::size_t> chunkSizes = {1, 7, 100, 333, 1000, 2}; // cycled
        bool chunkExtensions = false; // every other chunk's size line carries ";name=value"
        std::string payload;          // what a mount serves
        // 0 sends the payload at once; else this many RTCM 3 frames every tickMs.
        std::size_t framesPerTick = 0;
        int tickMs = 100;
    };

    explicit CTestCaster(Options options);
    ~CTestCaster();
    CTestCaster(const CTestCaster &) = delete;
    CTestCaster &operator=(const CTestCaster &) = delete;

    // Listens on an ephemeral loopback port and starts serving.
    bool Start();
    void Stop();
    int Port() const { return m_port; }

    // What clients sent: each request's head, and every byte after the heads (GGA going up).
    std::vector<std::string> Heads() const;
    std::string Uploaded() const;
    int Connections() const { return m_connections; }

private:
    void Run();
    void Serve(int fd);
    // Reads up to the blank line within 2 s; what followed it joins Uploaded.
    bool ReadHead(int fd, std::string &head);
    void Answer(int fd, const std::string &head);
    void SendData(int fd, const std::string &bytes, std::size_t &chunk);
    // Sleeps up to ms while reading the client's bytes; false once it left or Stop was called.
    bool Listen(int fd, int ms);

    Options m_options;
    std::vector<std::size_t> m_frameEnds; // where each frame of the payload ends
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
    std::atomic<int> m_connections{0};
    mutable std::mutex m_lock;
    std::vector<std::string> m_heads;
    std::string m_uploaded;
};

// ntrip://[userInfo@]127.0.0.1:port/mount
std::string LoopbackNtripUrl(const std::string &userInfo, int port, const std::string &mount);
// The RTCM 3 frames whose CRC holds in bytes, in order, each whole.
std::vector<std::string> Rtcm3Frames(const std::string &bytes);
// A file's bytes; "" when it cannot be read.
std::string ReadWholeFile(const std::string &path);
