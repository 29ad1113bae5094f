// Configuring the simulated receiver of each family through skywatch-decode --set: what each
// setting's line says, then what the receiver does (measured through the program's own port)
// right after and after a power cycle, which keeps only what was saved.
#include "LinkTestSupport.h"
#include "SimProcess.h"
#include "TestPaths.h"

#include "GpsPort.h"
#include "PortTable.h"
#include "receiver/ReceiverConfigurator.h"
#include "receiver/ReceiverSettings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// What the receiver does: epochs a second, the systems in view, the line's speed.
struct Doing {
    int rateHz = 0;
    unsigned gnss = 0;
    int baud = 0;
};

struct ConfigRow {
    const char *name;
    std::vector<std::string> sim; // the receiver
    int baud;                     // the line's speed at the start
    std::vector<std::string> set; // skywatch-decode's settings, in order ("--save" too)
    std::vector<std::string> results;
    const char *detail; // one line's detail holds this ("" for none)
    Doing now, after;   // right after, and after a power cycle
};

constexpr unsigned kAll = kGnssGps | kGnssGlonass | kGnssGalileo | kGnssBeidou;
constexpr unsigned kGpsGal = kGnssGps | kGnssGalileo;

const ConfigRow kRows[] = {
    {"UbloxLegacySaved",
     {"--chip", "ublox", "--baud", "9600"},
     9600,
     {"baud=115200", "rate=5", "gnss=GPS,GAL", "--save"},
     {"confirmed", "confirmed", "confirmed", "confirmed"},
     "measured 5.0 Hz",
     {5, kGpsGal, 115200},
     {5, kGpsGal, 115200}},
    {"UbloxKeysOneRefused",
     {"--chip", "ublox", "--baud", "9600", "--ubx-protocol", "27.11", "--refuse-key", "0x10310024"},
     9600,
     {"baud=115200", "rate=5", "gnss=GPS,GAL"},
     {"confirmed", "confirmed", "nak"},
     "refused key CFG-SIGNAL-QZSS_ENA; others applied",
     {5, kGpsGal, 115200},
     {1, kAll, 9600}},
    {"MediaTekKeepsWithoutSave",
     {"--chip", "mtk", "--baud", "9600"},
     9600,
     {"rate=5", "baud=115200", "rate=5", "gnss=GPS,GAL"},
     {"confirmed", "confirmed", "confirmed", "confirmed"},
     "stream decodes at 115200",
     {5, kGpsGal, 115200},
     {5, kGpsGal, 115200}},
    {"CasicRevertsWithoutSave",
     {"--chip", "casic", "--baud", "9600"},
     9600,
     {"baud=115200", "rate=10", "rate=5", "gnss=GPS,BDS"},
     {"confirmed", "refused", "confirmed", "confirmed"},
     "take 1, 2 or 5 Hz",
     {5, kGnssGps | kGnssBeidou, 115200},
     {1, kAll, 9600}},
    {"StSavedAndReset",
     {"--chip", "st", "--baud", "9600"},
     9600,
     {"baud=115200", "rate=5", "gnss=GPS,GAL", "--save"},
     {"confirmed", "confirmed", "confirmed", "confirmed"},
     "",
     {5, kGpsGal, 115200},
     {5, kGpsGal, 115200}},
    {"StWithoutSave",
     {"--chip", "st", "--baud", "9600"},
     9600,
     {"gnss=GPS,GAL"},
     {"refused"},
     "only with save",
     {1, kAll, 9600},
     {1, kAll, 9600}},
    {"UbloxAcknowledgesButDoesNothing",
     {"--chip", "ublox", "--gnss", "gps", "--baud", "9600", "--ack-only"},
     9600,
     {"gnss=GPS,GAL", "--save"},
     {"no answer", "not sent"},
     "not seen: GAL",
     {1, kGnssGps, 9600},
     {1, kGnssGps, 9600}},
    {"SirfBaudOnly",
     {"--chip", "sirf", "--gnss", "gps", "--baud", "4800"},
     4800,
     {"rate=5", "baud=38400"},
     {"not supported", "confirmed"},
     "take no rate",
     {1, kGnssGps, 38400},
     {1, kGnssGps, 38400}},
};

// A JSON line's string field, "" when it has none.
std::string Field(const std::string &line, const std::string &name) {
    const std::string key = "\"" + name + "\":\"";
    const std::size_t at = line.find(key);
    if (at == std::string::npos)
        return "";
    const std::size_t from = at + key.size();
    return line.substr(from, line.find('"', from) - from);
}

// What the receiver on device does, measured through the program's port opened at baud.
Doing Measure(int nPort, const std::string &device, int baud) {
    platform::BindPort(nPort, device);
    CGpsPort port;
    Doing doing;
    if (!port.Open(nPort, baud))
        return doing;
    CReceiverConfigurator configurator(port);
    const CReceiverConfigurator::Current current = configurator.Measure(3500);
    doing.rateHz = static_cast<int>(std::lround(current.rateHz));
    doing.gnss = current.gnss;
    doing.baud = current.rateHz > 0.0 ? current.baud : 0;
    return doing;
}

struct Outcome {
    std::vector<std::string> lines;
    int rc = -1;
    Doing now, after;
    std::string simErrors;
};

void RunRow(const ConfigRow &row, int nPort, Outcome &out) {
    std::vector<std::string> args = row.sim;
    args.insert(args.end(), {"--unplug-pause", "1.5", "--seed", "7"});
    CSimProcess sim;
    if (!sim.Start(args)) {
        out.simErrors = sim.Errors();
        return;
    }
    std::string cmd = BinaryDir() + "/tools/skywatch-decode --device " + sim.SlavePath() +
                      " --baud " + std::to_string(row.baud);
    for (const std::string &s : row.set)
        cmd += s.rfind("--", 0) == 0 ? " " + s : " --set " + s;
    if (FILE *pipe = ::popen((cmd + " 2>&1").c_str(), "r")) {
        char buf[1024];
        while (std::fgets(buf, sizeof buf, pipe) != nullptr) {
            std::string line = buf;
            if (!line.empty() && line.back() == '\n')
                line.pop_back();
            out.lines.push_back(line);
        }
        const int status = ::pclose(pipe);
        out.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // A command the tool did not wait to see in effect (a refused setting's others) has its
    // next cycle to take hold: a fresh port sees only what follows.
    std::this_thread::sleep_for(1500ms);
    out.now = Measure(nPort, sim.SlavePath(), row.now.baud);
    // The power cycle once the row is configured and measured (SIGUSR1 pulls the plug).
    ::kill(sim.Pid(), SIGUSR1);
    const std::string again = sim.NextPath(10000);
    if (!again.empty())
        out.after = Measure(nPort, again, row.after.baud);
    sim.Stop();
    out.simErrors = sim.Errors();
}

// Every row at once, each with a simulator of its own (port table entries 2 to 8): the rows wait
// mostly on the clock.
TEST(ReceiverConfig, EachFamilyIsSetCheckedAndKeepsOnlyWhatItSaved) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << CSimProcess::Binary() << " missing (build the target skywatch-sim)";
    std::vector<Outcome> outcomes(std::size(kRows));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < std::size(kRows); ++i)
        threads.emplace_back(RunRow, std::cref(kRows[i]), 2 + static_cast<int>(i),
                             std::ref(outcomes[i]));
    for (std::thread &t : threads)
        t.join();
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const ConfigRow &row = kRows[i];
        const Outcome &out = outcomes[i];
        SCOPED_TRACE(row.name);
        std::string all;
        for (const std::string &line : out.lines)
            all += line + "\n";
        all += "simulator:\n" + out.simErrors;
        ASSERT_EQ(out.lines.size(), row.results.size()) << all;
        bool allConfirmed = true;
        for (std::size_t n = 0; n < out.lines.size(); ++n) {
            EXPECT_EQ(Field(out.lines[n], "result"), row.results[n]) << all;
            allConfirmed = allConfirmed && row.results[n] == "confirmed";
            if (Field(out.lines[n], "result") == "confirmed") {
                const std::size_t at = out.lines[n].find("\"seconds\":");
                ASSERT_NE(at, std::string::npos) << out.lines[n];
                std::printf("[ %s ] %s %s confirmed %.2f s after its first command\n", row.name,
                            Field(out.lines[n], "setting").c_str(),
                            Field(out.lines[n], "value").c_str(),
                            std::atof(out.lines[n].c_str() + at + 10));
            }
        }
        EXPECT_EQ(out.rc, allConfirmed ? 0 : 1) << all;
        if (*row.detail != '\0') {
            EXPECT_NE(all.find(row.detail), std::string::npos) << all;
        }
        EXPECT_EQ(out.now.rateHz, row.now.rateHz) << all;
        EXPECT_EQ(GnssListText(out.now.gnss), GnssListText(row.now.gnss)) << all;
        EXPECT_EQ(out.now.baud, row.now.baud) << all;
        EXPECT_EQ(out.after.rateHz, row.after.rateHz) << "after the power cycle\n" << all;
        EXPECT_EQ(GnssListText(out.after.gnss), GnssListText(row.after.gnss))
            << "after the power cycle\n"
            << all;
        EXPECT_EQ(out.after.baud, row.after.baud) << "after the power cycle\n" << all;
    }
}

} // namespace
