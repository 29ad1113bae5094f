#include "LinkTestSupport.h"

#include "GpsdSource.h"
#include "receiver/RestartCommands.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

std::string Sentence(const std::string &body) {
    std::vector<char> buf(body.size() + 8, '\0');
    body.copy(buf.data(), body.size());
    AppendChecksum(buf.data(), buf.size());
    return buf.data();
}

CPtyPair::CPtyPair() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    // The port opens the slave by its path, as it would a real device.
    ::close(slave);
    m_slavePath = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
}

CPtyPair::~CPtyPair() {
    CloseMaster();
}

void CPtyPair::CloseMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool CPtyPair::Write(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{m_master, POLLOUT, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return false;
    }
    return true;
}

std::string CPtyPair::Read(std::size_t want, std::chrono::milliseconds timeout) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < want && m_master >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[256];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            // EIO: nobody has the slave open, and poll() would report that at once.
            WaitUntil([] { return false; }, std::chrono::milliseconds(5));
    }
    return got;
}

CDeviceLink::CDeviceLink() {
    char dir[] = "/tmp/skywatch-link-XXXXXX";
    if (::mkdtemp(dir) != nullptr) {
        m_dir = dir;
        m_path = m_dir + "/gps";
    }
}

CDeviceLink::~CDeviceLink() {
    if (m_dir.empty())
        return;
    ::unlink(m_path.c_str());
    ::unlink((m_path + ".new").c_str());
    ::rmdir(m_dir.c_str());
}

bool CDeviceLink::PointTo(const std::string &target) {
    const std::string fresh = m_path + ".new";
    ::unlink(fresh.c_str());
    return !m_dir.empty() && ::symlink(target.c_str(), fresh.c_str()) == 0 &&
           ::rename(fresh.c_str(), m_path.c_str()) == 0;
}

double ProcessCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::uint64_t OtherThreadsWakeUps() {
    std::uint64_t total = 0;
    const std::string self = std::to_string(::gettid());
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (task.path().filename() == self)
            continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("voluntary_ctxt_switches:"))
                total += std::stoull(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

int FreePort(int type) {
    int port = 0;
    const int fd = BindLoopback(type, port, 1);
    if (fd < 0)
        return 0;
    ::close(fd);
    return port;
}

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return addr;
}

int BindLoopback(int type, int &port, int backlog) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ((type & 0xf) == SOCK_STREAM && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = LoopbackAddress(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

CHeldConnections::CHeldConnections(int port, std::size_t n, const std::string &bytes) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    // A server that stops accepting fails the count within seconds, rather than hanging.
    const timeval timeout{2, 0};
    const sockaddr_in addr = LoopbackAddress(port);
    for (std::size_t i = 0; i < n; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            break;
        m_fds.push_back(fd);
        if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0 ||
            ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
            (!bytes.empty() && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0))
            break;
        ++m_connected;
    }
}

CHeldConnections::~CHeldConnections() {
    for (const int fd : m_fds)
        ::close(fd);
}

std::string CGpsd::BinaryPath() {
    for (const char *path : {"/usr/sbin/gpsd", "/usr/bin/gpsd", "/usr/local/sbin/gpsd"})
        if (::access(path, X_OK) == 0)
            return path;
    return {};
}

CGpsd::~CGpsd() {
    Stop();
}

bool CGpsd::Start(const std::vector<std::string> &devices) {
    char dir[] = "/tmp/skywatch-gpsd-XXXXXX";
    if (BinaryPath().empty() || ::mkdtemp(dir) == nullptr)
        return false;
    m_dir = dir;
    m_socket = m_dir + "/gpsd.sock";
    m_port = FreePort(SOCK_STREAM);
    const std::string port = std::to_string(m_port);
    const std::string binary = BinaryPath();
    std::vector<const char *> argv = {binary.c_str(),  "-N", "-n", "-S", port.c_str(), "-F",
                                      m_socket.c_str()};
    for (const std::string &device : devices)
        argv.push_back(device.c_str());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its complaints about a missing system bus are no business of the test's output.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = ::posix_spawn(&m_pid, binary.c_str(), &actions, nullptr,
                                 const_cast<char *const *>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    return WaitUntil(
               [&] {
                   const int fd = ConnectLoopback(m_port);
                   if (fd >= 0)
                       ::close(fd);
                   return fd >= 0;
               },
               std::chrono::seconds(5)) &&
           // Up once it lists the device, which it does when it has recognised the stream.
           WaitUntil(
               [&] {
                   return platform::CGpsdSource::QueryDevices("localhost", m_port, 500).size() ==
                          devices.size();
               },
               std::chrono::seconds(5));
}

std::string CGpsd::Url(const std::string &device) const {
    return "gpsd://localhost:" + std::to_string(m_port) + device;
}

void CGpsd::Stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        if (!WaitUntil([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; },
                       std::chrono::seconds(3))) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }
    if (!m_dir.empty()) {
        ::unlink(m_socket.c_str());
        ::rmdir(m_dir.c_str());
        m_dir.clear();
    }
}
