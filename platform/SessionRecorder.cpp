#include "SessionRecorder.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr std::size_t kWakeWriterAt = 64u << 10;

std::string Reason(int error) {
    return std::strerror(error);
}

} // namespace

std::string ByteCountText(std::uint64_t n) {
    if (n < 1000)
        return std::to_string(n) + " B";
    // to_chars, not printf: the window shows numbers with a point whatever LC_NUMERIC says.
    const auto text = [](double v, int decimals, const char *unit) {
        char b[32];
        const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, decimals);
        return std::string(b, r.ptr) + unit;
    };
    const auto v = static_cast<double>(n);
    if (n < 1000000)
        return text(v / 1e3, 1, " kB");
    if (n < 1000000000)
        return text(v / 1e6, 1, " MB");
    return text(v / 1e9, 2, " GB");
}

CSessionRecorder::~CSessionRecorder() {
    Stop();
}

std::string CSessionRecorder::CheckTarget(const std::string &path, bool overwrite) {
    if (path.empty())
        return "no file named to record to";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? std::string() : path + ": " + Reason(errno);
    if (S_ISDIR(st.st_mode))
        return path + " is a folder, not a regular file";
    if (!S_ISREG(st.st_mode))
        return path + " is not a regular file";
    if (!overwrite)
        return path + " exists; --record-overwrite replaces it";
    return {};
}

bool CSessionRecorder::Start(const std::string &path, bool overwrite, std::string &why) {
    Stop();
    why = CheckTarget(path, overwrite);
    if (!why.empty())
        return false;
    // A write beyond the file size limit must fail with EFBIG, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Non-blocking so a FIFO put there since the check cannot hold the open; refused below.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (overwrite ? O_TRUNC : O_EXCL);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        why = path + ": " + Reason(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = path + " is not a regular file";
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    {
        std::lock_guard lock(m_lock);
        m_fd = fd;
        m_path = path;
        m_written = 0;
        m_pending.clear();
        m_stopped.clear();
        m_overflow = false;
        m_quit = false;
        SetRecording(true);
    }
    m_writer = std::thread(&CSessionRecorder::WriterThread, this);
    return true;
}

void CSessionRecorder::Stop() {
    {
        std::lock_guard lock(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    std::lock_guard lock(m_lock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    SetRecording(false);
    m_pending.clear();
}

void CSessionRecorder::OnBlock(const char *block, std::size_t n) {
    // Idle, the reader passes by without the lock: a block comes in pieces, one per sentence.
    if (!m_bTaking.load(std::memory_order_acquire))
        return;
    bool wake = false;
    {
        std::lock_guard lock(m_lock);
        if (!m_recording || n == 0)
            return;
        if (m_pending.size() + n > kMaxPending) {
            // What is pending still goes out; nothing after the gap does.
            SetRecording(false);
            m_overflow = true;
            wake = true;
        } else {
            m_pending.append(block, n);
            wake = m_pending.size() >= kWakeWriterAt;
        }
    }
    if (wake)
        m_wake.notify_all();
}

CSessionRecorder::Status CSessionRecorder::CopyStatus() const {
    std::lock_guard lock(m_lock);
    return Status{m_recording, m_path, m_written, m_stopped};
}

bool CSessionRecorder::WriteOut(const std::string &batch) {
    std::size_t done = 0;
    while (done < batch.size()) {
        const ssize_t w = ::write(m_fd, batch.data() + done, batch.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            const int error = w < 0 ? errno : EIO;
            std::lock_guard lock(m_lock);
            m_written += done;
            SetRecording(false);
            m_stopped =
                "recording stopped: " + Reason(error) + "; " + ByteCountText(m_written) + " kept";
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    std::lock_guard lock(m_lock);
    m_written += done;
    return true;
}

void CSessionRecorder::WriterThread() {
    struct stat opened {};
    ::fstat(m_fd, &opened);
    std::string batch;
    for (;;) {
        bool quit;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait_for(lock, std::chrono::milliseconds(kFlushMs), [this] {
                return m_quit || !m_recording || m_pending.size() >= kWakeWriterAt;
            });
            batch.clear();
            std::swap(batch, m_pending);
            quit = m_quit || !m_recording;
        }
        if (!batch.empty() && !WriteOut(batch))
            return;
        if (quit) {
            std::lock_guard lock(m_lock);
            if (m_overflow)
                m_stopped = "recording stopped: the disk did not keep up; " +
                            ByteCountText(m_written) + " kept";
            return;
        }
        // The file removed, or its folder: the bytes would go nowhere anyone can find.
        struct stat now {};
        if (::stat(m_path.c_str(), &now) != 0 || now.st_ino != opened.st_ino ||
            now.st_dev != opened.st_dev) {
            std::lock_guard lock(m_lock);
            SetRecording(false);
            m_stopped = "recording stopped: " + m_path + " was removed; " +
                        ByteCountText(m_written) + " had been written";
            return;
        }
    }
}

} // namespace platform
