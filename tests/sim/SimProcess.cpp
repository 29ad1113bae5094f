#include "SimProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void Drain(int fd, std::string& text)
{
    char buf[512];
    ssize_t n;
    while (fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
}

} // namespace

std::string CSimProcess::Binary() { return SKYWATCH_BINARY_DIR "/tools/skywatch-sim"; }

CSimProcess::CSimProcess(const std::vector<std::string>& args, std::size_t nMemoryLimit)
{
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        if (nMemoryLimit != 0) {
            const rlimit limit{nMemoryLimit, nMemoryLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char*> argv;
        std::string bin = Binary();
        argv.push_back(bin.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(bin.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
    ::fcntl(m_out, F_SETFL, O_NONBLOCK);
    ::fcntl(m_err, F_SETFL, O_NONBLOCK);
}

CSimProcess::~CSimProcess()
{
    Terminate();
    if (m_out >= 0)
        ::close(m_out);
    if (m_err >= 0)
        ::close(m_err);
}

std::string CSimProcess::NextPath(int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        Drain(m_out, m_outText);
        const std::size_t nl = m_outText.find('\n');
        if (nl != std::string::npos) {
            std::string line = m_outText.substr(0, nl);
            m_outText.erase(0, nl + 1);
            return line;
        }
        pollfd pfd{m_out, POLLIN, 0};
        ::poll(&pfd, 1, 20);
    }
    return {};
}

const std::string& CSimProcess::Stderr()
{
    Drain(m_err, m_errText);
    return m_errText;
}

int CSimProcess::Wait(int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pid > 0 && std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            Stderr();
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

void CSimProcess::Terminate()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    if (Wait(2000) < 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}
