// skywatch-exporter run as a user runs it: on simulated receivers and a capture, scraped over
// loopback, checked by Prometheus's own promtool and by a real Prometheus server.
#include "LinkTestSupport.h"
#include "TestPaths.h"
#include "protocol/UbxMessages.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <poll.h>
#include <random>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::string kExporter = BinaryDir() + "/tools/skywatch-exporter";
const std::string kPromtool = "/usr/bin/promtool";
const std::string kPrometheus = "/usr/bin/prometheus";

bool Installed(const std::string &program) {
    return ::access(program.c_str(), X_OK) == 0;
}

// What fd sends until it closes or timeout passes.
std::string ReadAll(int fd, std::chrono::milliseconds timeout,
                    const std::function<bool(const std::string &)> &enough) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!enough(text)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[8192];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

// The whole answer to request on loopback port, "" when none came.
std::string HttpExchange(int port, const std::string &request) {
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return {};
    const bool sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(request.size());
    const std::string reply =
        sent ? ReadAll(fd, 5s, [](const std::string &) { return false; }) : std::string();
    ::close(fd);
    return reply;
}

// The body of a 200 answer to GET target on loopback port, "" for anything else.
std::string HttpGet(int port, const std::string &target) {
    const std::string reply =
        HttpExchange(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    const auto body = reply.find("\r\n\r\n");
    if (reply.compare(0, 7, "HTTP/1.") != 0 || reply.compare(8, 5, " 200 ") != 0 ||
        body == std::string::npos)
        return {};
    return reply.substr(body + 4);
}

std::string UrlEncoded(const std::string &text) {
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '_' || c == '.' || c == '-')
            out += static_cast<char>(c);
        else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// A shell command's exit status, its standard output and error in output.
int RunShell(const std::string &command, std::string &output) {
    output.clear();
    FILE *p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return -1;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        output.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder of the test's own under the build folder, removed with everything in it.
class CScratch {
public:
    CScratch() {
        std::string name = BinaryDir() + "/exporter-test-XXXXXX";
        if (::mkdtemp(name.data()) != nullptr)
            m_path = name;
    }
    ~CScratch() {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    const std::string &Path() const { return m_path; }

private:
    std::string m_path;
};

// Series of one metric in a text exposition, its labels ("{...}") to its value.
std::map<std::string, double> Series(const std::string &text, const std::string &name) {
    std::map<std::string, double> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, name.size() + 1, name + "{") != 0)
            continue;
        const auto close = line.rfind("} ");
        if (close != std::string::npos)
            out[line.substr(name.size(), close + 1 - name.size())] =
                std::strtod(line.c_str() + close + 2, nullptr);
    }
    return out;
}

// The value of the series of name whose labels hold every one of labels (k="v"), if any.
std::optional<double> Value(const std::string &text, const std::string &name,
                            const std::vector<std::string> &labels) {
    for (const auto &[set, value] : Series(text, name)) {
        bool all = true;
        for (const std::string &label : labels)
            all = all && set.find(label) != std::string::npos;
        if (all)
            return value;
    }
    return std::nullopt;
}

// skywatch-exporter on sources, serving on a free loopback port.
class CExporter {
public:
    bool Start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
        if (!m_process.StartProgram(kExporter, args, true))
            return false;
        const std::string &line = m_process.SlavePath(); // serving http://127.0.0.1:N/metrics
        const auto colon = line.rfind(':');
        m_port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
        return m_port > 0;
    }
    int Port() const { return m_port; }
    std::string Metrics() const { return HttpGet(m_port, "/metrics"); }
    // Waits until the series of name with labels holds a value that done() accepts.
    bool WaitFor(const std::string &name, const std::vector<std::string> &labels,
                 const std::function<bool(double)> &done, std::chrono::milliseconds timeout) {
        return WaitUntil(
            [&] {
                const auto v = Value(Metrics(), name, labels);
                return v && done(*v);
            },
            timeout, [] { ::usleep(200'000); });
    }
    CSimProcess &Process() { return m_process; }

private:
    CSimProcess m_process;
    int m_port = 0;
};

// Field 7 of the next whole GGA the simulator sends on its TCP port: satellites used.
int GgaSatellites(int port) {
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return -1;
    const auto gga = [](const std::string &text) {
        const auto at = text.find("GGA,");
        return at != std::string::npos && text.find('\n', at) != std::string::npos
                   ? at
                   : std::string::npos;
    };
    const std::string text =
        ReadAll(fd, 4s, [&](const std::string &t) { return gga(t) != std::string::npos; });
    ::close(fd);
    const auto at = gga(text);
    if (at == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(at, text.find('\n', at) - at));
    std::string field;
    for (int i = 0; i <= 7 && std::getline(fields, field, ','); ++i) {
    }
    return std::atoi(field.c_str());
}

class Exporter : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Installed(kExporter) || !CSimProcess::Built())
            GTEST_SKIP() << "needs skywatch-exporter and skywatch-sim built";
        ASSERT_FALSE(m_scratch.Path().empty());
    }
    CScratch m_scratch;
};

TEST_F(Exporter, BadCommandLinesExitWithOneLine) {
    // A port held by another server: the exporter cannot serve, which is not a usage error.
    int heldPort = 0;
    const int held = BindLoopback(SOCK_STREAM, heldPort, 1);
    ASSERT_GE(held, 0);
    const std::string heldAddress = "127.0.0.1:" + std::to_string(heldPort);
    const struct {
        std::vector<std::string> args;
        int status;
        const char *says;
    } rows[] = {
        {{}, 2, "no source given"},
        {{"--bogus", "/dev/null"}, 2, "unknown option --bogus"},
        {{"--listen"}, 2, "--listen takes HOST:PORT"},
        {{"--listen", "9724", "/dev/null"}, 2, "--listen takes HOST:PORT"},
        {{"--baud", "300", "/dev/null"}, 2, "--baud takes"},
        {{"--forget-after", "0", "/dev/null"}, 2, "--forget-after takes"},
        {{"--max-signal-series", "-1", "/dev/null"}, 2, "--max-signal-series takes"},
        {{"a=/dev/null", "a=/dev/zero"}, 2, "two sources named a"},
        {{"/dev/ttyS0", "/dev/pts/ttyS0"}, 2, "two sources named ttyS0"},
        {{"a="}, 2, "no source after a="},
        {{"tcp://nowhere"}, 2, "tcp://"},
        {{"--listen", heldAddress, "/dev/null"}, 1, "cannot serve on"},
    };
    for (const auto &row : rows) {
        CSimProcess process;
        ASSERT_TRUE(process.StartProgram(kExporter, row.args, false));
        EXPECT_EQ(process.Wait(5000), row.status) << row.says;
        const std::string errors = process.Errors();
        EXPECT_EQ(errors.rfind("skywatch-exporter: ", 0), 0u) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_NE(errors.substr(0, errors.find('\n')).find(row.says), std::string::npos) << errors;
    }
    ::close(held);
}

TEST_F(Exporter, PromtoolAcceptsTheAlertingRules) {
    if (!Installed(kPromtool))
        GTEST_SKIP() << "needs Debian's prometheus (promtool)";
    std::string output;
    EXPECT_EQ(
        RunShell(kPromtool + " check rules '" + SourceDir() + "/res/skywatch-alerts.yml'", output),
        0)
        << output;
}

// A u-blox receiver sending NMEA and UBX, jammed after a while: its values and the receiver's
// own jamming indicator reach the scrape, and promtool finds nothing to say about the names,
// units and help texts.
TEST_F(Exporter, ScrapeOfAJammedReceiverPassesPromtool) {
    if (!Installed(kPromtool))
        GTEST_SKIP() << "needs Debian's prometheus (promtool)";
    const int tcp = FreePort(SOCK_STREAM);
    CSimProcess sim;
    // Jammed from 8 s of the receiver's time on, its clock sped up.
    ASSERT_TRUE(sim.Start({"--chip", "ublox", "--protocol", "both", "--baud", "115200", "--tcp",
                           "127.0.0.1:" + std::to_string(tcp), "--jam", "8,15,60", "--speed",
                           std::to_string(kSimSpeed)}));
    CExporter exporter;
    ASSERT_TRUE(exporter.Start({"rover=" + sim.SlavePath()})) << exporter.Process().Errors();
    const std::vector<std::string> rover{"receiver=\"rover\""};
    ASSERT_TRUE(exporter.WaitFor(
        "skywatch_jamming_indicator", rover, [](double) { return true; }, 5s))
        << exporter.Metrics();
    const std::string before = exporter.Metrics();
    const auto jamBefore = Value(before, "skywatch_jamming_indicator", rover);
    const auto used = Series(before, "skywatch_fix_satellites");
    ASSERT_TRUE(jamBefore && used.size() == 1u) << before;
    EXPECT_EQ(used.begin()->first, "{receiver=\"rover\"}");
    EXPECT_EQ(used.begin()->second, GgaSatellites(tcp));
    for (const char *name : {"skywatch_source_up", "skywatch_fix_mode", "skywatch_hdop",
                             "skywatch_position_accuracy_meters", "skywatch_signal_cn0_dbhz",
                             "skywatch_integrity_alarm", "skywatch_last_data_age_seconds"})
        EXPECT_TRUE(Value(before, name, rover)) << name << "\n" << before;
    // MON-RF's indicator rises 5 a dB of jamming.
    EXPECT_TRUE(exporter.WaitFor(
        "skywatch_jamming_indicator", rover, [&](double v) { return v >= *jamBefore + 60; }, 10s))
        << exporter.Metrics();

    const std::string scrape = m_scratch.Path() + "/scrape.txt";
    std::ofstream(scrape) << exporter.Metrics();
    std::string output;
    EXPECT_EQ(RunShell(kPromtool + " check metrics < '" + scrape + "'", output), 0) << output;
    EXPECT_EQ(output, "");
}

// A capture that starts without a fix, replayed from its file: the time to its first fix is the
// capture's own, from its first sentence to its first valid RMC.
TEST_F(Exporter, RecordingGivesItsTimeToFirstFix) {
    const std::string capture = NmeaDir() + "/myguide-3100.log";
    std::ifstream in(capture);
    double first = -1, fixed = -1;
    for (std::string line; std::getline(in, line) && fixed < 0;) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');)
            f.push_back(field);
        if (f.size() < 3 || f[0].size() < 4 || f[0].substr(f[0].size() - 3) != "RMC" ||
            f[1].size() < 6)
            continue;
        const double t = std::stoi(f[1].substr(0, 2)) * 3600 + std::stoi(f[1].substr(2, 2)) * 60 +
                         std::stod(f[1].substr(4));
        if (first < 0)
            first = t;
        if (f[2] == "A")
            fixed = t;
    }
    ASSERT_GT(fixed, first);
    CExporter exporter;
    ASSERT_TRUE(exporter.Start({capture})) << exporter.Process().Errors();
    EXPECT_TRUE(exporter.WaitFor(
        "skywatch_ttff_seconds", {"receiver=\"myguide-3100.log\""},
        [&](double v) { return std::abs(v - (fixed - first)) < 1.0; },
        std::chrono::milliseconds(static_cast<int>(fixed - first) * 1000 + 5000)))
        << "expected " << fixed - first << " s\n"
        << exporter.Metrics();
}

// Satellites come and go in turn, two a second of the log, at ten epochs a second: the C/N0
// series of those not heard for the forget time go, so their count stays bounded while the
// satellites seen grow.
TEST_F(Exporter, SignalSeriesStayBoundedWhileSatellitesComeAndGo) {
    // GPS 1-32 in turn, eight in view at a time, the log replayed at twice its pace: four new a
    // second, each gone for 6 s before it comes again.
    constexpr int kPool = 32, kInView = 8, kEpochs = 600, kEpochsPerStep = 5, kForgetS = 2;
    constexpr int kSpeed = 2, kPerSecond = 2 * kSpeed;
    const std::string log = m_scratch.Path() + "/churn.nmea";
    {
        std::ofstream out(log);
        for (int e = 0; e < kEpochs; ++e) {
            char hms[16];
            std::snprintf(hms, sizeof hms, "%02d%02d%02d.%02d", 12, e / 600, e / 10 % 60,
                          e % 10 * 10);
            const std::string time = hms;
            out << Sentence("$GPRMC," + time + ",A,4807.038,N,01131.000,E,0.0,0.0,101226,,,A");
            out << Sentence("$GPGGA," + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
            const int base = e / kEpochsPerStep;
            for (int m = 0; m < kInView / 4; ++m) {
                std::string body = "$GPGSV," + std::to_string(kInView / 4) + "," +
                                   std::to_string(m + 1) + "," + std::to_string(kInView);
                for (int k = m * 4; k < m * 4 + 4; ++k)
                    body += "," + std::to_string((base + k) % kPool + 1) + ",45,180,40";
                out << Sentence(body);
            }
        }
    }
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(
        {"--replay", log, "--rate", "10", "--baud", "115200", "--speed", std::to_string(kSpeed)}));
    CExporter exporter;
    ASSERT_TRUE(
        exporter.Start({"--forget-after", std::to_string(kForgetS), "sky=" + sim.SlavePath()}))
        << exporter.Process().Errors();
    // In view now, and those of the forget time before, and a second's lag of the exporter's
    // reads.
    const std::size_t bound = kInView + kPerSecond * (kForgetS + 1);
    std::set<std::string> seen;
    std::size_t most = 0;
    // Until every satellite came and went (6 s), or at most 20 s.
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (seen.size() < static_cast<std::size_t>(kPool) &&
           std::chrono::steady_clock::now() < end) {
        const auto series = Series(exporter.Metrics(), "skywatch_signal_cn0_dbhz");
        most = std::max(most, series.size());
        for (const auto &[labels, value] : series)
            seen.insert(labels.substr(labels.find("sv=")));
        ::usleep(500'000);
    }
    static_assert(kPool > kInView + kPerSecond * (kForgetS + 1));
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kPool)) << "not every satellite came and went";
    EXPECT_LE(most, bound);
    EXPECT_GE(most, static_cast<std::size_t>(kInView));
}

// Two simulated receivers scraped by a real Prometheus every second: each is its own receiver
// series with what its simulator sends, and one that stops reads down at the next scrapes, its
// fix gone from the queries rather than left at its last value.
TEST_F(Exporter, PrometheusSeesTwoReceiversAndOneStopping) {
    if (!Installed(kPrometheus))
        GTEST_SKIP() << "needs Debian's prometheus";
    const int tcpA = FreePort(SOCK_STREAM);
    CSimProcess simA, simB;
    ASSERT_TRUE(simA.Start({"--gnss", "gps", "--tcp", "127.0.0.1:" + std::to_string(tcpA)}));
    const int tcpB = FreePort(SOCK_STREAM);
    ASSERT_TRUE(simB.Start({"--tcp", "127.0.0.1:" + std::to_string(tcpB)}));
    CExporter exporter;
    ASSERT_TRUE(exporter.Start({"a=" + simA.SlavePath(), "b=" + simB.SlavePath()}))
        << exporter.Process().Errors();

    const int web = FreePort(SOCK_STREAM);
    const std::string config = m_scratch.Path() + "/prometheus.yml";
    std::ofstream(config) << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                          << "scrape_configs:\n  - job_name: skywatch\n    static_configs:\n"
                          << "      - targets: ['127.0.0.1:" << exporter.Port() << "']\n";
    CSimProcess prometheus;
    ASSERT_TRUE(prometheus.StartProgram(
        kPrometheus,
        {"--config.file=" + config, "--storage.tsdb.path=" + m_scratch.Path() + "/data",
         "--web.listen-address=127.0.0.1:" + std::to_string(web), "--log.level=warn"},
        false));
    const auto query = [&](const std::string &promql) {
        std::map<std::string, double> byReceiver;
        const std::string body = HttpGet(web, "/api/v1/query?query=" + UrlEncoded(promql));
        const auto json = nlohmann::json::parse(body, nullptr, false);
        if (json.is_discarded() || json.value("status", "") != "success")
            return byReceiver;
        for (const auto &r : json["data"]["result"])
            byReceiver[r["metric"].value("receiver", "")] =
                std::stod(r["value"][1].get<std::string>());
        return byReceiver;
    };
    std::map<std::string, double> used;
    ASSERT_TRUE(WaitUntil(
        [&] {
            used = query("skywatch_fix_satellites");
            return used.size() == 2 && used["a"] == GgaSatellites(tcpA) &&
                   used["b"] == GgaSatellites(tcpB);
        },
        30s, [] { ::usleep(500'000); }))
        << prometheus.Errors();
    // GPS alone on a; b has GLONASS in view as well.
    const auto glonass = query("skywatch_satellites_in_view{system=\"GLONASS\"}");
    EXPECT_EQ(glonass.at("a"), 0);
    EXPECT_GT(glonass.at("b"), 0);
    EXPECT_EQ(query("skywatch_source_up"), (std::map<std::string, double>{{"a", 1}, {"b", 1}}));

    simB.Stop();
    const auto stopped = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitUntil(
        [&] {
            return query("skywatch_source_up") == std::map<std::string, double>{{"a", 1}, {"b", 0}};
        },
        6s, [] { ::usleep(200'000); }));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 6s);
    EXPECT_TRUE(WaitUntil([&] { return query("skywatch_fix_satellites").count("b") == 0; }, 4s,
                          [] { ::usleep(200'000); }));
    EXPECT_EQ(query("skywatch_fix_satellites").count("a"), 1u);
    prometheus.Stop();
}

// A receiver sending random satellite numbers, NAV-SAT's whole byte range in every system: a
// number outside its system's range is no series, and the series are at most
// --max-signal-series, the rest counted.
TEST_F(Exporter, RandomSatelliteNumbersMakeBoundedSeries) {
    const std::string log = m_scratch.Path() + "/random.ubx";
    {
        std::ofstream out(log, std::ios::binary);
        std::mt19937 random(38);
        for (int e = 0; e < 300; ++e) {
            char hms[16];
            std::snprintf(hms, sizeof hms, "12%02d%02d.%02d", e / 600, e / 10 % 60, e % 10 * 10);
            out << Sentence(std::string("$GPRMC,") + hms + ",A,4807.038,N,01131.000,E,0,0,101226,,")
                << Sentence(std::string("$GPGGA,") + hms +
                            ",4807.038,N,01131.000,E,1,08,1,545,M,,M,,");
            std::string payload = std::string(4, '\0') + "\x01\x64" + std::string(2, '\0');
            const char gnssIds[] = {0, 1, 2, 3, 5, 6, 7}; // GPS, SBAS, ..., GLONASS, NavIC
            for (int k = 0; k < 100; ++k)
                payload +=
                    std::string{gnssIds[random() % 7], static_cast<char>(1 + random() % 254), 40} +
                    std::string(9, '\0');
            const std::string frame = std::string("\xB5\x62\x01\x35", 4) +
                                      static_cast<char>(payload.size()) +
                                      static_cast<char>(payload.size() >> 8) + payload;
            std::uint8_t a = 0, b = 0;
            ubx::Checksum(reinterpret_cast<const std::uint8_t *>(frame.data()) + 2,
                          frame.size() - 2, a, b);
            out << frame << static_cast<char>(a) << static_cast<char>(b);
        }
    }
    const std::map<std::string, std::pair<int, int>> ranges = {
        {"GPS", {1, 32}},    {"SBAS", {120, 158}}, {"GLONASS", {1, 32}}, {"Galileo", {1, 36}},
        {"BeiDou", {1, 63}}, {"QZSS", {1, 10}},    {"NavIC", {1, 14}}};
    // 226 numbers are satellites': an eighth of those drawn.
    const struct {
        const char *most;
        std::size_t bound;
        bool dropped;
    } rows[] = {{"1000", 226, false}, {"40", 40, true}};
    for (const auto &row : rows) {
        CExporter exporter;
        ASSERT_TRUE(exporter.Start({"--max-signal-series", row.most, "r=" + log}))
            << exporter.Process().Errors();
        // The sky is read once a second: some 12 satellites of each 100 make series.
        std::this_thread::sleep_for(8s);
        const auto series = Series(exporter.Metrics(), "skywatch_signal_cn0_dbhz");
        EXPECT_GE(series.size(), 40u);
        EXPECT_LE(series.size(), row.bound);
        for (const auto &[labels, value] : series) {
            const auto system = labels.find("system=\"") + 8;
            const auto range = ranges.at(labels.substr(system, labels.find('"', system) - system));
            const int sv = std::atoi(labels.c_str() + labels.find("sv=\"") + 4);
            EXPECT_TRUE(sv >= range.first && sv <= range.second) << labels;
        }
        EXPECT_EQ(Value(exporter.Metrics(), "skywatch_signal_series_dropped_total", {"receiver"})
                          .value_or(0) > 0,
                  row.dropped);
    }
}

// However many clients connect and say nothing, or half a request, a scrape is answered within a
// second; HEAD has the headers and no body, and what is not a scrape is told so.
TEST_F(Exporter, ScrapesAreAnsweredWhateverIdleClientsDo) {
    CExporter exporter;
    ASSERT_TRUE(exporter.Start({NmeaDir() + "/myguide-3100.log"})) << exporter.Process().Errors();
    for (const char *sends : {"", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n"}) {
        CHeldConnections clients(exporter.Port(), 1000, sends);
        ASSERT_EQ(clients.Count(), 1000u) << sends;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NE(exporter.Metrics().find("skywatch_source_up"), std::string::npos);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << sends;
    }
    const struct {
        std::string request;
        const char *status;
        bool body;
    } asks[] = {
        {"HEAD /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "200", false},
        {"GET /metrics?x=1 HTTP/1.1\r\n\r\n", "200", true},
        {"GET /metrics HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n", "200", true},
        {"GET / HTTP/1.0\r\n\r\n", "404", false},
        {"POST /metrics HTTP/1.0\r\nContent-Length: 0\r\n\r\n", "405", false},
        {"\x16\x03\x01 hello\r\n\r\n", "400", false},
        {"GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'x') + "\r\n\r\n", "431", false},
    };
    for (const auto &ask : asks) {
        const std::string reply = HttpExchange(exporter.Port(), ask.request);
        EXPECT_EQ(reply.substr(0, 13), std::string("HTTP/1.1 ") + ask.status + " ") << reply;
        const auto end = reply.find("\r\n\r\n");
        ASSERT_NE(end, std::string::npos) << reply;
        EXPECT_EQ(reply.size() > end + 4, ask.body) << reply;
        EXPECT_EQ(reply.find("Content-Encoding: gzip") != std::string::npos &&
                      reply.compare(end + 4, 2, "\x1f\x8b") == 0,
                  ask.request.find("gzip") != std::string::npos);
        EXPECT_EQ(reply.find("Content-Type: text/plain; version=0.0.4") != std::string::npos,
                  std::string(ask.status) == "200")
            << reply;
    }
}

// Kilobytes of memory the process holds, from /proc; 0 if unknown.
long ResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::atol(line.c_str() + 6);
    return 0;
}

// A fleet in one exporter: each receiver beyond the first, fed a busy stream, costs it under
// 2 MB; it keeps no history a window would read.
TEST_F(Exporter, EachReceiverOfAFleetCostsUnderTwoMegabytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory swamps the figure";
#endif
    const int tcp = FreePort(SOCK_STREAM);
    CSimProcess sim;
    ASSERT_TRUE(
        sim.Start({"--bands", "2", "--rate", "5", "--baud", "115200", "--tcp",
                   "127.0.0.1:" + std::to_string(tcp), "--speed", std::to_string(kSimSpeed)}));
    long resident[2] = {};
    const int sizes[2] = {1, 8};
    for (int k = 0; k < 2; ++k) {
        std::vector<std::string> sources;
        for (int i = 0; i < sizes[k]; ++i)
            sources.push_back("r" + std::to_string(i) + "=tcp://127.0.0.1:" + std::to_string(tcp));
        CExporter exporter;
        ASSERT_TRUE(exporter.Start(sources)) << exporter.Process().Errors();
        ASSERT_TRUE(WaitUntil(
            [&] {
                const auto used = Series(exporter.Metrics(), "skywatch_fix_satellites");
                return std::count_if(used.begin(), used.end(),
                                     [](const auto &kv) { return kv.second > 0; }) == sizes[k];
            },
            10s, [] { ::usleep(200'000); }));
        // Four of the receiver's seconds of sentences: a console's lines or a history would have
        // grown by now.
        std::this_thread::sleep_for(4s / kSimSpeed);
        resident[k] = ResidentKb(exporter.Process().Pid());
        ASSERT_GT(resident[k], 0);
    }
    EXPECT_LT((resident[1] - resident[0]) / (sizes[1] - sizes[0]), 2048)
        << resident[0] << " kB with one receiver, " << resident[1] << " kB with eight";
}

} // namespace
