// The session's history in the window: recording from it, on a real pseudo-terminal.
#include "AppTestSupport.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "SessionMenu.h"
#include "StatusDlg.h"

#include <QAction>
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
    EXPECT_EQ(menu.RecordAction()->text(), QStringLiteral("Start recording..."));
    const std::uint32_t decoded = dlg.m_port.CopyCounters().Decoded();
    EXPECT_TRUE(TalkUntil([&] { return dlg.m_port.CopyCounters().Decoded() > decoded; }, 3000));
}

} // namespace
