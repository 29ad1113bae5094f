#pragma once

#include <netinet/in.h>

#include "SimProcess.h"
#include "Wait.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// The sentence body (from "$" on) with its checksum, CR and LF.
std::string Sentence(const std::string &body);

// A pseudo-terminal: the slave stands in for the receiver's serial device, the test plays the
// receiver on the master.
class CPtyPair {
public:
    CPtyPair();
    ~CPtyPair();
    CPtyPair(const CPtyPair &) = delete;
    CPtyPair &operator=(const CPtyPair &) = delete;

    bool Valid() const { return m_master >= 0; }
    const std::string &SlavePath() const { return m_slavePath; }
    // Writes all of bytes; false when the slave side stopped taking them for 2 s.
    bool Write(const std::string &bytes);
    // What the slave side wrote: returns once want bytes arrived or timeout passed.
    std::string Read(std::size_t want, std::chrono::milliseconds timeout);
    // Unplugs the device: the slave path goes away and the port reads fail.
    void CloseMaster();

private:
    int m_master = -1;
    std::string m_slavePath;
};

// A symbolic link that names the device, moved atomically to a new target, as a replugged USB
// receiver comes back under its old name.
class CDeviceLink {
public:
    CDeviceLink();
    ~CDeviceLink();
    const std::string &Path() const { return m_path; }
    bool PointTo(const std::string &target);

private:
    std::string m_dir;
    std::string m_path;
};

// Seconds of CPU this process used.
double ProcessCpuSeconds();

// Times the threads of this process other than the caller went to sleep and woke again
// (voluntary context switches, from /proc).
std::uint64_t OtherThreadsWakeUps();

// A loopback port nothing listens on right now, for type SOCK_STREAM or SOCK_DGRAM; 0 if none.
int FreePort(int type);

// The loopback address with port (0: any the kernel picks).
sockaddr_in LoopbackAddress(int port);
// A socket of type bound to a loopback port the kernel picked, listening with backlog if it is
// SOCK_STREAM; -1 if it could not be made. port: the port it got.
int BindLoopback(int type, int &port, int backlog = 8);
// A blocking TCP connection to a loopback port; -1 if nothing accepts there.
int ConnectLoopback(int port);

// n connections to a loopback port that sent bytes (none: idle), held until destruction; the
// descriptor limit is raised to the hard limit for them.
class CHeldConnections {
public:
    CHeldConnections(int port, std::size_t n, const std::string &bytes);
    ~CHeldConnections();
    CHeldConnections(const CHeldConnections &) = delete;
    CHeldConnections &operator=(const CHeldConnections &) = delete;
    std::size_t Count() const { return m_connected; }

private:
    std::vector<int> m_fds;
    std::size_t m_connected = 0;
};

// Debian's gpsd run in the foreground on its devices, on a free port, with a control socket of its
// own; stopped with SIGTERM at the end.
class CGpsd {
public:
    // The installed gpsd, or an empty string.
    static std::string BinaryPath();

    CGpsd() = default;
    ~CGpsd();
    CGpsd(const CGpsd &) = delete;
    CGpsd &operator=(const CGpsd &) = delete;

    // Starts it on device and waits until it takes connections.
    bool Start(const std::string &device) { return Start(std::vector<std::string>{device}); }
    // Starts it on every device and waits until it lists them all.
    bool Start(const std::vector<std::string> &devices);
    int Port() const { return m_port; }
    const std::string &ControlSocket() const { return m_socket; }
    // gpsd://localhost:PORT followed by device, when given.
    std::string Url(const std::string &device = {}) const;
    void Stop();

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_dir;
    std::string m_socket;
};
