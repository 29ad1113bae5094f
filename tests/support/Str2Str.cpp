#include "Str2Str.h"

#include "LinkTestSupport.h"
#include "Wait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

bool Listening(int port) {
    const int fd = ConnectLoopback(port);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace

std::string CStr2Str::BinaryPath() {
    return ::access("/usr/bin/str2str", X_OK) == 0 ? "/usr/bin/str2str" : "";
}

CStr2Str::~CStr2Str() {
    Stop();
}

bool CStr2Str::Start(Options options) {
    m_options = std::move(options);
    if (BinaryPath().empty() || m_options.payload.empty())
        return false;
    int inPort = 0;
    m_listener = BindLoopback(SOCK_STREAM, inPort, 1);
    if (m_listener < 0)
        return false;
    m_port = FreePort(SOCK_STREAM);
    const std::string binary = BinaryPath();
    const std::string in = "tcpcli://127.0.0.1:" + std::to_string(inPort);
    const std::string out = "ntripc://" + m_options.user + ":" + m_options.password +
                            "@:" + std::to_string(m_port) + "/" + m_options.mount + ":" +
                            m_options.table;
    // Short timeouts: it reconnects its input within a second.
    std::vector<const char *> argv = {binary.c_str(), "-in", in.c_str(), "-out",
                                      out.c_str(),    "-b",  "1",        "-s",
                                      "2000",         "-r",  "1000",     nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its running byte counts are no business of the test's output.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = ::posix_spawn(&m_pid, binary.c_str(), &actions, nullptr,
                                 const_cast<char *const *>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    pollfd fd{m_listener, POLLIN, 0};
    if (::poll(&fd, 1, 5000) != 1)
        return false;
    m_input = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (m_input < 0 || !WaitUntil([&] { return Listening(m_port); }, std::chrono::seconds(5)))
        return false;
    m_feeder = std::thread([this] { Feed(); });
    return true;
}

void CStr2Str::Feed() {
    std::size_t at = 0;
    const std::string &bytes = m_options.payload;
    while (!m_stop) {
        const std::size_t n = std::min(m_options.bytesPerTick, bytes.size() - at);
        if (::send(m_input, bytes.data() + at, n, MSG_NOSIGNAL) < 0 && errno != EINTR)
            return;
        at = (at + n) % bytes.size();
        // Waits the tick out reading what comes back.
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.tickMs);
        for (auto now = std::chrono::steady_clock::now(); now < until && !m_stop;
             now = std::chrono::steady_clock::now()) {
            pollfd fd{m_input, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
            if (::poll(&fd, 1, static_cast<int>(std::min<long>(left, 50))) != 1)
                continue;
            char buf[2048];
            const ssize_t got = ::recv(m_input, buf, sizeof buf, 0);
            if (got <= 0)
                return;
            std::lock_guard<std::mutex> lock(m_lock);
            m_relayed.append(buf, static_cast<std::size_t>(got));
        }
    }
}

void CStr2Str::Stop() {
    m_stop = true;
    // A send blocked on a full socket returns at once.
    if (m_input >= 0)
        ::shutdown(m_input, SHUT_RDWR);
    if (m_feeder.joinable())
        m_feeder.join();
    if (m_pid > 0) {
        int status = 0;
        // A signal that comes while it is still starting is lost (its loop clears the flag the
        // handler sets): asked again every 100 ms.
        auto nextAsk = std::chrono::steady_clock::now();
        if (!WaitUntil(
                [&] {
                    if (std::chrono::steady_clock::now() >= nextAsk) {
                        ::kill(m_pid, SIGTERM);
                        nextAsk += std::chrono::milliseconds(100);
                    }
                    return ::waitpid(m_pid, &status, WNOHANG) == m_pid;
                },
                std::chrono::seconds(3))) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }
    for (int *fd : {&m_input, &m_listener})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

std::string CStr2Str::RelayedBack() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_relayed;
}
