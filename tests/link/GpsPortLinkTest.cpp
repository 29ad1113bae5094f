// CGpsPort against a real pseudo-terminal and, where it is built, the simulated receiver.
#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "SerialSource.h"
#include "UserActivity.h"
#include "receiver/RestartCommands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kPort = 4;

// One second of a receiver with a 3D fix; latitude in thousandths of a minute north of 48 deg.
std::string Cycle(int second, int latMilliMinutes = 7038) {
    char rmc[128];
    std::snprintf(rmc, sizeof rmc,
                  "$GPRMC,1235%02d,A,48%02d.%03d,N,01131.000,E,022.4,084.4,230394,003.1,W",
                  second % 60, latMilliMinutes / 1000, latMilliMinutes % 1000);
    return Sentence(rmc) +
           Sentence("$GPGGA,1235,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
           Sentence("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") +
           Sentence("$GPGSV,1,1,02,04,45,120,40,05,30,200,35");
}

// Latitude the decoder makes of 48 deg and latMilliMinutes/1000 minutes.
std::int32_t Latitude(int latMilliMinutes) {
    return static_cast<std::int32_t>((48.0 + (latMilliMinutes / 1000.0) * 0.016666666666666666) *
                                     1000000.0);
}

bool IsClosed(const CGpsPort &port) {
    return port.m_nPort == -1 && port.m_nBaud == -1 && port.m_hPort == -1 && port.m_hThread == -1;
}

GpsFix Copy(const CGpsPort &port) {
    GpsFix fix{};
    port.CopyFix(fix);
    return fix;
}

bool SameFix(const GpsFix &a, const GpsFix &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Tells whether anyone opened a path since it was made, by the kernel's open events.
class COpenWatch {
public:
    explicit COpenWatch(const std::string &path) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (m_fd >= 0)
            ::inotify_add_watch(m_fd, path.c_str(), IN_OPEN);
    }
    ~COpenWatch() { ::close(m_fd); }
    bool Opened() const {
        alignas(inotify_event) char buf[4096];
        return ::read(m_fd, buf, sizeof buf) > 0;
    }

private:
    int m_fd;
};

// A folder of files that are no serial line.
class CNotSerial {
public:
    CNotSerial() {
        char dir[] = "/tmp/skywatch-notserial-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            return;
        m_dir = dir;
        ::mkfifo(Fifo().c_str(), 0600);
        ::close(::open(File().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    }
    ~CNotSerial() {
        ::unlink(Fifo().c_str());
        ::unlink(File().c_str());
        ::rmdir(m_dir.c_str());
    }
    std::string Fifo() const { return m_dir + "/fifo"; }
    std::string File() const { return m_dir + "/log.nmea"; }
    const std::string &Dir() const { return m_dir; }

private:
    std::string m_dir;
};

// Keeps writing cycles with a new second each time, as a receiver does, until destroyed.
class CTalker {
public:
    CTalker(CPtyPair &pty, std::chrono::milliseconds period, int latMilliMinutes = 7038)
        : m_thread([this, &pty, period, latMilliMinutes] {
              for (int s = 0; !m_stop; ++s) {
                  pty.Write(Cycle(s, latMilliMinutes));
                  std::this_thread::sleep_for(period);
              }
          }) {}
    ~CTalker() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class GpsPortLink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.Valid()) << "no pseudo-terminal: " << std::strerror(errno);
        platform::BindPort(kPort, m_pty.SlavePath());
    }
    void TearDown() override { platform::UnbindAllPorts(); }

    CPtyPair m_pty;
};

TEST_F(GpsPortLink, RecordFillsWithinThreeSeconds) {
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800)) << std::strerror(port.LastOpenError());
    EXPECT_EQ(port.m_nPort, kPort);
    EXPECT_EQ(port.m_nBaud, 4800);
    EXPECT_NE(port.m_hPort, -1);
    EXPECT_NE(port.m_hThread, -1);
    EXPECT_EQ(port.LastOpenError(), 0);
    EXPECT_EQ(port.LastOpenDevice(), m_pty.SlavePath());

    ASSERT_TRUE(m_pty.Write(Cycle(19)));
    GpsFix fix{};
    ASSERT_TRUE(WaitUntil(
        [&] {
            fix = Copy(port);
            return fix.bValid == 1 && fix.cFixMode == 3 && fix.sat[1].bPrn == 5;
        },
        3s))
        << "decoded " << port.CopyCounters().Decoded() << ", dropped "
        << port.CopyCounters().Dropped();
    EXPECT_EQ(fix.bSecond, 19);
    EXPECT_EQ(fix.lLatitude, 48117300);
    EXPECT_EQ(fix.lLongitude, 11516666);
    EXPECT_EQ(fix.cSatsUsed, 8);
    EXPECT_EQ(fix.wAltitude, 545);
    EXPECT_EQ(fix.nPdop, 25);
    EXPECT_EQ(fix.sat[0].bPrn, 4);
    EXPECT_EQ(fix.sat[0].nAzimuth, 120);
}

TEST_F(GpsPortLink, OpenSetsRawEightNoneOneAndHoldsTheDeviceExclusively) {
    // Slow lines are read by lines, with no byte special but LF and CR; fast ones byte by byte.
    const struct {
        int baud;
        speed_t speed;
        bool lines;
    } rows[] = {{9600, B9600, true}, {115200, B115200, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.baud);
        CGpsPort port(0);
        ASSERT_TRUE(port.Open(kPort, row.baud));
        const int other = ::open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (other < 0) {
            // A second program cannot have the receiver.
            EXPECT_EQ(errno, EBUSY);
            continue;
        }
        // Root passes the exclusive lock; look at the line settings through it instead.
        termios tio{};
        ASSERT_EQ(::tcgetattr(other, &tio), 0);
        ::close(other);
        EXPECT_EQ(::cfgetispeed(&tio), row.speed);
        EXPECT_EQ(::cfgetospeed(&tio), row.speed);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(tio.c_lflag & (ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ((tio.c_lflag & ICANON) != 0, row.lines);
        if (row.lines) {
            for (const int c : {VEOF, VEOL2, VERASE, VKILL})
                EXPECT_EQ(tio.c_cc[c], _POSIX_VDISABLE) << c;
            EXPECT_EQ(tio.c_cc[VEOL], '\r');
        }
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | IGNCR | INLCR | ISTRIP), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    }
}

// A user without root is refused a device left in exclusive mode; the port must release it.
TEST_F(GpsPortLink, ReopensTheSamePseudoTerminalFiveTimes) {
    CGpsPort port(0);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(port.Open(kPort, 4800)) << std::strerror(port.LastOpenError());
        ASSERT_TRUE(m_pty.Write(Cycle(i + 1)));
        ASSERT_TRUE(WaitUntil([&] { return Copy(port).bSecond == i + 1; }, 3s));
        port.Close();
    }
}

TEST_F(GpsPortLink, ColdStartReachesTheReceiverByteForByte) {
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    char line[kSentenceBufferSize];
    port.Send(ComposeColdStart(line));
    EXPECT_EQ(m_pty.Read(41, 1s), "$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n");
    EXPECT_EQ(m_pty.Read(1, 100ms), "");
}

TEST_F(GpsPortLink, SendGivesUpWhenTheReceiverTakesNothing) {
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    // Far more than the pseudo-terminal buffers while nobody reads the other end.
    const std::string flood(1 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    port.Send(flood.c_str());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 400ms);
    EXPECT_NE(port.LastSendFailure().find("took no command within 200 ms"), std::string::npos)
        << port.LastSendFailure();
}

// A command to a device that went away says so, whether the write itself finds the line hung
// up or the reader has let the device go already.
TEST_F(GpsPortLink, SendToAGoneDeviceSaysDeviceGone) {
    CPtyPair pty;
    ASSERT_TRUE(pty.Valid());
    platform::CSerialSource source(pty.SlavePath(), 4800);
    ASSERT_TRUE(source.Valid());
    pty.CloseMaster();
    std::string failure;
    EXPECT_FALSE(source.Write("$PSRF\r\n", 7, 200, failure));
    EXPECT_EQ(failure, pty.SlavePath() + ": device gone");

    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    m_pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return port.CopyLinkState().bReconnecting; }, 2s));
    port.Send("$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n");
    EXPECT_EQ(port.LastSendFailure(), m_pty.SlavePath() + ": device gone");
}

TEST_F(GpsPortLink, CloseIsQuickAndTheRecordStopsChanging) {
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    CTalker talker(m_pty, 40ms);
    ASSERT_TRUE(WaitUntil([&] { return Copy(port).bValid == 1; }, 3s));
    const GpsFix before = Copy(port);
    // The record moves on while the port is open, so a frozen one after Close means something.
    ASSERT_TRUE(WaitUntil([&] { return !SameFix(Copy(port), before); }, 3s));

    const auto start = std::chrono::steady_clock::now();
    port.Close();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 50ms);
    EXPECT_TRUE(IsClosed(port));

    const GpsFix atClose = Copy(port);
    std::this_thread::sleep_for(1200ms);
    EXPECT_TRUE(SameFix(Copy(port), atClose));
}

TEST_F(GpsPortLink, CloseWakesAnIdleReaderAtOnce) {
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    // The reader is well inside its one-second wait for data that never comes.
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_TRUE(IsClosed(port));
}

// A quiet line costs one read a second; a line is handed over at once, not at the time-out, and
// the epoch it ends is reported once the line goes quiet; a busy one wakes the reader by lines.
TEST_F(GpsPortLink, QuietLineCostsOneReadASecondAndALineGoesAtOnce) {
    CGpsPort port(0);
    std::atomic<int> epochs{0};
    port.SetEpochListener([&] { ++epochs; });
    ASSERT_TRUE(port.Open(kPort, 4800));
    std::this_thread::sleep_for(100ms);
    const std::uint64_t reads0 = port.ReadsReturned();
    std::this_thread::sleep_for(3s);
    const std::uint64_t quietReads = port.ReadsReturned() - reads0;
    EXPECT_GE(quietReads, 2u);
    EXPECT_LE(quietReads, 4u);
    EXPECT_EQ(epochs, 0);

    // RMC and GGA of one time of fix, then a satellite view.
    const auto epoch = [](int second) {
        const std::string t = "1235" + std::to_string(10 + second);
        return Sentence("$GPRMC," + t + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
               Sentence("$GPGGA," + t + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
               Sentence("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") +
               Sentence("$GPGSV,1,1,02,04,45,120,40,05,30,200,35");
    };
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_pty.Write(epoch(1)));
    ASSERT_TRUE(WaitUntil([&] { return epochs == 1; }, 500ms));
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 400ms);
    EXPECT_EQ(port.CopyCounters().Decoded(), 4u);
    // A part line waits only for the gap and ends nothing; the rest completes the next epoch.
    ASSERT_TRUE(m_pty.Write(epoch(2).substr(0, 30)));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(epochs, 1);
    ASSERT_TRUE(m_pty.Write(epoch(2).substr(30)));
    EXPECT_TRUE(WaitUntil([&] { return epochs == 2; }, 500ms));
    EXPECT_EQ(port.CopyCounters().Decoded(), 8u);
    EXPECT_EQ(port.CopyCounters().Dropped(), 0u);

    // A busy line, in pieces of 20 ms of characters as a slow receiver sends them, wakes the
    // reader two or three times a sentence (32-36 here), not once a piece or more (82-95).
    const std::string busy = epoch(3) + epoch(4) + epoch(5);
    const std::uint64_t wakeUps0 = OtherThreadsWakeUps();
    for (std::size_t at = 0; at < busy.size(); at += 10) {
        ASSERT_TRUE(m_pty.Write(busy.substr(at, 10)));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(WaitUntil([&] { return epochs == 5; }, 500ms));
    EXPECT_EQ(port.CopyCounters().Decoded(), 20u);
    EXPECT_LE(OtherThreadsWakeUps() - wakeUps0, 4u * 12u) << busy.size() / 10 << " pieces";
}

TEST_F(GpsPortLink, OpenOnAnOpenPortReplacesTheReader) {
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    ASSERT_TRUE(m_pty.Write(Cycle(1)));
    ASSERT_TRUE(WaitUntil([&] { return Copy(port).bSecond == 1; }, 3s));
    const int firstReader = port.m_hThread;

    ASSERT_TRUE(port.Open(kPort, 4800));
    EXPECT_NE(port.m_hThread, -1);
    EXPECT_NE(port.m_hThread, firstReader);
    EXPECT_NE(port.m_hPort, -1);
    EXPECT_EQ(port.m_nPort, kPort);
    EXPECT_EQ(port.m_nBaud, 4800);
    // The record is kept, and the new reader goes on filling it.
    EXPECT_EQ(Copy(port).bSecond, 1);
    ASSERT_TRUE(m_pty.Write(Cycle(2)));
    EXPECT_TRUE(WaitUntil([&] { return Copy(port).bSecond == 2; }, 3s));
}

TEST_F(GpsPortLink, FailedOpenLeavesThePortClosedWithTheReason) {
    struct Row {
        const char *what;
        std::string device; // bound to the port number; empty: the pseudo-terminal
        int nPort;
        int nBaud;
        int error;
        std::string reported;
    };
    const std::string missing = "/nonexistent/skywatch/ttyUSB0";
    const Row rows[] = {
        {"missing device", missing, 5, 4800, ENOENT, missing},
        {"not a terminal", "/dev/null", 5, 4800, ENOTTY, "/dev/null"},
        {"rate between steps", "", kPort, 14400, EINVAL, m_pty.SlavePath()},
        {"rate above the list", "", kPort, 230400, EINVAL, m_pty.SlavePath()},
        {"rate zero", "", kPort, 0, EINVAL, m_pty.SlavePath()},
        {"port zero", "", 0, 4800, ENODEV, "COM0:"},
        {"port ten", "", 10, 4800, ENODEV, "COM10:"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.device.empty())
            platform::BindPort(row.nPort, row.device);
        CGpsPort port(0);
        // A failed Open first closes what was open.
        ASSERT_TRUE(port.Open(kPort, 4800));
        EXPECT_FALSE(port.Open(row.nPort, row.nBaud));
        EXPECT_TRUE(IsClosed(port));
        EXPECT_EQ(port.LastOpenError(), row.error) << std::strerror(port.LastOpenError());
        EXPECT_EQ(port.LastOpenDevice(), row.reported);
        port.Send("$PSRF104,0,0,0,96000,237759,922,12,1*2B\r\n");
        EXPECT_EQ(m_pty.Read(1, 100ms), "");
    }
}

// Some devices act on open (a watchdog arms), so anything but a serial line is refused unopened.
TEST_F(GpsPortLink, NoSerialLineIsRefusedBeforeOpen) {
    const CNotSerial files;
    for (const std::string &path :
         // /dev/tty is of the tty class but a terminal, not a line to a receiver.
         {std::string("/dev/null"), std::string("/dev/zero"), std::string("/dev/tty"),
          files.Fifo()}) {
        SCOPED_TRACE(path);
        platform::BindPort(5, path);
        const COpenWatch watch(path);
        CGpsPort port(0);
        EXPECT_FALSE(port.Open(5, 4800));
        EXPECT_EQ(port.LastOpenError(), ENOTTY) << std::strerror(port.LastOpenError());
        // Other programs open /dev/null and /dev/zero all the time; the test's own files tell.
        EXPECT_FALSE(path.rfind(files.Dir(), 0) == 0 && watch.Opened());
    }
    platform::BindPort(5, files.Dir());
    CGpsPort port(0);
    EXPECT_FALSE(port.Open(5, 4800));
    EXPECT_EQ(port.LastOpenError(), ENOTTY);
    // A regular file is a recording to replay, refused when it holds no NMEA.
    platform::BindPort(5, files.File());
    EXPECT_FALSE(port.Open(5, 4800));
    EXPECT_NE(port.LastOpenMessage().find("holds no NMEA"), std::string::npos)
        << port.LastOpenMessage();
}

TEST_F(GpsPortLink, SendAndCloseOnAClosedPortDoNothing) {
    CGpsPort port(0);
    port.Send("$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n");
    port.Send(nullptr);
    port.Close();
    EXPECT_TRUE(IsClosed(port));
    EXPECT_TRUE(SameFix(Copy(port), GpsFix{}));

    ASSERT_TRUE(port.Open(kPort, 4800));
    ASSERT_TRUE(m_pty.Write(Cycle(7)));
    ASSERT_TRUE(WaitUntil([&] { return Copy(port).bSecond == 7; }, 3s));
    port.Close();
    port.Close();
    EXPECT_TRUE(IsClosed(port));
    // The record keeps the last values after Close.
    EXPECT_EQ(Copy(port).bSecond, 7);
    port.Send("$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n");
    EXPECT_EQ(m_pty.Read(1, 200ms), "");
}

TEST_F(GpsPortLink, UserActivityNoticeOnThe32ndAnd64thNonEmptyRead) {
    // 64 bytes a sentence, 16 to a read of 1024 bytes.
    std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545,M,,,";
    gga.append(59 - gga.size(), '0');
    const std::string sentence = Sentence(gga);
    ASSERT_EQ(sentence.size(), 64u);
    std::string block;
    for (int i = 0; i < 16; ++i)
        block += sentence;

    CGpsPort port(0);
    std::mutex lock;
    std::vector<std::uint32_t> notices; // sentences decoded when each notice came
    const auto previous = platform::SetUserActivityHook([&] {
        std::lock_guard guard(lock);
        notices.push_back(port.CopyCounters().nGga);
    });
    ASSERT_TRUE(port.Open(kPort, 4800));
    // Each block is one full read: the reader returns with it at once and starts the next
    // read, so no time-out splits a block.
    for (std::uint32_t read = 1; read <= 65; ++read) {
        ASSERT_TRUE(m_pty.Write(block));
        ASSERT_TRUE(WaitUntil([&] { return port.CopyCounters().nGga == 16 * read; }, 2s))
            << "read " << read;
    }
    port.Close();
    platform::SetUserActivityHook(previous);
    std::lock_guard guard(lock);
    EXPECT_EQ(notices, (std::vector<std::uint32_t>{16 * 32, 16 * 64}));
}

TEST_F(GpsPortLink, UnpluggedDeviceCostsNoCpuAndIsPickedUpAgain) {
    CDeviceLink device;
    ASSERT_TRUE(device.PointTo(m_pty.SlavePath()));
    platform::BindPort(kPort, device.Path());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    ASSERT_TRUE(m_pty.Write(Cycle(3, 1000)));
    ASSERT_TRUE(WaitUntil([&] { return Copy(port).lLatitude == Latitude(1000); }, 3s));

    // Taken before the first one goes, so it cannot get the number that went away.
    CPtyPair again;
    ASSERT_TRUE(again.Valid());
    m_pty.CloseMaster();
    std::this_thread::sleep_for(200ms);
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1500ms);
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    EXPECT_LT(cpu / wall, 0.05) << "CPU while the device is gone: " << 100 * cpu / wall << "%";
    // Still open in the dialog's eyes.
    EXPECT_NE(port.m_hPort, -1);
    EXPECT_NE(port.m_hThread, -1);

    // The receiver comes back under the same name.
    ASSERT_TRUE(device.PointTo(again.SlavePath()));
    {
        CTalker talker(again, 200ms, 2000);
        // Reopened within a second or two; sanitizer builds need more slack.
        EXPECT_TRUE(WaitUntil([&] { return Copy(port).lLatitude == Latitude(2000); }, 8s));
    }
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
}

// The name comes back leading elsewhere: no serial line is opened, a new pseudo-terminal is.
TEST_F(GpsPortLink, ALinkIsReopenedOnlyWhenItLeadsToAPseudoTerminalAgain) {
    CDeviceLink device;
    ASSERT_TRUE(device.PointTo(m_pty.SlavePath()));
    platform::BindPort(kPort, device.Path());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    CPtyPair again; // taken now, so it cannot get the number that goes away
    ASSERT_TRUE(again.Valid());
    m_pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return port.CopyLinkState().bReconnecting; }, 2s));

    const CNotSerial files;
    for (const std::string &path : {files.Fifo(), files.File(), std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        const COpenWatch watch(path);
        ASSERT_TRUE(device.PointTo(path));
        // Two tries of the reconnecting reader.
        std::this_thread::sleep_for(2200ms);
        EXPECT_FALSE(path.rfind(files.Dir(), 0) == 0 && watch.Opened());
        const LinkState link = port.CopyLinkState();
        EXPECT_TRUE(link.bReconnecting);
        EXPECT_EQ(link.nLastError, ENOTTY) << std::strerror(link.nLastError);
    }
    ASSERT_TRUE(device.PointTo(again.SlavePath()));
    CTalker talker(again, 200ms, 2000);
    EXPECT_TRUE(WaitUntil([&] { return Copy(port).lLatitude == Latitude(2000); }, 8s));
    EXPECT_FALSE(port.CopyLinkState().bReconnecting);
    EXPECT_EQ(port.CopyLinkState().device, again.SlavePath());
}

// A serial bridge makes its link anew for the pty it got, which may have a number used before.
TEST_F(GpsPortLink, ALinkMadeAnewIsFollowedToAReusedPtyNumber) {
    CDeviceLink device;
    ASSERT_TRUE(device.PointTo(m_pty.SlavePath()));
    platform::BindPort(kPort, device.Path());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    const std::string path = m_pty.SlavePath();
    m_pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return port.CopyLinkState().bReconnecting; }, 2s));
    std::vector<std::unique_ptr<CPtyPair>> ptys;
    while (ptys.size() < 32 && (ptys.empty() || ptys.back()->SlavePath() != path))
        ptys.push_back(std::make_unique<CPtyPair>());
    ASSERT_EQ(ptys.back()->SlavePath(), path) << "the number was not handed out again";
    ASSERT_TRUE(device.PointTo(path));
    CTalker talker(*ptys.back(), 200ms, 2000);
    EXPECT_TRUE(WaitUntil([&] { return Copy(port).lLatitude == Latitude(2000); }, 8s));
}

TEST_F(GpsPortLink, CloseWhileWaitingForAnUnpluggedDevice) {
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    m_pty.CloseMaster();
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_TRUE(IsClosed(port));
}

// With the simulated receiver.

class GpsPortSim : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CSimProcess::Built())
            GTEST_SKIP() << "skywatch-sim is not built in " << SKYWATCH_BINARY_DIR << "/tools";
    }
    void TearDown() override { platform::UnbindAllPorts(); }
};

// After the simulator is killed its pseudo-terminal number goes to the next program that asks,
// often a terminal window: the reader must leave that one alone, named directly or by a link.
TEST_F(GpsPortSim, ADeadSimulatorsNumberIsNotTakenOver) {
    for (const bool bByLink : {false, true}) {
        SCOPED_TRACE(bByLink ? "by a link" : "by its path");
        CDeviceLink device;
        CSimProcess sim;
        ASSERT_TRUE(sim.Start({"--fast"})) << sim.Errors();
        ASSERT_TRUE(device.PointTo(sim.SlavePath()));
        platform::BindPort(kPort, bByLink ? device.Path() : sim.SlavePath());
        CGpsPort port(0);
        ASSERT_TRUE(port.Open(kPort, 4800));
        ASSERT_TRUE(WaitUntil([&] { return port.CopyCounters().Decoded() > 0; }, 6s));
        const std::string path = sim.SlavePath();
        sim.Stop();
        ASSERT_TRUE(WaitUntil([&] { return port.CopyLinkState().bReconnecting; }, 3s));

        // Another program's pseudo-terminal under the same number.
        std::vector<std::unique_ptr<CPtyPair>> ptys;
        while (ptys.size() < 32 && (ptys.empty() || ptys.back()->SlavePath() != path))
            ptys.push_back(std::make_unique<CPtyPair>());
        ASSERT_EQ(ptys.back()->SlavePath(), path) << "the number was not handed out again";
        CPtyPair &other = *ptys.back();
        const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(slave, 0) << std::strerror(errno);
        termios before{};
        ASSERT_EQ(::tcgetattr(slave, &before), 0);
        ASSERT_TRUE(other.Write("ls -l\n"));
        std::this_thread::sleep_for(2500ms);

        termios after{};
        ASSERT_EQ(::tcgetattr(slave, &after), 0);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "its settings changed";
        char typed[16] = {};
        EXPECT_EQ(::read(slave, typed, sizeof typed), 6) << "what was typed went elsewhere";
        EXPECT_STREQ(typed, "ls -l\n");
        ::close(slave);
        EXPECT_TRUE(port.CopyLinkState().bReconnecting);
    }
}

} // namespace
