// The host's clock set a day forward and back while the receiver streams. Intervals run on the
// steady clock and the history on the receiver's time of fix, so the window stays live, the
// stopwatch counts seconds, not a day, and the history goes on where it was. The test runs itself
// again under libfaketime, whose offset it moves through a file.
#include "AppTestSupport.h"
#include "ControlIds.h"
#include "PortTable.h"
#include "SimProcess.h"
#include "StatusDlg.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <unistd.h>

namespace {

constexpr const char *kFakeTime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
constexpr const char *kOffsetVariable = "SKYWATCH_TEST_CLOCK_FILE";

class WallClock : public AppTest {
protected:
    void TearDown() override { platform::UnbindAllPorts(); }
};

void SetOffset(const std::string &file, const char *offset) {
    std::ofstream(file) << offset << '\n';
}

// Seconds a stopwatch text names ("Hot start, 3 s", "Hot start: fix in 0.4 s"); 0 without any.
double StopwatchSeconds(const std::string &text) {
    std::smatch m;
    return std::regex_search(text, m, std::regex("([0-9.]+) s$")) ? std::stod(m[1]) : 0.0;
}

TEST_F(WallClock, ADayForwardAndBackLeavesTheWindowLive) {
    const char *offsetFile = std::getenv(kOffsetVariable);
    if (offsetFile == nullptr) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "libfaketime and the sanitizer runtimes both take over the clock calls";
#endif
        if (access(kFakeTime, R_OK) != 0)
            GTEST_SKIP() << "needs libfaketime (Debian's faketime package)";
        if (!CSimProcess::Built())
            GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
        char self[4096] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
        const std::string file =
            ::testing::TempDir() + "/skywatch_clock_" + std::to_string(getpid());
        SetOffset(file, "+0");
        const std::string cmd = std::string("LD_PRELOAD=") + kFakeTime +
                                " FAKETIME_TIMESTAMP_FILE='" + file +
                                "' FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1 " +
                                kOffsetVariable + "='" + file + "' '" + self +
                                "' --gtest_brief=1 "
                                "--gtest_filter=WallClock.ADayForwardAndBackLeavesTheWindowLive";
        const int status = std::system(cmd.c_str());
        std::remove(file.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
        return;
    }

    // The receiver keeps the true time, as a real one does.
    unsetenv("LD_PRELOAD");
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({})) << sim.Errors();
    platform::BindPort(4, sim.SlavePath());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.Signals().Size() >= 2; }, 5000));
    for (const char *offset : {"+1d", "+0"}) {
        SCOPED_TRACE(offset);
        const std::time_t before = std::time(nullptr);
        const std::size_t samples = dlg.m_port.Signals().Size();
        const std::int64_t newest = dlg.m_port.Signals().Copy().samples.back().time;
        dlg.m_port.Stopwatch().Start(RestartKind::Hot, CFixStopwatch::Clock::now());
        SetOffset(offsetFile, offset);
        ASSERT_GT(std::llabs(static_cast<long long>(std::time(nullptr) - before)), 80000)
            << "the clock did not move";
        EXPECT_LT(StopwatchSeconds(dlg.m_port.Stopwatch().Text(CFixStopwatch::Clock::now())), 5);
        ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.Signals().Size() >= samples + 2; }, 5000));
        const std::int64_t now = dlg.m_port.Signals().Copy().samples.back().time;
        EXPECT_GT(now, newest);
        EXPECT_LT(now - newest, 10);
        EXPECT_NE(ShownText(dlg, ctl::kValidity), QStringLiteral("No data"));
        EXPECT_LT(StopwatchSeconds(dlg.m_port.Stopwatch().Text(CFixStopwatch::Clock::now())), 5);
    }
    dlg.done(QDialog::Rejected);
}

} // namespace
