#include "AppTestSupport.h"
#include "DesktopView.h"
#include "PortTable.h"
#include "QtTestSupport.h"
#include "SimProcess.h"
#include "StatusDlg.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
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

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
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

TEST_F(UiPerf, CpuWhileShowingTheSimulator) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({})) << sim.Errors();
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
        std::printf("CPU while showing the simulator's multi-system sky (%zu satellites): "
                    "%.2f%% of a core over %.1f s (window and reader thread)\n",
                    dlg.m_curSky.count, share * 100.0, static_cast<double>(t.elapsed()) / 1000.0);
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
        s.sigs[0] = SkySignal{1, s.snr, 0};
        s.sigs[1] = SkySignal{7, static_cast<std::uint8_t>(s.snr - 5), 0};
        sky.used += s.used;
    }
    GpsFix fix = TwelveSatellites();
    const FixExtra extra{display::kSentAll, 1, {}};
    std::vector<double> ms;
    QImage target(dlg.Desktop()->size(), QImage::Format_RGB32);
    for (int i = 0; i < 60; ++i) {
        fix.bSecond = static_cast<std::uint8_t>(i % 60);
        sky.sats[i].snr = static_cast<std::uint8_t>(sky.sats[i].snr + 1);
        QElapsedTimer t;
        t.start();
        dlg.Desktop()->Show(fix, {display::kSentAll, false}, extra, sky, QString());
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
