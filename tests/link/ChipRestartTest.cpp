// Every receiver family the simulator plays: recognised from its stream, restarted in its own
// language, and timed to its fix against the simulator's own figure.

#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "TestPaths.h"
#include "receiver/RestartCommands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

using namespace std::chrono_literals;

namespace {

constexpr int kPort = 8;
// Ten cycles a second at 115200 baud: the reader's blocks fill in a fraction of a second, so the
// fix is seen about when it is sent.
const std::vector<std::string> kFastSim = {"--fast", "--baud", "115200", "--rate", "10"};

struct Chip {
    const char *name;
    ReceiverFamily family;
    const char *received; // what the simulator says it got for a cold start
};

const Chip kChips[] = {
    {"sirf", ReceiverFamily::Sirf, "received cold start: $PSRF104,0,0,0,96000,237759,922,12,4*2E"},
    {"ublox", ReceiverFamily::Ublox,
     "received cold start: UBX-CFG-RST navBbrMask 0xFFFF resetMode 0x02"},
    {"mtk", ReceiverFamily::Mtk, "received cold start: $PMTK103*30"},
    {"casic", ReceiverFamily::Casic, "received cold start: $PCAS10,2*1E"},
    {"st", ReceiverFamily::St, "received cold start: $PSTMCOLD*1E"},
};

void PrintTo(const Chip &chip, std::ostream *os) {
    *os << chip.name;
}

// The simulator's own time to fix, from "fix after 3.6 s (cold start)"; negative until said.
double SimSeconds(const std::string &errors) {
    const std::size_t at = errors.find("fix after ");
    return at == std::string::npos ? -1.0 : std::atof(errors.c_str() + at + 10);
}

bool HasFix(const CGpsPort &port) {
    GpsFix fix{};
    port.CopyFix(fix);
    return fix.bValid == 1;
}

class ChipRestart : public ::testing::TestWithParam<Chip> {
protected:
    void SetUp() override {
        if (!CSimProcess::Built())
            GTEST_SKIP() << "skywatch-sim is not built in " << SKYWATCH_BINARY_DIR << "/tools";
    }
    void TearDown() override { platform::UnbindAllPorts(); }
};

TEST_P(ChipRestart, RecognisedRestartedInItsLanguageAndTimed) {
    const Chip &chip = GetParam();
    CSimProcess sim;
    std::vector<std::string> args = {"--chip", chip.name};
    args.insert(args.end(), kFastSim.begin(), kFastSim.end());
    ASSERT_TRUE(sim.Start(args)) << sim.Errors();
    platform::BindPort(kPort, sim.SlavePath());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 115200));
    ASSERT_TRUE(WaitUntil([&] { return port.Family() == chip.family; }, 3s))
        << FamilyName(port.Family());
    ASSERT_TRUE(WaitUntil([&] { return HasFix(port); }, 3s));

    const std::string command = ComposeRestart(port.Family(), RestartKind::Cold);
    port.Send(command.data(), command.size());
    port.Stopwatch().Start(RestartKind::Cold, CFixStopwatch::Clock::now());
    EXPECT_TRUE(
        WaitUntil([&] { return sim.Errors().find(chip.received) != std::string::npos; }, 2s))
        << sim.Errors();
    EXPECT_TRUE(WaitUntil([&] { return !HasFix(port); }, 2s));
    // A cold start takes 3.5 s with --fast.
    ASSERT_TRUE(WaitUntil([&] { return port.Stopwatch().Result().has_value(); }, 8s))
        << sim.Errors();
    // The stopwatch is told of the fix as its sentence is read; the record shows it once the
    // block it came in has been read.
    EXPECT_TRUE(WaitUntil([&] { return HasFix(port); }, 1s));
    ASSERT_TRUE(WaitUntil([&] { return SimSeconds(sim.Errors()) > 0.0; }, 1s)) << sim.Errors();
    const double measured = *port.Stopwatch().Result();
    const double own = SimSeconds(sim.Errors());
    EXPECT_NEAR(measured, own, 1.0);
    std::printf("%s cold start: fix in %.2f s, the simulator's own %.2f s\n", chip.name, measured,
                own);
}

INSTANTIATE_TEST_SUITE_P(Families, ChipRestart, ::testing::ValuesIn(kChips),
                         [](const auto &row) { return std::string(row.param.name); });

// The decode tool waits for the receiver to name itself; a running one, which prints no banner,
// is asked; then it is restarted in its language and the time reported (a warm start takes 3 s
// with --fast: the 5 s the tool reads after the send leave it room).
TEST(ChipRestartTool, SendWaitsForTheReceiverAndPrintsTheTime) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "skywatch-sim is not built in " << SKYWATCH_BINARY_DIR << "/tools";
    CSimProcess sim;
    std::vector<std::string> args = {"--chip", "mtk", "--running"};
    args.insert(args.end(), kFastSim.begin(), kFastSim.end());
    ASSERT_TRUE(sim.Start(args)) << sim.Errors();
    const std::string cmd = BinaryDir() + "/tools/skywatch-decode --device " + sim.SlavePath() +
                            " --baud 115200 --send warm --seconds 5 --last 2>&1 >/dev/null";
    FILE *pipe = ::popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string err;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr)
        err += buf;
    EXPECT_EQ(::pclose(pipe), 0) << err;
    EXPECT_NE(err.find("sent warm start, receiver MediaTek"), std::string::npos) << err;
    EXPECT_NE(sim.Errors().find("answered version query: $PMTK605*31"), std::string::npos)
        << sim.Errors();
    EXPECT_NE(sim.Errors().find("received warm start: $PMTK102*31"), std::string::npos)
        << sim.Errors();
    const std::size_t at = err.find("fix in ");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_NEAR(std::atof(err.c_str() + at + 7), SimSeconds(sim.Errors()), 1.0) << err;
}

} // namespace
