#include "AppTestSupport.h"
#include "HistoryPlot.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "QtTestSupport.h"
#include "SessionMenu.h"
#include "SimProcess.h"
#include "SkyPlot.h"
#include "StatusDlg.h"
#include "views/DesktopView.h"
#include "views/HistoryView.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

class CFirstPaint : public QObject {
public:
    explicit CFirstPaint(const QElapsedTimer &clock) : m_clock(clock) {}
    qint64 ms = -1;
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint && ms < 0)
            ms = m_clock.elapsed();
        return false;
    }

private:
    const QElapsedTimer &m_clock;
};

// The process's CPU time as the scheduler counts it, to the nanosecond: with many short wake-ups
// the tick-sampled user and system times of getrusage err by tenths of a percent.
double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// VmRSS, or with "VmHWM:" the peak since the process began.
long ResidentKiB(const QByteArray &field = QByteArrayLiteral("VmRSS:")) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toLong();
    return -1;
}

GpsFix TwelveSatellites() {
    GpsFix f{};
    f.cSatsUsed = 8;
    for (int i = 0; i < 12; ++i) {
        f.sat[i] = SatInfo{static_cast<std::uint8_t>(i + 3), static_cast<std::uint8_t>(10 + 6 * i),
                           static_cast<std::uint8_t>(i == 11 ? 0 : 20 + 2 * i), 0,
                           static_cast<std::int16_t>(30 * i)};
        if (i < 8)
            f.cUsedPrn[i] = static_cast<std::int8_t>(i + 3);
    }
    f.lLatitude = 25033000, f.lLongitude = 121565000, f.cFixMode = 3, f.bValid = 1;
    return f;
}

// Twenty-four satellites of four systems, as a modern receiver reports them.
SkyView ModernSky() {
    SkyView v;
    const Gnss systems[] = {Gnss::GPS, Gnss::GLONASS, Gnss::Galileo, Gnss::BeiDou};
    for (int i = 0; i < 24; ++i) {
        SkySat &s = v.sats[v.count++];
        s = SkySat{systems[i / 6],
                   static_cast<std::uint16_t>(i % 6 + 1),
                   static_cast<std::int16_t>(5 + 3 * i),
                   static_cast<std::int16_t>(15 * i),
                   static_cast<std::uint8_t>(i % 7 == 6 ? 0 : 20 + i),
                   i % 3 != 0,
                   true,
                   {},
                   0};
    }
    return v;
}

using UiPerf = QtTest;

} // namespace

TEST_F(UiPerf, StartToFirstFrameAndPaintCycle) {
    platform::BindPort(4, "/nonexistent/skywatch-no-such-tty");
    // Scale 2 last, so the resident memory below is the one with the larger window shown.
    for (double scale : {1.0, 2.0}) {
        QElapsedTimer clock;
        clock.start();
        CStatusDlg dlg;
        dlg.m_startScale = scale;
        CFirstPaint first(clock);
        dlg.installEventFilter(&first);
        dlg.OnInitDialog();
        dlg.show();
        ASSERT_TRUE(PumpUntil([&] { return first.ms >= 0; }, 2000));
        std::printf("scale %.0f: first painted frame %lld ms after the dialog's construction\n",
                    scale, static_cast<long long>(first.ms));
        EXPECT_LT(first.ms, 1000);

        ASSERT_TRUE(PumpUntil([&] { return dlg.m_redrawAll == 0; }, 3000));
        dlg.m_curFix = TwelveSatellites();
        dlg.m_curSky = ModernSky();
        constexpr int kPaints = 200;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < kPaints; ++i) {
            dlg.m_curFix.bSecond = static_cast<std::uint8_t>(i % 60); // one text change, a tick
            dlg.repaint();
        }
        const double usPerPaint = static_cast<double>(t.nsecsElapsed()) / 1000.0 / kPaints;
        std::printf("scale %.0f: paint cycle %.1f us (mean of %d, 24 satellites, full layout)\n",
                    scale, usPerPaint, kPaints);
        dlg.m_viewMode = kViewCompact;
        t.restart();
        for (int i = 0; i < kPaints; ++i)
            dlg.repaint();
        std::printf("scale %.0f: paint cycle %.1f us (mean of %d, 24 satellites, compact layout)\n",
                    scale, static_cast<double>(t.nsecsElapsed()) / 1000.0 / kPaints, kPaints);
        EXPECT_LT(usPerPaint, 20000.0);
        std::printf("scale %.0f: resident memory with the window shown: %ld KiB\n", scale,
                    ResidentKiB());
        dlg.done(QDialog::Rejected);
    }
    platform::UnbindAllPorts();
}

struct SimStream {
    const char *name;
    std::vector<std::string> args;
};

class UiCpu : public QtTest, public ::testing::WithParamInterface<SimStream> {};

TEST_P(UiCpu, WhileShowingTheSimulator) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(GetParam().args)) << sim.Errors();
    platform::BindPort(4, sim.SlavePath());
    {
        CStatusDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        ASSERT_TRUE(
            PumpUntil([&] { return dlg.m_redrawAll == 0 && dlg.m_curFix.lLatitude != 0; }, 3000));
        constexpr double kSeconds = 6.0;
        const double cpu0 = CpuSeconds();
        QElapsedTimer t;
        t.start();
        QEventLoop loop; // a plain event loop, as the application runs
        QTimer::singleShot(static_cast<int>(kSeconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        const double share = (CpuSeconds() - cpu0) / (static_cast<double>(t.elapsed()) / 1000.0);
        std::printf("CPU while showing the simulator's multi-system sky (%zu satellites, %s): "
                    "%.2f%% of a core over %.1f s (window and reader thread)\n",
                    dlg.m_curSky.count, GetParam().name, share * 100.0,
                    static_cast<double>(t.elapsed()) / 1000.0);
        std::printf("resident memory: %ld KiB\n", ResidentKiB());
        EXPECT_LT(share, 0.05);
        dlg.done(QDialog::Rejected);
    }
    platform::UnbindAllPorts();
}

// The desktop layout at 1920 x 1080: the time of one tick's update and paint with 64
// satellites of two signals each, and the median over the paints.
TEST_F(UiPerf, DesktopPaintWithSixtyFourSatellites) {
    platform::BindPort(4, "/nonexistent/skywatch-no-such-tty");
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.resize(1920, 1080);
    dlg.show();
    ASSERT_TRUE(dlg.IsDesktop());
    SkyView sky{};
    const Gnss systems[] = {Gnss::GPS, Gnss::GLONASS, Gnss::Galileo, Gnss::BeiDou};
    for (int i = 0; i < 64; ++i) {
        SkySat &s = sky.sats[sky.count++];
        s.gnss = systems[i / 16];
        s.sv = static_cast<std::uint16_t>(i % 16 + 1);
        s.el = static_cast<std::int16_t>(i * 7 % 90),
        s.az = static_cast<std::int16_t>(i * 37 % 360);
        s.snr = static_cast<std::uint8_t>(20 + i % 30), s.used = i % 3 != 0, s.hasPosition = true;
        s.nSigs = 2;
        // Tracking states as a u-blox receiver's binary messages give them: the widest table.
        s.sigs[0] = SkySignal{1, s.snr, 7, 0};
        s.sigs[1] = SkySignal{7, static_cast<std::uint8_t>(s.snr - 5), std::int8_t(4 + i % 2), 0};
        sky.used += s.used;
    }
    GpsFix fix = TwelveSatellites();
    FixExtra extra;
    extra.sent = display::kSentAll, extra.quality = 1;
    std::vector<double> ms;
    QImage target(dlg.Desktop()->size(), QImage::Format_RGB32);
    for (int i = 0; i < 60; ++i) {
        fix.bSecond = static_cast<std::uint8_t>(i % 60);
        sky.sats[i].snr = static_cast<std::uint8_t>(sky.sats[i].snr + 1);
        QElapsedTimer t;
        t.start();
        dlg.Desktop()->Show(fix, {display::kSentAll, false}, extra, sky, QString(), {});
        // The view and its children, painted as the window's backing store would be.
        dlg.Desktop()->render(&target);
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("desktop 1920x1080, 64 satellites: update and paint median %.2f ms, range "
                "%.2f-%.2f ms (%zu ticks)\n",
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    std::printf("resident memory with the desktop layout shown: %ld KiB\n", ResidentKiB());
    EXPECT_LT(ms[ms.size() / 2], 40.0);
    dlg.done(QDialog::Rejected);
    platform::UnbindAllPorts();
}

// The window's CPU on the largest replayed receiver (43 satellites, 1 Hz), at the dialog's size
// and at 1920 x 1080.
TEST_F(UiPerf, CpuOnAReplayedReceiverAtBothSizes) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    CSimProcess sim;
    ASSERT_TRUE(
        sim.Start({"--replay", SKYWATCH_NMEA_DIR "/ublox-neo-m9n-nmea.log", "--baud", "115200"}))
        << sim.Errors();
    platform::BindPort(4, sim.SlavePath());
    for (const QSize size : {QSize(240, 268), QSize(1920, 1080)}) {
        CStatusDlg dlg;
        dlg.OnInitDialog();
        dlg.resize(size);
        dlg.show();
        ASSERT_TRUE(PumpUntil([&] { return dlg.m_curSky.count >= 20; }, 6000));
        const double seconds = qEnvironmentVariableIntValue("SKYWATCH_PERF_SECONDS") > 0
                                   ? qEnvironmentVariableIntValue("SKYWATCH_PERF_SECONDS")
                                   : 6.0;
        const double cpu0 = CpuSeconds();
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        const double share = (CpuSeconds() - cpu0) / (static_cast<double>(t.elapsed()) / 1000.0);
        std::printf("%dx%d (%s), %zu satellites: %.2f%% of a core over %.1f s (window and reader "
                    "thread); resident %ld KiB\n",
                    size.width(), size.height(), dlg.IsDesktop() ? "desktop" : "dialog",
                    dlg.m_curSky.count, share * 100.0, static_cast<double>(t.elapsed()) / 1000.0,
                    ResidentKiB());
        EXPECT_LT(share, 0.05);
        dlg.done(QDialog::Rejected);
    }
    platform::UnbindAllPorts();
}
INSTANTIATE_TEST_SUITE_P(Streams, UiCpu,
                         ::testing::Values(SimStream{"hz1_b9600", {}},
                                           SimStream{"hz10_b115200",
                                                     {"--rate", "10", "--baud", "115200"}}),
                         [](const auto &row) { return std::string(row.param.name); });

// Every line of the simulator's stream with the time its line end reached a TCP client: the
// simulator writes each chunk to its network clients just before the pseudo-terminal.
class CLineTimes {
public:
    explicit CLineTimes(int port) {
        m_fd = ConnectLoopback(port);
        if (m_fd < 0)
            return;
        timeval tv{0, 100'000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        m_thread = std::thread([this] {
            std::string line;
            char buf[512];
            while (!m_stop) {
                const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
                const auto now = std::chrono::steady_clock::now();
                for (ssize_t i = 0; i < n; ++i) {
                    if (buf[i] != '\n') {
                        line += buf[i];
                        continue;
                    }
                    std::lock_guard lock(m_lock);
                    m_lines.emplace_back(line.substr(0, std::min<std::size_t>(line.size(), 6)),
                                         now);
                    line.clear();
                }
            }
        });
    }
    ~CLineTimes() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    // When each epoch's last sentence (its last GSV, before the next RMC) went out.
    std::vector<std::chrono::steady_clock::time_point> EpochEnds() {
        std::lock_guard lock(m_lock);
        std::vector<std::chrono::steady_clock::time_point> ends;
        std::chrono::steady_clock::time_point lastGsv{};
        for (const auto &[head, at] : m_lines) {
            if (head.size() == 6 && head.substr(3) == "GSV")
                lastGsv = at;
            else if (head.size() == 6 && head.substr(3) == "RMC" && lastGsv != decltype(at){})
                ends.push_back(std::exchange(lastGsv, {}));
        }
        return ends;
    }

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_lock;
    std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> m_lines;
};

// Every paint of the window, on the steady clock.
class CPaints : public QObject {
public:
    std::vector<std::chrono::steady_clock::time_point> at;
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint)
            at.push_back(std::chrono::steady_clock::now());
        return false;
    }
};

class UiPaintLatency : public QtTest, public ::testing::WithParamInterface<SimStream> {};

TEST_P(UiPaintLatency, FromAnEpochsLastSentenceToThePaint) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    const int tcp = FreePort(SOCK_STREAM);
    std::vector<std::string> args = GetParam().args;
    args.insert(args.end(), {"--tcp", std::to_string(tcp)});
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(args)) << sim.Errors();
    CLineTimes lines(tcp);
    platform::BindPort(4, sim.SlavePath());
    std::vector<double> ms;
    std::size_t paints = 0;
    double seconds = 0.0;
    {
        CStatusDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        ASSERT_TRUE(
            PumpUntil([&] { return dlg.m_redrawAll == 0 && dlg.m_curFix.lLatitude != 0; }, 3000));
        CPaints painted;
        dlg.installEventFilter(&painted);
        const auto start = std::chrono::steady_clock::now();
        QEventLoop loop;
        QTimer::singleShot(6000, &loop, &QEventLoop::quit);
        loop.exec();
        dlg.removeEventFilter(&painted);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        paints = painted.at.size();
        for (const auto end : lines.EpochEnds()) {
            const auto next = std::upper_bound(painted.at.begin(), painted.at.end(), end);
            if (end > start && next != painted.at.end())
                ms.push_back(std::chrono::duration<double, std::milli>(*next - end).count());
        }
        dlg.done(QDialog::Rejected);
    }
    platform::UnbindAllPorts();
    ASSERT_GE(ms.size(), 4u);
    std::sort(ms.begin(), ms.end());
    const double p95 = ms[(ms.size() * 95 + 99) / 100 - 1];
    std::printf("epoch's last sentence to paint (%s): median %.0f ms, p95 %.0f ms, max %.0f ms "
                "(%zu epochs); %.1f paints a second\n",
                GetParam().name, ms[ms.size() / 2], p95, ms.back(), ms.size(),
                static_cast<double>(paints) / seconds);
    EXPECT_LT(ms[ms.size() / 2], 200.0);
    EXPECT_LE(static_cast<double>(paints) / seconds, 11.0);
}

// At 9600 baud the four-system epoch fills a tenth of a second many times over: at 10 Hz the
// cycles run back to back, each ended by the next one's RMC.
INSTANTIATE_TEST_SUITE_P(
    Streams, UiPaintLatency,
    ::testing::Values(SimStream{"hz1_b9600", {}}, SimStream{"hz10_b9600", {"--rate", "10"}},
                      SimStream{"hz10_b115200", {"--rate", "10", "--baud", "115200"}}),
    [](const auto &row) { return std::string(row.param.name); });

namespace {

// The median time of PaintHistory at 1400 x 900, over 40 paints.
double HistoryPaintMs(const SignalHistoryCopy &h, const std::optional<SatNumber> &picked) {
    QImage target(1400, 900, QImage::Format_RGB32);
    std::vector<double> ms;
    for (int i = 0; i < 40; ++i) {
        QPainter p(&target);
        QElapsedTimer t;
        t.start();
        display::PaintHistory(p, QRectF(target.rect()), h, 7200, picked);
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

// The signal history after a long 10 Hz replay played as fast as possible: the process's resident
// memory (and its peak) with the history window open, and the plots' paint time over the full two
// hours. SKYWATCH_PERF_HISTORY_FILE names the recording (e.g. a day from skywatch-sim --write
// 86400 --rate 10 --bands 2, gzipped); without it, three hours are made here.
TEST_F(UiPerf, HistoryAfterALongTenHertzReplay) {
    QString path = qEnvironmentVariable("SKYWATCH_PERF_HISTORY_FILE");
    QTemporaryDir dir;
    if (path.isEmpty()) {
        if (!CSimProcess::Built())
            GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
        path = dir.filePath(QStringLiteral("three-hours.nmea"));
        QProcess sim;
        sim.setStandardOutputFile(path);
        sim.start(QString::fromStdString(CSimProcess::Binary()),
                  {QStringLiteral("--write"), QStringLiteral("10800"), QStringLiteral("--rate"),
                   QStringLiteral("10"), QStringLiteral("--bands"), QStringLiteral("2")});
        ASSERT_TRUE(sim.waitForFinished(120000));
        ASSERT_EQ(sim.exitCode(), 0);
    }
    platform::BindPort(4, QFile::encodeName(path).toStdString());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    ASSERT_NE(dlg.m_port.Replay(), nullptr);
    dlg.m_port.Replay()->SetSpeed(platform::CFileSource::kFastest);
    CHistoryView *view = menu.OpenHistory();
    view->resize(1400, 900);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.Replay()->Ended(); }, 60 * 60 * 1000));
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    PumpUntil([] { return false; }, 1200); // the view's next refresh
    const SignalHistoryCopy h = dlg.m_port.Signals().Copy();
    ASSERT_EQ(h.samples.size(), CSignalHistory::kMaxSamples);
    const std::vector<SatNumber> sats = display::HistorySatellites(h);
    ASSERT_FALSE(sats.empty());
    const double replayMs = HistoryPaintMs(h, sats.front());
    std::printf("history after replaying %s in %.1f s (%u sentences): %zu samples, %zu signals; "
                "resident %ld KiB, peak %ld KiB; plots at 1400x900 over 2 h, %s picked: median "
                "%.2f ms\n",
                qPrintable(QFileInfo(path).fileName()), seconds,
                dlg.m_port.CopyCounters().Decoded(), h.samples.size(), h.sigs.size(), ResidentKiB(),
                ResidentKiB(QByteArrayLiteral("VmHWM:")),
                qPrintable(display::SatLabel(sats.front().gnss, sats.front().sv)), replayMs);
    EXPECT_LT(ResidentKiB(QByteArrayLiteral("VmHWM:")), 80 * 1024);
    EXPECT_LT(replayMs, 5.0);
    dlg.done(QDialog::Rejected);
    platform::UnbindAllPorts();

    // The bound's own worst case: two hours of 48 satellites on two bands, strengths moving.
    CNmeaDecoder decoder(0);
    CSignalHistory dense;
    for (int second = 0; second < 7200; ++second) {
        const std::string rmc =
            Sentence(QStringLiteral("$GNRMC,%1%2%3.00,A,4807.038,N,01131.000,E,,,010124,,")
                         .arg(second / 3600 + 10, 2, 10, QLatin1Char('0'))
                         .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                         .arg(second % 60, 2, 10, QLatin1Char('0'))
                         .toStdString());
        std::string stream = rmc;
        for (const char *talker : {"GP", "GL", "GA", "GB"})
            for (const char *band : {"1", "7"})
                for (int m = 0; m < 3; ++m) {
                    std::string gsv =
                        "$" + std::string(talker) + "GSV,3," + std::to_string(m + 1) + ",12";
                    for (int k = 0; k < 4; ++k) {
                        const int sv = m * 4 + k + 1;
                        gsv += "," + std::to_string(sv) + ",40,100," +
                               std::to_string(20 + (sv * 7 + second / (sv + 3)) % 30);
                    }
                    stream += Sentence(gsv + "," + band);
                }
        decoder.ParseBuffer(stream.data(), static_cast<int>(stream.size()));
        dense.OnSentence(rmc.data(), rmc.size());
        dense.OnEpoch(decoder);
    }
    const SignalHistoryCopy d = dense.Copy();
    ASSERT_EQ(d.samples.size(), CSignalHistory::kMaxSamples);
    const double denseMs = HistoryPaintMs(d, display::HistorySatellites(d).front());
    std::printf("history of 2 h x 48 satellites x 2 bands (%zu signals): plots at 1400x900, "
                "median %.2f ms\n",
                d.sigs.size(), denseMs);
    // The aim is 5 ms; this shared machine's speed drifts for seconds at a time, and one build
    // measured 4.3 to 6.2 ms here in one sitting, idle. The limit catches a real slowdown.
    EXPECT_LT(denseMs, 8.0);
}
