// The session's history in the window: recording from it, on a real pseudo-terminal.
#include "AppTestSupport.h"
#include "ControlIds.h"
#include "HistoryPlot.h"
#include "HistoryView.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "ScatterView.h"
#include "SessionMenu.h"
#include "SkyPlot.h"
#include "StatusDlg.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

constexpr int kPort = 4;

std::string Burst(int second) {
    char rmc[96];
    std::snprintf(rmc, sizeof rmc, "$GPRMC,1200%02d,A,4807.038,N,01131.000,E,022.4,084.4,230394,,",
                  second % 60);
    return Sentence(rmc) + Sentence("$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,");
}

class SessionWindow : public AppTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.Valid());
        ASSERT_TRUE(m_dir.isValid());
        platform::BindPort(kPort, m_pty.SlavePath());
    }
    void TearDown() override { platform::UnbindAllPorts(); }
    // Pumps the window's events while the receiver talks, until cond holds.
    bool TalkUntil(const std::function<bool()> &cond, int ms) {
        int second = 0;
        return PumpUntil(cond, ms, [&] {
            if (++second % 20 == 0)
                m_pty.Write(Burst(second / 20));
        });
    }
    CPtyPair m_pty;
    QTemporaryDir m_dir;
};

TEST_F(SessionWindow, RecordingShowsInTheCaptionAndItsKeyStopsIt) {
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    dlg.show();
    const QString path = m_dir.filePath(QStringLiteral("window.nmea"));
    ASSERT_EQ(menu.StartRecording(path, false), QString());
    EXPECT_EQ(menu.RecordAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
    EXPECT_EQ(menu.RecordAction()->text(), QStringLiteral("Stop recording"));
    const QRegularExpression shown(QStringLiteral("recording [1-9][0-9.]* (B|kB)"));
    ASSERT_TRUE(TalkUntil([&] { return shown.match(dlg.windowTitle()).hasMatch(); }, 6000))
        << dlg.windowTitle().toStdString();
    menu.RecordAction()->trigger();
    EXPECT_FALSE(dlg.windowTitle().contains(QStringLiteral("recording")))
        << dlg.windowTitle().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("$GPRMC,1200"));

    // Its folder removed, the recording ends and says so; the window goes on showing data.
    const QString sub = m_dir.filePath(QStringLiteral("sub"));
    ASSERT_TRUE(QDir().mkdir(sub));
    ASSERT_EQ(menu.StartRecording(sub + QStringLiteral("/r.nmea"), false), QString());
    ASSERT_TRUE(QDir(sub).removeRecursively());
    ASSERT_TRUE(TalkUntil(
        [&] { return dlg.windowTitle().contains(QStringLiteral("recording stopped")); }, 4000))
        << dlg.windowTitle().toStdString();
    EXPECT_TRUE(dlg.windowTitle().contains(QStringLiteral("was removed")));
    // The caption follows at once, the menu's action within its one-second look.
    EXPECT_TRUE(TalkUntil(
        [&] { return menu.RecordAction()->text() == QStringLiteral("Start recording..."); }, 1500));
    const std::uint32_t decoded = dlg.m_port.CopyCounters().Decoded();
    EXPECT_TRUE(TalkUntil([&] { return dlg.m_port.CopyCounters().Decoded() > decoded; }, 3000));
}

} // namespace

namespace {

TEST_F(SessionWindow, AReplayPlaysSaysSoAndRefusesRestartCommands) {
    platform::BindPort(kPort, SKYWATCH_NMEA_DIR "/telit-he910.log");
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    dlg.show();
    ASSERT_NE(dlg.m_port.Replay(), nullptr);
    ASSERT_TRUE(
        PumpUntil([&] { return dlg.windowTitle().contains(QStringLiteral("replay x1, ")); }, 3000))
        << dlg.windowTitle().toStdString();
    menu.ReplayActions()[3]->trigger(); // as fast as possible
    ASSERT_TRUE(
        PumpUntil([&] { return dlg.windowTitle().contains(QStringLiteral("replay ended")); }, 5000))
        << dlg.windowTitle().toStdString();
    EXPECT_GT(dlg.m_port.CopyCounters().Decoded(), 500u);
    menu.ReplayActions()[6]->trigger(); // to the start
    menu.ReplayActions()[0]->trigger(); // pause
    ASSERT_TRUE(PumpUntil(
        [&] { return dlg.windowTitle().contains(QStringLiteral("replay paused, 0%")); }, 3000))
        << dlg.windowTitle().toStdString();

    auto *reset = qobject_cast<QComboBox *>(dlg.GetDlgItem(ctl::kResetList));
    ASSERT_NE(reset, nullptr);
    reset->setCurrentIndex(0); // cold start
    dlg.OnResetButton();
    EXPECT_TRUE(dlg.windowTitle().contains(QStringLiteral("a replay takes no commands")))
        << dlg.windowTitle().toStdString();
}

} // namespace

namespace {

// The menu refuses to record over the file being replayed, under any of its names.
TEST_F(SessionWindow, RecordingOverTheReplayIsRefused) {
    const QString replayed = m_dir.filePath(QStringLiteral("self.nmea"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(SKYWATCH_NMEA_DIR "/telit-he910.log"), replayed));
    platform::BindPort(kPort, QFile::encodeName(replayed).toStdString());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    ASSERT_NE(dlg.m_port.Replay(), nullptr);
    const QString why = menu.StartRecording(m_dir.path() + QStringLiteral("/./self.nmea"), true);
    EXPECT_TRUE(why.contains(QStringLiteral("is the file being replayed"))) << why.toStdString();
    EXPECT_FALSE(dlg.m_port.Recorder().CopyStatus().recording);
    // The same for a file the simulator replays into the port (--replay).
    const QString simulated = m_dir.filePath(QStringLiteral("sim.nmea"));
    ASSERT_TRUE(QFile::copy(replayed, simulated));
    menu.SetReplayFile(simulated);
    EXPECT_NE(menu.StartRecording(m_dir.path() + QStringLiteral("/./sim.nmea"), true), QString());
    for (const QString &file : {replayed, simulated})
        EXPECT_EQ(QFileInfo(file).size(),
                  QFileInfo(QStringLiteral(SKYWATCH_NMEA_DIR "/telit-he910.log")).size());
}

// The scatter of a replayed capture shows the figures the decode tool's summary gives.
TEST_F(SessionWindow, ScatterOfAReplayShowsTheCapturesFigures) {
    platform::BindPort(kPort, SKYWATCH_NMEA_DIR "/telit-he910.log");
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    ASSERT_NE(dlg.m_port.Replay(), nullptr);
    dlg.m_port.Replay()->SetSpeed(platform::CFileSource::kFastest);
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.Replay()->Ended(); }, 5000));
    CScatterView *view = menu.OpenScatter();
    ASSERT_NE(view, nullptr);
    PumpUntil([] { return false; }, 100);
    const QString figures = view->FiguresText();
    for (const char *line : {"CEP50 1.38 m", "CEP95 2.27 m", "2DRMS 2.96 m", "fixes 187"})
        EXPECT_TRUE(figures.contains(QString::fromLatin1(line)))
            << line << " in " << figures.toStdString();
    EXPECT_GT(CountColour(view->grab().toImage(), view->rect(), QColor(30, 90, 200)), 20);
    ASSERT_TRUE(view->SetReference(QStringLiteral("50.8402,4.3471")));
    EXPECT_TRUE(view->FiguresText().contains(QStringLiteral("mean -1.54 m east, -0.24 m north")))
        << view->FiguresText().toStdString();
    EXPECT_FALSE(view->SetReference(QStringLiteral("north pole")));
}

} // namespace

namespace {

// A pixel of colour c in area, or a null point.
QPoint FindColour(const QImage &img, const QRect &area, const QColor &c) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (QColor(img.pixel(x, y)) == c)
                return {x, y};
    return {};
}

// The signal history of a replayed four-system capture: one sample per second of it, the counts
// the sky shows, the picked satellite's line drawn bold, and a click on a line picks its owner.
TEST_F(SessionWindow, HistoryOfAReplayDrawsThePickedSatellite) {
    platform::BindPort(kPort, SKYWATCH_NMEA_DIR "/ublox-neo-m9n-nmea.log");
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    ASSERT_NE(dlg.m_port.Replay(), nullptr);
    dlg.m_port.Replay()->SetSpeed(platform::CFileSource::kFastest);
    // The last epoch ends when the line goes quiet after it.
    PumpUntil([&] { return dlg.m_port.Signals().Size() >= 61; }, 5000);
    CHistoryView *view = menu.OpenHistory();
    ASSERT_NE(view, nullptr);
    SkyView sky;
    dlg.m_port.CopySky(sky);
    EXPECT_EQ(dlg.m_port.Signals().Size(), 61u); // the capture's seconds
    for (const Gnss g : {Gnss::GPS, Gnss::GLONASS, Gnss::Galileo, Gnss::BeiDou}) {
        const auto i = static_cast<std::size_t>(g);
        ASSERT_GT(sky.inView[i], 0u);
        EXPECT_TRUE(view->LatestText().contains(QStringLiteral("%1 %2 in view, %3 used")
                                                    .arg(QString::fromLatin1(GnssName(g)))
                                                    .arg(sky.inView[i])
                                                    .arg(sky.usedBy[i])))
            << view->LatestText().toStdString();
    }

    const QColor bold = display::HistoryBandColour(0);
    const QRect plot = view->SignalPlotRect();
    EXPECT_EQ(CountColour(view->grab().toImage(), plot, bold), 0);
    ASSERT_TRUE(view->Pick(QStringLiteral("G18")));
    EXPECT_TRUE(view->LatestText().contains(QStringLiteral("G18: L1 C/A ")))
        << view->LatestText().toStdString();
    const QImage picked = view->grab().toImage();
    EXPECT_GT(CountColour(picked, plot, bold), 100);
    EXPECT_FALSE(view->Pick(QStringLiteral("G99")));
    EXPECT_FALSE(view->Picked().has_value());

    // A click on the bold line, with nothing picked, picks a satellite whose line passes there.
    const QPoint on =
        FindColour(picked, QRect(plot.center().x(), plot.top(), 1, plot.height()), bold);
    ASSERT_FALSE(on.isNull());
    QWidget *target = view->childAt(on);
    ASSERT_NE(target, nullptr);
    const QPointF local = target->mapFrom(view, QPointF(on));
    QMouseEvent press(QEvent::MouseButtonPress, local, target->mapToGlobal(local), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    ASSERT_TRUE(view->Picked().has_value());
    EXPECT_GT(CountColour(view->grab().toImage(), QRect(on - QPoint(3, 3), QSize(7, 7)), bold), 0)
        << display::SatLabel(view->Picked()->gnss, view->Picked()->sv).toStdString();
}

} // namespace
