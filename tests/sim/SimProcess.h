#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// skywatch-sim run as a child with its stdout and stderr on pipes; killed with SIGTERM at the end.
class CSimProcess {
public:
    static std::string Binary();

    // nMemoryLimit, when not 0, bounds the simulator's address space in bytes.
    explicit CSimProcess(const std::vector<std::string>& args, std::size_t nMemoryLimit = 0);
    ~CSimProcess();
    CSimProcess(const CSimProcess&) = delete;
    CSimProcess& operator=(const CSimProcess&) = delete;

    // The next line the simulator prints on stdout, or "" after timeoutMs.
    std::string NextPath(int timeoutMs);
    // Everything on stderr so far.
    const std::string& Stderr();
    // Waits for the exit; the status code, or -1 after timeoutMs.
    int Wait(int timeoutMs);
    void Terminate();

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
};
