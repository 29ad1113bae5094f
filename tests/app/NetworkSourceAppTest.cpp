#include "AppTestSupport.h"
#include "CommandLine.h"
#include "ControlIds.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "StatusDlg.h"
#include "TestPaths.h"
#include "TimeZone.h"
#include "model/NmeaDecoder.h"

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

const std::string kSample = SourceDir() + "/res/sample.nmea";

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
    PickAndReset(dlg, 1, 3);
    ASSERT_EQ(details.size(), 1);
    EXPECT_TRUE(details[0].contains(QStringLiteral("not found"))) << details[0].toStdString();
    // A peer that refuses is down, not wrong: the port stays on it and retries.
    PickAndReset(dlg, 0, 3);
    EXPECT_EQ(details.size(), 1);
    EXPECT_EQ(dlg.m_port.m_nPort, 1);
    EXPECT_TRUE(PumpUntil(
        [&] {
            return dlg.windowTitle().startsWith(
                       QStringLiteral("Skywatch - source down, retrying; cannot reach tcp://")) &&
                   dlg.windowTitle().endsWith(QStringLiteral("Connection refused"));
        },
        1500))
        << dlg.windowTitle().toStdString();
}

TEST_F(NetworkWindowTest, CommandThatCannotGoSaysSoInTheCaption) {
    platform::BindPort(3, "udp://127.0.0.1:" + std::to_string(FreePort(SOCK_DGRAM)));
    CStatusDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    PickAndReset(dlg, 2, 3);
    ASSERT_EQ(dlg.m_port.m_nPort, 3);
    PickAndReset(dlg, 2, 0);
    EXPECT_TRUE(dlg.windowTitle().contains(QStringLiteral("cold start not sent: ")) &&
                dlg.windowTitle().contains(QStringLiteral("UDP")))
        << dlg.windowTitle().toStdString();
    EXPECT_FALSE(dlg.m_port.Stopwatch().Running());
    // Closing sends nothing, so nothing failed.
    PickAndReset(dlg, 4, 3);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Skywatch - port closed"));
}

// A running receiver has printed its banner long ago: Re-set asks it, and the restart goes out in
// the language of the family that answered; one that answers none gets the SiRF form.
TEST_F(NetworkWindowTest, RunningReceiverIsAskedItsFamilyBeforeTheRestart) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the skywatch-sim simulator in the build tree";
    const struct {
        const char *chip;
        const char *received;
    } rows[] = {{"ublox", "received cold start: UBX-CFG-RST navBbrMask 0xFFFF"},
                {"mtk", "received cold start: $PMTK103*30"},
                {"casic", "received cold start: $PCAS10,2*1E"},
                {"st", "received cold start: $PSTMCOLD*1E"},
                {"sirf", "received cold start: $PSRF104,"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.chip);
        CSimProcess sim;
        ASSERT_TRUE(
            sim.Start({"--running", "--chip", row.chip, "--baud", "115200", "--rate", "5"}));
        platform::BindPort(4, sim.SlavePath());
        CStatusDlg dlg;
        ASSERT_TRUE(dlg.OnInitDialog());
        ASSERT_EQ(dlg.m_port.m_nPort, 4);
        ASSERT_TRUE(PumpUntil([&] { return dlg.m_port.CopyCounters().Decoded() > 0; }, 2000));
        EXPECT_EQ(dlg.m_port.Family(), ReceiverFamily::Unknown);
        PickAndReset(dlg, 3, 0);
        EXPECT_TRUE(
            PumpUntil([&] { return sim.Errors().find(row.received) != std::string::npos; }, 2500))
            << sim.Errors();
        EXPECT_TRUE(dlg.m_port.Stopwatch().Running());
    }
}
