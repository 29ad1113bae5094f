#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// How many times as fast as the wall's the simulated receiver's clock runs (skywatch-sim
// --speed) in the tests that wait on its own timing (a restart's time to fix, the RTK rover, a
// jammer, a power cycle) and read it back in its seconds: a busy machine's tenth of a second is
// then under half of the receiver's second, well inside their margins.
inline constexpr int kSimSpeed = 4;

// The simulated receiver skywatch-sim, run from the build tree as a child process; its standard
// output and error go to files, so that it never blocks on a full pipe nor dies of SIGPIPE.
class CSimProcess {
public:
    static std::string Binary();
    static bool Built();

    CSimProcess() = default;
    // Starts it at once; see Start().
    explicit CSimProcess(const std::vector<std::string> &args, std::size_t nMemoryLimit = 0);
    ~CSimProcess();
    CSimProcess(const CSimProcess &) = delete;
    CSimProcess &operator=(const CSimProcess &) = delete;

    // Starts it with args and waits for the first path it prints; false when it printed none.
    // nMemoryLimit, when not 0, bounds its address space in bytes.
    bool Start(const std::vector<std::string> &args, std::size_t nMemoryLimit = 0);
    // Starts another program the same way (its output to files, stopped as the simulator is);
    // waits for its first line of standard output when firstLine, as Start does.
    bool StartProgram(const std::string &binary, const std::vector<std::string> &args,
                      bool firstLine, std::size_t nMemoryLimit = 0);
    // The first path it printed: the device it serves.
    const std::string &SlavePath() const { return m_slavePath; }
    // The next line it prints on standard output, or "" after timeoutMs or once it exited.
    std::string NextPath(int timeoutMs);
    // Everything it wrote to standard output and standard error so far.
    std::string Output() const;
    std::string Errors() const;
    // Waits for the exit; the status code (128 + signal when killed), or -1 after timeoutMs.
    int Wait(int timeoutMs);
    // SIGTERM, then SIGKILL after 3 s; its output stays readable until destruction.
    void Stop();
    // The process, -1 before Start.
    pid_t Pid() const { return m_pid; }

private:
    bool Reaped();

    pid_t m_pid = -1;
    int m_status = -1;
    std::size_t m_taken = 0;
    std::string m_slavePath;
    std::string m_outputFile;
    std::string m_errorFile;
};
