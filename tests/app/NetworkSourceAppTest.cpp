#include "AppTestSupport.h"
#include "CommandLine.h"
#include "ControlIds.h"
#include "LinkTestSupport.h"
#include "NmeaDecoder.h"
#include "PortTable.h"
#include "StatusDlg.h"
#include "TimeZone.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <vector>

namespace {

const std::string kSample = SKYWATCH_SOURCE_DIR "/res/sample.nmea";

// Every record a reader shows after each line of the sample log looped three times, from the
// second loop on: what a window that joined the looping stream anywhere shows once a loop passed.
std::vector<GpsFix> SteadyRecords() {
    std::ifstream in(kSample, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(line + "\n");
    CNmeaDecoder port(platform::StandardBiasSeconds());
    std::vector<GpsFix> records;
    for (int pass = 0; pass < 3; ++pass) {
        for (const std::string &line : lines) {
            port.ParseBuffer(line.data(), static_cast<int>(line.size()));
            GpsFix fix{};
            port.CopyFix(fix);
            if (pass > 0)
                records.push_back(fix);
        }
    }
    return records;
}

void PickAndReset(CStatusDlg &dlg, int nPort, int nReset) {
    static_cast<QComboBox *>(dlg.GetDlgItem(ctl::kPortList))->setCurrentIndex(nPort);
    static_cast<QComboBox *>(dlg.GetDlgItem(ctl::kResetList))->setCurrentIndex(nReset);
    static_cast<QAbstractButton *>(dlg.GetDlgItem(ctl::kResetButton))->click();
}

class NetworkWindowTest : public AppTest {
protected:
    void TearDown() override {
        ::unsetenv("GPSD_SOCKET");
        platform::UnbindAllPorts();
    }
};

} // namespace

TEST_F(NetworkWindowTest, WindowThroughGpsdShowsWhatTheLogSays) {
    if (!CSimProcess::Built() || CGpsd::BinaryPath().empty())
        GTEST_SKIP() << "needs skywatch-sim in the build tree and Debian's gpsd";
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--replay", kSample, "--baud", "9600", "--rate", "2"}));
    CGpsd gpsd;
    ASSERT_TRUE(gpsd.Start(sim.SlavePath()));
    platform::BindPort(4, gpsd.Url());
    CStatusDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    ASSERT_EQ(dlg.m_port.m_nPort, 4) << dlg.m_port.LastOpenMessage();
    // A loop of the log takes 1.5 s; after three the snapshot must be one the log gives.
    PumpUntil([] { return false; }, 4500);
    const std::vector<GpsFix> steady = SteadyRecords();
    bool found = false;
    for (const GpsFix &f : steady)
        found = found || std::memcmp(&f, &dlg.m_curFix, sizeof f) == 0;
    EXPECT_TRUE(found);
    EXPECT_EQ(dlg.m_curFix.bValid, 1);

    dlg.UpdateToolTips();
    auto *list = qobject_cast<QComboBox *>(dlg.GetDlgItem(ctl::kPortList));
    EXPECT_TRUE(list->itemData(3, Qt::ToolTipRole).toString().contains(QStringLiteral("gpsd")));
    EXPECT_TRUE(dlg.GetDlgItem(ctl::kBaudList)->toolTip().replace('\n', ' ').contains("no effect"));
}

TEST_F(NetworkWindowTest, UnreachableAddressesShowTheFailureBoxWithTheReason) {
    platform::BindPort(1, "tcp://127.0.0.1:" + std::to_string(FreePort(SOCK_STREAM)));
    platform::BindPort(2, "tcp://no-such-host.invalid:5000");
    CStatusDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    QStringList details;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (box && box->isVisible()) {
                details << box->informativeText();
                box->button(QMessageBox::Ok)->click();
            }
        }
    });
    closer.start(20);
    PickAndReset(dlg, 0, 3);
    PickAndReset(dlg, 1, 3);
    ASSERT_EQ(details.size(), 2);
    EXPECT_TRUE(details[0].contains(QStringLiteral("Connection refused")))
        << details[0].toStdString();
    EXPECT_TRUE(details[1].contains(QStringLiteral("not found"))) << details[1].toStdString();
}

TEST_F(NetworkWindowTest, CommandThatCannotGoSaysSoInTheCaption) {
    platform::BindPort(3, "udp://127.0.0.1:" + std::to_string(FreePort(SOCK_DGRAM)));
    CStatusDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    PickAndReset(dlg, 2, 3);
    ASSERT_EQ(dlg.m_port.m_nPort, 3);
    PickAndReset(dlg, 2, 0);
    EXPECT_TRUE(dlg.windowTitle().contains(QStringLiteral("UDP")))
        << dlg.windowTitle().toStdString();
    // Closing sends nothing, so nothing failed.
    PickAndReset(dlg, 4, 3);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Skywatch - port closed"));
}
