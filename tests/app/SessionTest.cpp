// The session's history in the window: recording from it, on a real pseudo-terminal.
#include "AppTestSupport.h"
#include "ControlIds.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "ScatterView.h"
#include "SessionMenu.h"
#include "StatusDlg.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
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
