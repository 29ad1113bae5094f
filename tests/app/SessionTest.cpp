// The session's history in the window: recording from it, on a real pseudo-terminal.
#include "AlarmBanner.h"
#include "AppTestSupport.h"
#include "CommandLine.h"
#include "ControlIds.h"
#include "HistoryPlot.h"
#include "LinkTestSupport.h"
#include "NtripCaster.h"
#include "PortTable.h"
#include "SessionMenu.h"
#include "SimProcess.h"
#include "SkyPlot.h"
#include "StatusDlg.h"
#include "TestPaths.h"
#include "views/CompareView.h"
#include "views/ConsoleView.h"
#include "views/DesktopView.h"
#include "views/HistoryView.h"
#include "views/NtripDialog.h"
#include "views/ReceiverSettingsDialog.h"
#include "views/ScatterView.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

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
    EXPECT_EQ(ShownText(dlg, ctl::kPortStatus), QStringLiteral("Replay"));
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

// A paused replay goes on showing the moment it paused at, however long it stays paused; a jump
// while paused shows the moment it lands on; playing on keeps the speed.
TEST_F(SessionWindow, APausedReplayHoldsItsMomentAndItsSpeed) {
    platform::BindPort(kPort, SKYWATCH_NMEA_DIR "/ublox-neo-m9n-nmea.log");
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    dlg.show();
    ASSERT_NE(dlg.m_port.Replay(), nullptr);
    menu.ReplayActions()[2]->trigger(); // x10
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_curSky.count > 20 && dlg.m_curFix.bValid; }, 5000));
    menu.ReplayActions()[0]->trigger(); // pause
    // An epoch already on its way when the pause came still arrives.
    PumpUntil([] { return false; }, 1200);
    const auto second = [&] { return dlg.m_curFix.bMinute * 60 + dlg.m_curFix.bSecond; };
    const int pausedAt = second();
    const std::size_t inView = dlg.m_curSky.count;
    // Longer than the silence that means no data (3 s) and than a sky cycle is kept (5 s).
    PumpUntil([] { return false; }, 6000);
    EXPECT_TRUE(dlg.windowTitle().contains(QStringLiteral("replay paused")))
        << dlg.windowTitle().toStdString();
    EXPECT_FALSE(dlg.m_bNoData);
    EXPECT_EQ(dlg.m_curSky.count, inView);
    EXPECT_EQ(second(), pausedAt);
    menu.ReplayActions()[5]->trigger(); // forward 10%
    EXPECT_TRUE(PumpUntil([&] { return second() >= pausedAt + 5; }, 3000))
        << pausedAt << " -> " << second();
    EXPECT_GT(dlg.m_curSky.count, 20u);
    EXPECT_TRUE(dlg.windowTitle().contains(QStringLiteral("replay paused")))
        << dlg.windowTitle().toStdString();
    menu.ReplayActions()[0]->trigger(); // play on
    EXPECT_TRUE(
        PumpUntil([&] { return dlg.windowTitle().contains(QStringLiteral("replay x10")); }, 3000))
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

namespace {

// Columns of area that hold colour c: the first and the last, or (-1, -1).
std::pair<int, int> ColumnsOf(const QImage &img, const QRect &area, const QColor &c) {
    std::pair<int, int> found{-1, -1};
    for (int x = area.left(); x <= area.right(); ++x)
        if (CountColour(img, QRect(x, area.top(), 1, area.height()), c) > 0)
            found = {found.first < 0 ? x : found.first, x};
    return found;
}

// The simulator's jamming replayed: while the alarm is on show the desktop's banner says so in its
// colours and the caption carries the active one at any size; the signal history shades its time;
// once the replay's data stops the banner turns grey. A recording without jamming shows none.
TEST_F(SessionWindow, JammingInAReplayShowsInTheBannerCaptionAndHistory) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    const struct {
        const char *name;
        int seconds;
        bool jam, active;
        double shadeFrom, shadeTo; // where in the history's width the alarm's time may lie
    } rows[] = {{"jammed to the end", 80, true, true, 0.7, 1.0},
                {"jamming over", 200, true, false, 0.28, 0.6},
                {"no jamming", 40, false, false, 0, 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = m_dir.filePath(QString::fromLatin1(row.name) + ".nmea");
        ASSERT_TRUE(WriteSimRecording(path, row.seconds,
                                      row.jam ? QStringList{"--jam", "60,15,40"} : QStringList{}));
        platform::BindPort(kPort, QFile::encodeName(path).toStdString());
        // On the heap: each row's window and reader thread at a place of their own, which
        // ThreadSanitizer cannot mistake for the last row's (it does not see a stack reused).
        const auto window = std::make_unique<CStatusDlg>();
        CStatusDlg &dlg = *window;
        dlg.OnInitDialog();
        CSessionMenu menu(dlg);
        dlg.resize(1400, 900);
        dlg.show();
        ASSERT_TRUE(dlg.IsDesktop());
        ASSERT_NE(dlg.m_port.Replay(), nullptr);
        dlg.m_port.Replay()->SetSpeed(platform::CFileSource::kFastest);
        QWidget *banner = dlg.Desktop()->Banner();
        const QColor shown = row.active ? display::kAlarmBackground : display::kEndedBackground;
        const auto pixels = [&](const QColor &c) {
            return banner->isVisible() ? CountColour(banner->grab().toImage(), banner->rect(), c)
                                       : 0;
        };
        ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.Replay()->Ended(); }, 5000));
        // The tick after the end, while the data is still recent.
        if (row.jam)
            EXPECT_TRUE(PumpUntil([&] { return pixels(shown) > 1000; }, 2500));
        else
            PumpUntil([] { return false; }, 1100);
        ASSERT_FALSE(dlg.m_bNoData);
        const WatchStatus::Alarm &jam = dlg.m_curWatch.alarms[0];
        EXPECT_EQ(jam.active, row.active);
        EXPECT_EQ(jam.ended, row.jam && !row.active);
        EXPECT_EQ(banner->isVisible(), row.jam);
        // While the receiver has no baseline the banner says so after the alarm's words.
        const QString said = QString::fromStdString(jam.text);
        EXPECT_EQ(banner->toolTip().left(said.size()), said) << banner->toolTip().toStdString();
        const QString alarm = QString::fromUtf8(" \u2014 Possible jamming: ");
        EXPECT_EQ(dlg.windowTitle().contains(alarm), row.active) << dlg.windowTitle().toStdString();
        EXPECT_TRUE(dlg.windowTitle().startsWith(QStringLiteral("Skywatch - ")))
            << dlg.windowTitle().toStdString();

        // The history shades the alarm's time, and only that.
        CHistoryView *view = menu.OpenHistory();
        view->resize(800, 600);
        view->Refresh();
        const QRect plot = view->SignalPlotRect();
        const QImage history = view->grab().toImage();
        const auto [first, last] =
            ColumnsOf(history, plot, display::HistorySpanColour(Threat::Jamming));
        if (row.jam) {
            EXPECT_GE(first, plot.left() + row.shadeFrom * plot.width());
            EXPECT_LE(last, plot.left() + row.shadeTo * plot.width());
            EXPECT_GT(last - first, plot.width() / 50);
        } else {
            EXPECT_EQ(first, -1);
        }

        // The dialog's own size keeps its layout: no banner, the caption still warns.
        dlg.resize(240, 268);
        EXPECT_FALSE(dlg.IsDesktop());
        EXPECT_EQ(dlg.windowTitle().contains(alarm), row.active) << dlg.windowTitle().toStdString();
        dlg.resize(1400, 900);

        // Stopped data greys the banner: what it says is no longer news.
        if (row.active) {
            EXPECT_TRUE(PumpUntil(
                [&] { return dlg.m_bNoData && pixels(display::kAlarmStaleBackground) > 1000; },
                6000));
            EXPECT_EQ(pixels(shown), 0);
            EXPECT_TRUE(banner->toolTip().endsWith(QStringLiteral(" (no data)")))
                << banner->toolTip().toStdString();
        }
        dlg.done(QDialog::Rejected);
    }
}

} // namespace

namespace {

CTestCaster::Options CasterServing(std::vector<std::string> mounts) {
    CTestCaster::Options options;
    options.user = "user", options.password = "secret";
    options.mounts = std::move(mounts);
    options.payload = ReadWholeFile(NmeaDir() + "/rtcm3.2.log");
    options.framesPerTick = 5;
    return options;
}

// --ntrip on a replay: the corrections come and the fix panel says why they go nowhere; the
// password shows in no caption, text or tooltip of the window or its NTRIP dialog.
TEST_F(SessionWindow, CorrectionsOnAReplaySayWhyTheyGoNowhereAndHideThePassword) {
    CTestCaster caster(CasterServing({"MOUNT"}));
    ASSERT_TRUE(caster.Start());
    const CommandLine c = ParseCommandLine(
        {QStringLiteral("skywatch"), QStringLiteral("--ntrip"),
         QString::fromStdString(LoopbackNtripUrl("user:secret", caster.Port(), "MOUNT")),
         QStringLiteral("--layout"), QStringLiteral("desktop"),
         QStringLiteral(SKYWATCH_NMEA_DIR "/telit-he910.log")});
    ASSERT_EQ(c.action, CommandLine::Action::Run) << c.message.toStdString();
    BindPorts(c, m_dir.path());
    CStatusDlg dlg;
    dlg.m_layoutChoice = c.options.layout;
    dlg.OnInitDialog();
    dlg.resize(1400, 900);
    CSessionMenu menu(dlg);
    menu.SetNtripAddress(c.options.ntrip);
    ASSERT_EQ(StartCorrections(dlg.m_port, c.options.ntrip), QString());
    dlg.show();
    const auto row = [&](const char *label) {
        const QLabel *value = dlg.Desktop()->FixValue(QString::fromLatin1(label));
        return value != nullptr ? value->text() : QString();
    };
    ASSERT_TRUE(PumpUntil(
        [&] {
            return row("Forwarding").startsWith(QStringLiteral("not passed to the receiver: "));
        },
        8000))
        << row("Forwarding").toStdString();
    EXPECT_EQ(row("Corrections"), QStringLiteral("MOUNT receiving"));
    EXPECT_TRUE(row("RTCM").contains(QStringLiteral(" frames, 0 bad")))
        << row("RTCM").toStdString();
    ASSERT_NE(menu.OpenNtrip(), nullptr);
    EXPECT_EQ(menu.Ntrip()->findChild<QLineEdit *>(QStringLiteral("host"))->text(),
              QStringLiteral("127.0.0.1"));
    EXPECT_EQ(menu.Ntrip()->findChild<QLineEdit *>(QStringLiteral("password"))->text(),
              QStringLiteral("secret"));
    PumpUntil([] { return false; }, 1100); // the dialog's status line follows the client
    const QStringList texts = ShownTexts(dlg) + ShownTexts(*menu.Ntrip());
    EXPECT_TRUE(texts.join(QLatin1Char('\n')).contains(QStringLiteral("user:***@127.0.0.1")));
    for (const QString &text : texts)
        EXPECT_FALSE(text.contains(QStringLiteral("secret"))) << text.toStdString();
    dlg.m_port.StopCorrections();
}

// The NTRIP dialog over a receiver with a fix: the caster's mount points nearest first, the one
// that wants the rover's position marked and ticking GGA when picked, Connect streaming from it;
// a caster that does not answer says so in words.
TEST_F(SessionWindow, NtripDialogListsMountPointsNearestFirstAndConnects) {
    CTestCaster::Options options = CasterServing({"NEAR", "FAR"});
    options.table = {
        "STR;FAR;Berlin;RTCM 3.2;1005(10),1074(1);2;GPS;NET;DEU;52.52;13.40;0;0;sNTRIP;none;B;N;"
        "9600;",
        "STR;NOWHERE;Unknown;RTCM 3.2;1005(10);2;GPS;NET;DEU;0.00;0.00;0;0;sNTRIP;none;B;N;9600;",
        "STR;NEAR;Munich;RTCM 3.3;1005(10),1077(1);2;GPS+GLO;NET;DEU;48.15;11.58;1;1;sNTRIP;none;"
        "B;N;9600;"};
    CTestCaster caster(options);
    ASSERT_TRUE(caster.Start());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    // The receiver's fix (48.12 N, 11.52 E) orders the list.
    ASSERT_TRUE(TalkUntil(
        [&] {
            GpsFix fix{};
            FixExtra extra;
            dlg.m_port.CopyFix(fix, extra);
            return fix.bValid != 0 && (extra.sent & kSentPosition) != 0;
        },
        4000));
    CNtripDialog *ntrip = menu.OpenNtrip();
    ASSERT_NE(ntrip, nullptr);
    const auto field = [&](const char *name) {
        return ntrip->findChild<QLineEdit *>(QString::fromLatin1(name));
    };
    auto *list = ntrip->findChild<QTreeWidget *>(QStringLiteral("mounts"));
    auto *gga = ntrip->findChild<QCheckBox *>(QStringLiteral("gga"));
    auto *status = ntrip->findChild<QLabel *>(QStringLiteral("status"));
    ASSERT_TRUE(list && gga && status && field("host"));
    field("host")->setText(QStringLiteral("127.0.0.1"));
    ntrip->findChild<QSpinBox *>(QStringLiteral("port"))->setValue(caster.Port());
    field("user")->setText(QStringLiteral("user"));
    field("password")->setText(QStringLiteral("secret"));
    ntrip->findChild<QPushButton *>(QStringLiteral("fetch"))->click();
    ASSERT_TRUE(PumpUntil([&] { return list->topLevelItemCount() == 3; }, 10000))
        << status->text().toStdString();
    QStringList order, notes;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        order << list->topLevelItem(i)->text(0);
        notes << list->topLevelItem(i)->text(4);
    }
    EXPECT_EQ(order, (QStringList{"NEAR", "FAR", "NOWHERE"}));
    EXPECT_EQ(notes, (QStringList{"sends position", "", ""}));
    EXPECT_TRUE(list->topLevelItem(0)->text(3).endsWith(QStringLiteral(" km")));
    EXPECT_EQ(list->topLevelItem(2)->text(3), QString()) << "no position, no distance";

    EXPECT_FALSE(gga->isChecked());
    list->setCurrentItem(list->topLevelItem(0));
    EXPECT_EQ(field("mount")->text(), QStringLiteral("NEAR"));
    EXPECT_TRUE(gga->isChecked()) << "the mount point wants the rover's position";
    ntrip->findChild<QPushButton *>(QStringLiteral("connect"))->click();
    EXPECT_TRUE(
        TalkUntil([&] { return status->text().contains(QStringLiteral("receiving")); }, 8000))
        << status->text().toStdString();
    ASSERT_FALSE(caster.Heads().empty());
    EXPECT_TRUE(caster.Heads().back().starts_with("GET /NEAR ")) << caster.Heads().back();
    EXPECT_TRUE(dlg.m_port.CopyCorrections().ggaOn);
    ntrip->findChild<QPushButton *>(QStringLiteral("disconnect"))->click();
    EXPECT_FALSE(dlg.m_port.CopyCorrections().on);

    // Nothing listens any more: no table, and the reason in words.
    caster.Stop();
    ntrip->findChild<QPushButton *>(QStringLiteral("fetch"))->click();
    ASSERT_TRUE(PumpUntil([&] { return !ntrip->Fetching(); }, 10000));
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("No source table: ")))
        << status->text().toStdString();
    EXPECT_EQ(list->topLevelItemCount(), 0);
}

} // namespace

namespace {

// The rows the console shows for filter, of kind only.
int ConsoleRows(CConsoleView &console, const QString &filter, TapKind kind) {
    console.SetFilter(filter);
    const CConsoleModel &model = console.Model();
    int n = 0;
    for (int r = 0; r < model.rowCount(); ++r)
        n += model.index(r).data(CConsoleModel::KindRole).toInt() == static_cast<int>(kind);
    return n;
}

// Replays path at full speed into a window with the console open, until every line is in it.
void ReplayIntoConsole(CStatusDlg &dlg, CSessionMenu &menu, CConsoleView *&console) {
    ASSERT_NE(dlg.m_port.Replay(), nullptr);
    console = menu.OpenConsole();
    ASSERT_NE(console, nullptr);
    dlg.m_port.Replay()->SetSpeed(platform::CFileSource::kFastest);
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.Replay()->Ended(); }, 60000));
    // The reader decodes the last block after the source said it ended: wait for 300 ms
    // without a new line.
    std::uint64_t added = 0;
    auto since = std::chrono::steady_clock::now();
    PumpUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (std::exchange(added, dlg.m_port.Tap().Added()) != added)
                since = now;
            return added > 0 && now - since > std::chrono::milliseconds(300);
        },
        5000);
    console->Refresh();
}

// Every line of a mixed capture is in the console once, of the type and kind the decoder
// counted it as; frames are named with their length.
TEST_F(SessionWindow, ConsoleOfACaptureHoldsALinePerSentenceAndFrame) {
    for (const char *capture : {"ublox-f9p-rtcm.log", "ublox-zed-f9r.log",
                                "ublox-zed-f9t-ubx_nmea_l5.log", "hostile/splice.nmea"}) {
        SCOPED_TRACE(capture);
        platform::BindPort(kPort, QStringLiteral(SKYWATCH_NMEA_DIR "/%1")
                                      .arg(QString::fromLatin1(capture))
                                      .toStdString());
        CStatusDlg dlg;
        dlg.OnInitDialog();
        CSessionMenu menu(dlg);
        CConsoleView *console = nullptr;
        ReplayIntoConsole(dlg, menu, console);
        if (HasFatalFailure())
            return;
        const ScanCounters c = dlg.m_port.CopyCounters();
        ASSERT_GT(c.Heard(), 0u);
        const struct {
            const char *filter;
            TapKind kind;
            std::uint32_t counted;
        } rows[] = {
            {"GGA", TapKind::Sentence, c.nGga},
            {"RMC", TapKind::Sentence, c.nRmc},
            {"GSA", TapKind::Sentence, c.nGsa},
            {"GSV", TapKind::Sentence, c.nGsv},
            {"UBX", TapKind::Ubx, c.nUbx},
            {"RTCM", TapKind::Rtcm, c.nRtcm},
            {"bad", TapKind::BadSentence, c.nBadChecksum},
        };
        for (const auto &row : rows)
            EXPECT_EQ(ConsoleRows(*console, QString::fromLatin1(row.filter), row.kind),
                      static_cast<int>(row.counted))
                << row.filter;
        console->SetFilter(QString());
        const CConsoleModel &model = console->Model();
        EXPECT_EQ(model.rowCount(),
                  static_cast<int>(c.NmeaGood() + c.nBadChecksum + c.nUbx + c.nRtcm));
        const QRegularExpression named(
            QStringLiteral("^(UBX [A-Z0-9]+-[A-Z0-9]+|RTCM [0-9]{4}) ([0-9]+) bytes$"));
        for (int r = 0; r < model.rowCount(); ++r) {
            const auto kind =
                static_cast<TapKind>(model.index(r).data(CConsoleModel::KindRole).toInt());
            const QString text = model.RowText(r);
            if (kind == TapKind::Ubx || kind == TapKind::Rtcm)
                EXPECT_TRUE(named.match(text).hasMatch()) << text.toStdString();
            else
                EXPECT_TRUE(text.startsWith(QLatin1Char('$'))) << text.toStdString();
        }
        // Each view of a line: hex bytes, then named fields.
        const struct {
            CConsoleModel::View view;
            const char *filter;
            const char *pattern;
        } views[] = {
            {CConsoleModel::View::Hex, "UBX", "^b5 62 ([0-9a-f]{2} )+ \\|.*\\|$"},
            {CConsoleModel::View::Hex, "GGA", "^24 ([0-9a-f]{2} )+ \\|\\$G.GGA,.*\\|$"},
            {CConsoleModel::View::Decoded, "GGA",
             "^G.GGA  time=[0-9.]+  lat=.*  quality=[0-9]  sats="},
            {CConsoleModel::View::Decoded, "GSV",
             "^G.GSV  msgs=[0-9]+  msg=[0-9]+  in view=[0-9]+  sv="},
            {CConsoleModel::View::Decoded, "RTCM", "^RTCM [0-9]{4}  payload [0-9]+ bytes"},
            {CConsoleModel::View::Decoded, "UBX",
             "^UBX [A-Z0-9-]+  class 0x[0-9A-F]{2} id 0x[0-9A-F]{2}  payload [0-9]+ bytes$"},
        };
        for (const auto &v : views) {
            console->SetFilter(QString::fromLatin1(v.filter));
            console->SetView(v.view);
            if (model.rowCount() == 0)
                continue;
            EXPECT_TRUE(QRegularExpression(QString::fromLatin1(v.pattern))
                            .match(model.RowText(0))
                            .hasMatch())
                << v.filter << ": " << model.RowText(0).toStdString();
        }
        console->SetView(CConsoleModel::View::Text);
        // Saved: the rows shown, a line each.
        console->SetFilter(QStringLiteral("RTCM"));
        const QString saved = m_dir.filePath(QStringLiteral("console.txt"));
        QString why;
        ASSERT_TRUE(console->SaveTo(saved, why)) << why.toStdString();
        QFile file(saved);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll().count('\n'), static_cast<int>(c.nRtcm));
        // A bad sentence is drawn in another colour than the good ones.
        if (c.nBadChecksum > 0) {
            console->SetFilter(QStringLiteral("bad"));
            const QVariant bad = model.index(0).data(Qt::ForegroundRole);
            console->SetFilter(QStringLiteral("GGA"));
            EXPECT_NE(bad, model.index(0).data(Qt::ForegroundRole));
        }
    }
}

// Ten minutes at 10 Hz, far more lines than the bound: the console keeps the newest 10,000, the
// last of them the recording's last line, and holds no more after another pass.
TEST_F(SessionWindow, ConsoleStaysAtItsBoundOnALongFastStream) {
    const QString path = m_dir.filePath(QStringLiteral("ten-minutes.nmea"));
    ASSERT_TRUE(WriteSimRecording(path, 600, {QStringLiteral("--rate"), QStringLiteral("10")}));
    platform::BindPort(kPort, path.toStdString());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    CConsoleView *console = nullptr;
    ReplayIntoConsole(dlg, menu, console);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_GT(dlg.m_port.Tap().Added(), 5 * CStreamTap::kCapacity);
    EXPECT_EQ(dlg.m_port.Tap().Size(), CStreamTap::kCapacity);
    EXPECT_EQ(console->Model().Held(), CStreamTap::kCapacity);
    EXPECT_EQ(console->Model().rowCount(), static_cast<int>(CStreamTap::kCapacity));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    EXPECT_EQ(console->Model().RowText(console->Model().rowCount() - 1),
              QString::fromLatin1(lines.back().trimmed()));
    dlg.m_port.Replay()->JumpTo(0.0);
    ReplayIntoConsole(dlg, menu, console);
    EXPECT_EQ(console->Model().Held(), CStreamTap::kCapacity);
}

// A command typed into the console reaches the simulated receiver, which answers it; a replay
// cannot be written and the console says so.
TEST_F(SessionWindow, ConsoleCommandReachesTheSimulator) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    const struct {
        std::vector<std::string> sim;
        const char *typed;
        const char *sentLine; // the console's line for it, marked sent
        const char *answer;   // a line the receiver answers with
    } rows[] = {
        {{"--chip", "ublox", "--baud", "115200"},
         "06 08 c8 00 01 00 01 00",
         ">> UBX CFG-RATE 14 bytes",
         "UBX ACK-ACK 10 bytes"},
        {{"--chip", "mtk", "--baud", "115200"},
         "$PMTK220,200*00",
         ">> $PMTK220,200*2C",
         "$PMTK001,220,3"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.typed);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(row.sim));
        platform::BindPort(kPort, sim.SlavePath());
        CStatusDlg dlg;
        dlg.OnInitDialog();
        CSessionMenu menu(dlg);
        CConsoleView *console = menu.OpenConsole();
        ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.CopyCounters().Heard() > 0; }, 5000));
        const QString said = console->SendCommand(QString::fromLatin1(row.typed));
        EXPECT_TRUE(said.startsWith(QStringLiteral("sent "))) << said.toStdString();
        const auto shows = [&](const char *text) {
            const CConsoleModel &model = console->Model();
            for (int r = 0; r < model.rowCount(); ++r)
                if (model.RowText(r).startsWith(QString::fromLatin1(text)))
                    return true;
            return false;
        };
        EXPECT_TRUE(shows(row.sentLine));
        // The answer stops the console: it is the last line shown while more come.
        console->SetStopOn(QString::fromLatin1(row.answer));
        EXPECT_TRUE(PumpUntil([&] { return console->Paused(); }, 5000));
        const int shown = console->Model().rowCount();
        ASSERT_GT(shown, 0);
        EXPECT_TRUE(
            console->Model().RowText(shown - 1).startsWith(QString::fromLatin1(row.answer)));
        const std::uint64_t added = dlg.m_port.Tap().Added();
        PumpUntil([&] { return dlg.m_port.Tap().Added() > added + 5; }, 3000);
        EXPECT_EQ(console->Model().rowCount(), shown);
        console->SetPaused(false);
        EXPECT_GT(console->Model().rowCount(), shown);
    }
    platform::BindPort(kPort, SKYWATCH_NMEA_DIR "/telit-he910.log");
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CSessionMenu menu(dlg);
    const QString said = menu.OpenConsole()->SendCommand(QStringLiteral("$PMTK220,200"));
    EXPECT_TRUE(said.startsWith(QStringLiteral("not sent: "))) << said.toStdString();
}

} // namespace

namespace {

// The receiver settings dialog, opened by its key: what the receiver does read back, only its
// family's choices offered, Apply confirmed by what it then does and the window's baud list
// following the port, Re-set held back meanwhile; a replay offers nothing and says why.
TEST_F(SessionWindow, ReceiverSettingsReadApplyAndFollowTheBaud) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    const struct {
        const char *name;
        std::vector<std::string> sim; // none: a replay
        const char *family;
        const char *nowBefore, *nowAfter; // the "Now" line starts with
        int rateHz, baud;                 // picked
        QStringList results;
        const char *status; // the status line holds this before Apply
    } rows[] = {
        {"MediaTek at 4800 baud",
         {"--chip", "mtk", "--baud", "4800", "--gnss", "gps"},
         "MediaTek",
         "rate 1.0 Hz, ",
         "rate 5.0 Hz, ",
         5,
         115200,
         {"baud 115200: confirmed", "rate 5 Hz: confirmed"},
         ""},
        {"a replay", {}, "", "-", "-", 0, 0, {}, "cannot be changed: a replay takes no commands"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CSimProcess sim;
        if (!row.sim.empty()) {
            ASSERT_TRUE(sim.Start(row.sim)) << sim.Errors();
        }
        platform::BindPort(kPort, row.sim.empty()
                                      ? std::string(SKYWATCH_NMEA_DIR "/telit-he910.log")
                                      : sim.SlavePath());
        const auto window = std::make_unique<CStatusDlg>();
        CStatusDlg &dlg = *window;
        dlg.OnInitDialog();
        CSessionMenu menu(dlg);
        dlg.show();
        const QList<QAction *> actions = dlg.actions();
        const auto key = std::find_if(actions.begin(), actions.end(), [](QAction *a) {
            return a->shortcut() == QKeySequence(QStringLiteral("Ctrl+,"));
        });
        ASSERT_NE(key, actions.end());
        (*key)->trigger();
        CReceiverSettingsDialog *settings = menu.ReceiverSettings();
        ASSERT_NE(settings, nullptr);
        const auto child = [&](const char *name) {
            return settings->findChild<QWidget *>(QString::fromLatin1(name));
        };
        const auto text = [&](const char *name) {
            return static_cast<QLabel *>(child(name))->text();
        };
        auto *results = settings->findChild<QListWidget *>(QStringLiteral("results"));
        ASSERT_TRUE(PumpUntil([&] { return !settings->Busy(); }, 8000));
        EXPECT_TRUE(text("current").startsWith(QLatin1String(row.nowBefore)))
            << text("current").toStdString();
        EXPECT_TRUE(text("status").contains(QLatin1String(row.status)))
            << text("status").toStdString();
        if (row.sim.empty()) {
            for (const char *name : {"rate", "gnss", "baud", "apply", "save"})
                EXPECT_FALSE(child(name)->isEnabled()) << name;
            continue;
        }
        EXPECT_EQ(text("family"), QLatin1String(row.family));
        EXPECT_TRUE(text("current").endsWith(QStringLiteral(", 4800 baud")))
            << text("current").toStdString();
        // GPS cannot be switched off; this family keeps its settings without a save.
        EXPECT_FALSE(child("GPS")->isEnabled());
        EXPECT_FALSE(child("save")->isEnabled());
        EXPECT_TRUE(child("save")->toolTip().contains(QStringLiteral("without a save")));
        auto *rate = static_cast<QComboBox *>(child("rate"));
        auto *baud = static_cast<QComboBox *>(child("baud"));
        rate->setCurrentIndex(rate->findData(row.rateHz));
        baud->setCurrentIndex(baud->findData(row.baud));
        static_cast<QPushButton *>(child("apply"))->click();
        ASSERT_TRUE(settings->Busy());
        EXPECT_EQ(text("status"), QStringLiteral("Applying..."));
        EXPECT_FALSE(dlg.GetDlgItem(ctl::kResetButton)->isEnabled());
        dlg.OnResetButton();
        EXPECT_TRUE(ShownText(dlg, ctl::kPortStatus).startsWith(QStringLiteral("Re-set waits: ")));
        ASSERT_TRUE(PumpUntil([&] { return !settings->Busy(); }, 20000)) << sim.Errors();
        QStringList lines;
        for (int i = 0; i < results->count(); ++i) {
            lines << results->item(i)->text();
            const QColor c = results->item(i)->foreground().color();
            EXPECT_GT(lines.back().endsWith(QStringLiteral(": confirmed")) ? c.green() : c.red(),
                      100)
                << lines.back().toStdString();
        }
        EXPECT_EQ(lines, row.results) << sim.Errors();
        EXPECT_TRUE(text("current").startsWith(QLatin1String(row.nowAfter)))
            << text("current").toStdString();
        EXPECT_TRUE(dlg.GetDlgItem(ctl::kResetButton)->isEnabled());
        EXPECT_EQ(ShownText(dlg, ctl::kBaudList), QString::number(row.baud));
        EXPECT_EQ(dlg.m_port.m_nBaud, row.baud);
    }
}

} // namespace

namespace {

// Two simulated receivers under one sky, the second hearing everything 3 dB weaker: the
// comparison window pairs their signals and finds 3 dB on every system and band, and its
// plot rings B's satellites over A's marks.
TEST_F(SessionWindow, CompareWindowFindsTheWeakerTwinsDifference) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    CSimProcess a, b;
    ASSERT_TRUE(a.Start({"--bands", "2", "--seed", "7"})) << a.Errors();
    ASSERT_TRUE(b.Start({"--bands", "2", "--seed", "7", "--cn0-offset", "3"})) << b.Errors();
    platform::BindPort(kPort, a.SlavePath());
    platform::BindPort(CCompareView::kPortB, b.SlavePath());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    CCompareView view(dlg.m_port, QStringLiteral("A"), QStringLiteral("B"), 38400, &dlg);
    view.show();
    // Every system compared; a band may have no satellite both hear for a while, where the
    // twin loses the weakest under its floor.
    const auto systems = [&] {
        std::set<Gnss> seen;
        for (const display::BandDifference &d : view.Differences())
            seen.insert(d.gnss);
        return seen.size();
    };
    ASSERT_TRUE(PumpUntil(
        [&] {
            view.Refresh();
            return systems() == 4;
        },
        8000))
        << view.DifferencesText().toStdString() << b.Errors();
    for (const display::BandDifference &d : view.Differences())
        EXPECT_NEAR(d.median, 3.0, 0.5) << GnssName(d.gnss) << " " << d.band.toStdString();
    EXPECT_EQ(view.Model().rowCount(), static_cast<int>(view.Pairs().size()));
    EXPECT_TRUE(view.DifferencesText().startsWith(QStringLiteral("A less B, median")))
        << view.DifferencesText().toStdString();
    const QImage shot = view.grab().toImage();
    EXPECT_GT(CountColour(shot, shot.rect(), QColor(0xd0, 0x60, 0x00)), 100) << "B's rings";
}

} // namespace
