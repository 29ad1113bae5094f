#include "SimProcess.h"
#include "TestPaths.h"

#include "Wait.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string TempFile(const char *what) {
    std::string name = std::string("/tmp/skywatch-sim-") + what + "-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return {};
    ::close(fd);
    return name;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string CSimProcess::Binary() {
    return BinaryDir() + "/tools/skywatch-sim";
}

bool CSimProcess::Built() {
    return ::access(Binary().c_str(), X_OK) == 0;
}

CSimProcess::CSimProcess(const std::vector<std::string> &args, std::size_t nMemoryLimit) {
    Start(args, nMemoryLimit);
}

CSimProcess::~CSimProcess() {
    Stop();
    for (const std::string *file : {&m_outputFile, &m_errorFile})
        if (!file->empty())
            ::unlink(file->c_str());
}

bool CSimProcess::Start(const std::vector<std::string> &args, std::size_t nMemoryLimit) {
    return Built() && StartProgram(Binary(), args, true, nMemoryLimit);
}

bool CSimProcess::StartProgram(const std::string &binary, const std::vector<std::string> &args,
                               bool firstLine, std::size_t nMemoryLimit) {
    if (m_pid > 0)
        return false;
    for (const std::string *file : {&m_outputFile, &m_errorFile})
        if (!file->empty())
            ::unlink(file->c_str());
    m_outputFile = TempFile("out");
    m_errorFile = TempFile("err");
    if (m_outputFile.empty() || m_errorFile.empty())
        return false;
    // Everything the child needs is made before fork(): it may only make async-signal-safe calls.
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int out = ::open(m_outputFile.c_str(), O_WRONLY | O_CLOEXEC);
    const int err = ::open(m_errorFile.c_str(), O_WRONLY | O_CLOEXEC);
    const rlimit limit{nMemoryLimit, nMemoryLimit};
    m_pid = out >= 0 && err >= 0 ? ::fork() : -1;
    if (m_pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        if (nMemoryLimit != 0)
            ::setrlimit(RLIMIT_AS, &limit);
        ::execv(binary.c_str(), argv.data());
        ::_exit(127);
    }
    for (const int fd : {out, err})
        if (fd >= 0)
            ::close(fd);
    if (m_pid < 0)
        return false;
    m_status = -1;
    m_taken = 0;
    m_slavePath = firstLine ? NextPath(5000) : std::string();
    return !firstLine || !m_slavePath.empty();
}

bool CSimProcess::Reaped() {
    int status = 0;
    if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_pid <= 0;
}

std::string CSimProcess::NextPath(int timeoutMs) {
    std::string text;
    std::size_t eol = std::string::npos;
    WaitUntil(
        [&] {
            // Reaped first: what it wrote before it exited is in the file by then.
            const bool bGone = Reaped();
            text = ReadFile(m_outputFile);
            eol = text.find('\n', m_taken);
            return eol != std::string::npos || bGone;
        },
        std::chrono::milliseconds(timeoutMs));
    if (eol == std::string::npos)
        return {};
    std::string line = text.substr(m_taken, eol - m_taken);
    m_taken = eol + 1;
    return line;
}

std::string CSimProcess::Output() const {
    return ReadFile(m_outputFile);
}

std::string CSimProcess::Errors() const {
    return ReadFile(m_errorFile);
}

int CSimProcess::Wait(int timeoutMs) {
    return WaitUntil([&] { return Reaped(); }, std::chrono::milliseconds(timeoutMs)) ? m_status
                                                                                     : -1;
}

void CSimProcess::Stop() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    if (Wait(3000) < 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}
