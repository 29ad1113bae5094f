#include "SimProcess.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The decode tool reading the simulated receiver live for a few seconds with the given XDG
// folders; its events, one line each.
std::string LiveEvents(const CSimProcess &sim, const std::string &env, int seconds) {
    const std::string cmd = env + " '" + BinaryDir() +
                            "/tools/skywatch-decode' --events --device " + sim.SlavePath() +
                            " --baud 115200 --seconds " + std::to_string(seconds) + " 2>/dev/null";
    FILE *pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr)
        out += buf;
    ::pclose(pipe);
    return out;
}

std::string ReadAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A receiver's usual signal is learnt and kept across runs: the next run sees a jam that is on
// from its first epoch, with no minute-old reference, by that baseline alone. A receiver of
// another family has none of its own yet and sees nothing, and leaves the first one's alone.
TEST(WatchBaseline, SurvivesARestartAndIsPerReceiver) {
    const fs::path home =
        fs::path(::testing::TempDir()) / ("watch_baseline_" + std::to_string(getpid()));
    fs::remove_all(home);
    fs::create_directories(home / "config/skywatch");
    // Learnt in seconds rather than five minutes (the watch takes one epoch a second).
    std::ofstream(home / "config/skywatch/integrity.conf")
        << "baseline_min_epochs = 3\nsave_every_epochs = 3\n";
    const std::string env = "XDG_CONFIG_HOME='" + (home / "config").string() +
                            "' XDG_STATE_HOME='" + (home / "state").string() + "'";
    const std::vector<std::string> fast = {"--baud", "115200", "--rate", "5", "--seed", "1"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.end(), fast.begin(), fast.end());
        return more;
    };

    {
        CSimProcess clean;
        ASSERT_TRUE(clean.Start(with({"--chip", "ublox", "--protocol", "both"}))) << clean.Errors();
        EXPECT_EQ(LiveEvents(clean, env, 4), "");
    }
    std::vector<fs::path> kept;
    for (const auto &entry : fs::directory_iterator(home / "state/skywatch"))
        kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(kept[0].filename().string().find("u-blox"), std::string::npos) << kept[0];
    const std::string learnt = ReadAll(kept[0]);

    CSimProcess ublox, mtk;
    ASSERT_TRUE(ublox.Start(with({"--chip", "ublox", "--protocol", "both", "--jam", "0,15,60"})))
        << ublox.Errors();
    ASSERT_TRUE(mtk.Start(with({"--chip", "mtk", "--jam", "0,15,60"}))) << mtk.Errors();
    auto other = std::async(std::launch::async, [&] { return LiveEvents(mtk, env, 5); });
    const std::string jammed = LiveEvents(ublox, env, 5);
    EXPECT_NE(jammed.find("\"event\": \"jamming\", \"state\": \"start\""), std::string::npos)
        << jammed;
    EXPECT_NE(jammed.find("cn0_below_baseline"), std::string::npos) << jammed;
    EXPECT_EQ(other.get(), "");
    // The jammed run learnt nothing; the other receiver's epochs went to a file of its own.
    EXPECT_EQ(ReadAll(kept[0]), learnt);
    EXPECT_TRUE(fs::exists(home / "state/skywatch")) << home;
    std::size_t files = 0;
    for (const auto &entry : fs::directory_iterator(home / "state/skywatch"))
        files += entry.path().filename().string().find("MediaTek") != std::string::npos ? 1 : 0;
    EXPECT_EQ(files, 1u);
    fs::remove_all(home);
}

} // namespace
