#include "AppTestSupport.h"
#include "BaudRates.h"
#include "ControlIds.h"
#include "LinkTestSupport.h"
#include "LiveCaption.h"
#include "OpenFailure.h"
#include "PortTable.h"
#include "SerialPort.h"
#include "SkyView.h"
#include "StatusDlg.h"
#include "StatusDlgTemplate.h"
#include "receiver/RestartCommands.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr const char *kMissingDevice = "/nonexistent/skywatch-no-such-tty";
const int kFullIds[] = {
    ctl::kLongitudeLabel, ctl::kLatitudeLabel, ctl::kDirectionLabel, ctl::kSpeedLabel,
    ctl::kHdopLabel,      ctl::kPdopLabel,     ctl::kAltitudeLabel,  ctl::kValidity,
    ctl::kLongitude,      ctl::kLatitude,      ctl::kCourse,         ctl::kSpeed,
    ctl::kHdop,           ctl::kPdop,          ctl::kAltitude,       ctl::kFixMode};
const int kCompactIds[] = {ctl::kCompactLongitudeLabel, ctl::kCompactLatitudeLabel,
                           ctl::kCompactPdopLabel,      ctl::kCompactValidity,
                           ctl::kCompactLongitude,      ctl::kCompactLatitude,
                           ctl::kCompactPdop,           ctl::kCompactFixMode};
// Value controls the text pass writes: date, time, and those of both layouts.
const int kValueIds[] = {ctl::kDate,
                         ctl::kTime,
                         ctl::kLongitude,
                         ctl::kLatitude,
                         ctl::kCourse,
                         ctl::kHdop,
                         ctl::kAltitude,
                         ctl::kSpeed,
                         ctl::kPdop,
                         ctl::kFixMode,
                         ctl::kValidity,
                         ctl::kCompactLongitude,
                         ctl::kCompactLatitude,
                         ctl::kCompactPdop,
                         ctl::kCompactFixMode};
const int kSharedIds[] = {ctl::kToggleView, ctl::kResetButton, ctl::kPortList, ctl::kBaudList,
                          ctl::kResetList,  ctl::kPortStatus,  ctl::kDate,     ctl::kTime};
const QColor kUsed(64, 138, 94);

// A receiver with a 3D fix and four satellites in view; three are used.
std::string FixBurst() {
    return Sentence("$GPRMC,120000,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
           Sentence("$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
           Sentence("$GPGSA,A,3,04,05,12,,,,,,,,,,2.5,1.3,2.1") +
           Sentence("$GPGSV,1,1,04,04,45,045,40,05,30,120,35,09,60,200,00,12,10,300,25");
}

bool AllZero(const GpsFix &f) {
    static const GpsFix zero{};
    return std::memcmp(&f, &zero, sizeof f) == 0;
}

QString Text(const CStatusDlg &dlg, int id) {
    QWidget *w = dlg.GetDlgItem(id);
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *list = qobject_cast<QComboBox *>(w))
        return list->currentText();
    return {};
}

QMap<int, QString> ValueTexts(const CStatusDlg &dlg) {
    QMap<int, QString> texts;
    for (int id : kValueIds)
        texts.insert(id, Text(dlg, id));
    return texts;
}

// What the user picks in the three lists, then "Re-set".
void PickAndReset(CStatusDlg &dlg, int nPort, int nBaud, int nReset) {
    static_cast<QComboBox *>(dlg.GetDlgItem(ctl::kPortList))->setCurrentIndex(nPort);
    static_cast<QComboBox *>(dlg.GetDlgItem(ctl::kBaudList))->setCurrentIndex(nBaud);
    static_cast<QComboBox *>(dlg.GetDlgItem(ctl::kResetList))->setCurrentIndex(nReset);
    static_cast<QAbstractButton *>(dlg.GetDlgItem(ctl::kResetButton))->click();
}

// What Re-set wrote to a receiver that has not named itself: the family queries, then after a
// second without an answer the restart. Returns what followed the queries; pumps the events
// the wait runs on.
std::string SentAfterQueries(CPtyPair &pty, std::size_t want) {
    const std::string queries = ComposeFamilyQueries();
    std::string got;
    PumpUntil(
        [&] {
            got += pty.Read(4096, std::chrono::milliseconds(10));
            return got.size() >= queries.size() + want;
        },
        2500);
    if (got.rfind(queries, 0) != 0)
        return "no queries first: " + got;
    return got.substr(queries.size());
}

// The dialog's own drawing, without its child controls.
QImage OwnPaint(CStatusDlg &dlg) {
    QImage img(dlg.size(), QImage::Format_RGB32);
    img.fill(Qt::gray);
    dlg.render(&img, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return img;
}

class ResetTest : public AppTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_com4.Valid() && m_com3.Valid());
        platform::BindPort(4, m_com4.SlavePath());
        platform::BindPort(3, m_com3.SlavePath());
        platform::BindPort(1, kMissingDevice);
        m_dlg = std::make_unique<CStatusDlg>();
        ASSERT_TRUE(m_dlg->OnInitDialog());
        m_dlg->show();
        ASSERT_EQ(m_dlg->m_port.m_nPort, 4);
    }
    void TearDown() override {
        m_dlg.reset();
        platform::UnbindAllPorts();
    }
    // Lets the opening zoom finish and a tick or two pass.
    void Settle(int ms = 400) {
        PumpUntil([] { return false; }, ms);
    }

    CPtyPair m_com4;
    CPtyPair m_com3;
    std::unique_ptr<CStatusDlg> m_dlg;
};

} // namespace

TEST(BaudRatesTest, EveryEntryOpensAtItsOwnRateAndMapsBack) {
    const auto list = std::ranges::find(res::kStatusDlgLists, ctl::kBaudList, &dlg::List::id);
    ASSERT_NE(list, res::kStatusDlgLists.end());
    ASSERT_EQ(static_cast<int>(list->entries.size()), kBaudEntries);
    for (int i = 0; i < kBaudEntries; ++i) {
        // The rate the entry's text names, as the user reads it.
        const int rate = std::atoi(list->entries[static_cast<std::size_t>(i)]);
        EXPECT_EQ(BaudRateForIndex(i), rate) << "entry " << i;
        EXPECT_EQ(BaudIndexForRate(rate), i) << "rate " << rate;
        EXPECT_TRUE(platform::CSerialPort::IsSupportedBaud(rate)) << rate;
    }
    EXPECT_EQ(BaudIndexForRate(300), 0);
    EXPECT_EQ(BaudIndexForRate(76800), 6);
    EXPECT_EQ(BaudIndexForRate(230400), 7);
    EXPECT_EQ(BaudRateForIndex(-1), 4800);
    EXPECT_EQ(BaudRateForIndex(kBaudEntries), 4800);
    EXPECT_FALSE(platform::CSerialPort::IsSupportedBaud(230400));
}

TEST(OpenFailureTest, NamesTheDeviceTheReasonAndWhatToDo) {
    const struct {
        int err;
        const char *hint;
    } rows[] = {{EACCES, "dialout"},        {EBUSY, "ModemManager"},   {ENOENT, "not plugged in"},
                {ENODEV, "not plugged in"}, {ENXIO, "not plugged in"}, {EIO, ""}};
    for (const auto &row : rows) {
        const QString text = OpenFailureDetail(row.err, QStringLiteral("/dev/ttyUSB0"));
        EXPECT_TRUE(text.startsWith(QStringLiteral("/dev/ttyUSB0: "))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(row.err))))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromLatin1(row.hint))) << text.toStdString();
    }
    EXPECT_EQ(OpenFailureDetail(0, QStringLiteral("/dev/x")), QStringLiteral("/dev/x"));
    // gpsd is named only when it really holds the device.
    const QString busy = OpenFailureDetail(EBUSY, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_FALSE(busy.contains(QStringLiteral("gpsd"))) << busy.toStdString();
    const QString held =
        OpenFailureDetail(EBUSY, QStringLiteral("/dev/ttyUSB0"), QStringLiteral("refused"), true);
    EXPECT_TRUE(held.contains(QStringLiteral("gpsd holds it"))) << held.toStdString();
    // Refused before it was opened.
    EXPECT_TRUE(OpenFailureDetail(ENOTTY, QStringLiteral("/dev/watchdog"))
                    .startsWith(QStringLiteral("/dev/watchdog is not a serial port.")));
}

TEST_F(ResetTest, UnchangedPortWithColdStartKeepsTheReaderAndSendsTheLine) {
    Settle();
    const int hPort = m_dlg->m_port.m_hPort;
    const int hThread = m_dlg->m_port.m_hThread;
    PickAndReset(*m_dlg, 3, 2, 0);

    EXPECT_EQ(m_dlg->m_port.m_hPort, hPort);
    EXPECT_EQ(m_dlg->m_port.m_hThread, hThread);
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM4 is on"));
    char line[kSentenceBufferSize];
    const std::string want = ComposeColdStart(line);
    ASSERT_EQ(want.size(), 41u);
    EXPECT_EQ(SentAfterQueries(m_com4, want.size()), want) << m_dlg->windowTitle().toStdString();
    GpsFix live{};
    m_dlg->m_port.CopyFix(live);
    EXPECT_TRUE(AllZero(m_dlg->m_curFix));
    EXPECT_TRUE(AllZero(m_dlg->m_prevFix));
    EXPECT_TRUE(AllZero(live));
    EXPECT_EQ(m_dlg->m_redrawAll, 0);
}

TEST_F(ResetTest, WarmAndHotStartGoOutOnTheOpenPort) {
    char line[kSentenceBufferSize];
    PickAndReset(*m_dlg, 3, 2, 1);
    const std::string warm = ComposeWarmStart(line);
    EXPECT_EQ(SentAfterQueries(m_com4, warm.size()), warm);
    PickAndReset(*m_dlg, 3, 2, 2);
    const std::string hot = ComposeHotStart(line);
    EXPECT_EQ(SentAfterQueries(m_com4, hot.size()), hot);
}

TEST_F(ResetTest, DefaultReopensAndSendsNothing) {
    const int hThread = m_dlg->m_port.m_hThread;
    PickAndReset(*m_dlg, 3, 2, 3);
    EXPECT_EQ(m_dlg->m_port.m_nPort, 4);
    EXPECT_NE(m_dlg->m_port.m_hThread, hThread);
    EXPECT_NE(m_dlg->m_port.m_hThread, -1);
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM4 is on"));
    EXPECT_EQ(m_com4.Read(1, 300ms), "");
}

TEST_F(ResetTest, AnotherPortAndRateMovesTheConnection) {
    PickAndReset(*m_dlg, 2, 3, 0);
    EXPECT_EQ(m_dlg->m_port.m_nPort, 3);
    EXPECT_EQ(m_dlg->m_port.m_nBaud, 9600);
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM3 is on"));
    EXPECT_EQ(Text(*m_dlg, ctl::kPortList), QStringLiteral("COM3"));
    EXPECT_EQ(Text(*m_dlg, ctl::kBaudList), QStringLiteral("9600"));
    char line[kSentenceBufferSize];
    const std::string cold = ComposeColdStart(line);
    EXPECT_EQ(SentAfterQueries(m_com3, cold.size()), cold);
    EXPECT_EQ(m_com4.Read(1, 100ms), "");
}

TEST_F(ResetTest, EveryBaudEntryOpensAtTheRateItNames) {
    auto *list = static_cast<QComboBox *>(m_dlg->GetDlgItem(ctl::kBaudList));
    ASSERT_EQ(list->count(), kBaudEntries);
    for (int i = 0; i < kBaudEntries; ++i) {
        PickAndReset(*m_dlg, 2, i, 3);
        EXPECT_EQ(m_dlg->m_port.m_nBaud, list->itemText(i).toInt()) << "entry " << i;
        EXPECT_EQ(Text(*m_dlg, ctl::kBaudList), list->itemText(i));
    }
    // The same entry once more is no change: the port stays as it is.
    const int hThread = m_dlg->m_port.m_hThread;
    PickAndReset(*m_dlg, 2, kBaudEntries - 1, 0);
    EXPECT_EQ(m_dlg->m_port.m_hThread, hThread);
}

TEST_F(ResetTest, CloseClosesAndWritesNothingTwice) {
    for (int press = 0; press < 2; ++press) {
        PickAndReset(*m_dlg, 4, 5, 0);
        EXPECT_EQ(m_dlg->m_port.m_nPort, -1) << "press " << press;
        EXPECT_EQ(m_dlg->m_port.m_hThread, -1);
        EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM is off"));
        EXPECT_EQ(Text(*m_dlg, ctl::kPortList), QStringLiteral("COM2"));
        EXPECT_EQ(Text(*m_dlg, ctl::kBaudList), QStringLiteral("4800"));
        EXPECT_EQ(Text(*m_dlg, ctl::kResetList), QStringLiteral("Cold Start"));
        EXPECT_TRUE(AllZero(m_dlg->m_curFix));
    }
    EXPECT_EQ(m_com4.Read(1, 300ms), "");
}

TEST_F(ResetTest, FailedOpenShowsOneBoxPerPressAndKeepsTheChoice) {
    struct Seen {
        QString text, caption, detail;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };
    std::vector<Seen> seen;
    QMessageBox *current = nullptr;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible() || box == current)
                continue;
            current = box;
            seen.push_back({box->text(), box->windowTitle(), box->informativeText(), box->icon(),
                            box->standardButtons()});
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(20);

    for (int press = 1; press <= 2; ++press) {
        PickAndReset(*m_dlg, 0, 3, 0);
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(press));
        current = nullptr;
        EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM is off"));
        EXPECT_EQ(Text(*m_dlg, ctl::kPortList), QStringLiteral("COM1"));
        EXPECT_EQ(Text(*m_dlg, ctl::kBaudList), QStringLiteral("9600"));
        EXPECT_EQ(m_dlg->m_port.m_nPort, -1);
        EXPECT_TRUE(AllZero(m_dlg->m_curFix));
        EXPECT_EQ(m_dlg->windowTitle(),
                  QStringLiteral("Skywatch - no receiver: %1 not found").arg(kMissingDevice));
    }
    for (const Seen &s : seen) {
        EXPECT_EQ(s.text, QStringLiteral("Can't start COM Port !\n Please Re-set !!"));
        EXPECT_EQ(s.caption, QStringLiteral("CPS Setting"));
        EXPECT_EQ(s.icon, QMessageBox::Critical);
        EXPECT_EQ(s.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        EXPECT_TRUE(s.detail.contains(QString::fromLatin1(kMissingDevice)))
            << s.detail.toStdString();
        EXPECT_TRUE(s.detail.contains(QStringLiteral("not plugged in"))) << s.detail.toStdString();
    }
    // Nothing was written anywhere: the old port closed before the failed opening.
    EXPECT_EQ(m_com4.Read(1, 200ms), "");
}

TEST_F(ResetTest, AfterReSetEveryTextShowsTheEmptyRecord) {
    Settle();
    const QMap<int, QString> empty = ValueTexts(*m_dlg);
    const std::string burst = FixBurst();
    ASSERT_TRUE(PumpUntil([&] { return Text(*m_dlg, ctl::kLatitude) != empty[ctl::kLatitude]; },
                          4000, [&] { m_com4.Write(burst); }));
    ASSERT_TRUE(
        PumpUntil([&] { return Text(*m_dlg, ctl::kFixMode) != empty[ctl::kFixMode]; }, 3000));
    // Let what was sent be read before the press.
    Settle(300);

    PickAndReset(*m_dlg, 3, 2, 0);
    // The validity says "No data" until a sentence comes, "-" after one that set nothing.
    const auto same = [&](QMap<int, QString> texts) {
        if (texts[ctl::kValidity] == QString::fromLatin1(display::kNotSentText))
            texts[ctl::kValidity] = empty[ctl::kValidity];
        return texts;
    };
    EXPECT_TRUE(PumpUntil([&] { return same(ValueTexts(*m_dlg)) == empty; }, 2500));
    const QMap<int, QString> now = same(ValueTexts(*m_dlg));
    for (int id : kValueIds)
        EXPECT_EQ(now[id], empty[id]) << "control " << id;
    EXPECT_EQ(m_dlg->m_redrawAll, 0);
}

TEST_F(ResetTest, ToggleTwiceReturnsAndWritesEachLayout) {
    Settle();
    const std::string burst = FixBurst();
    const QString templateLon = Text(*m_dlg, ctl::kCompactLongitude);
    ASSERT_TRUE(PumpUntil(
        [&] {
            return Text(*m_dlg, ctl::kFixMode).contains(QStringLiteral("3D")) ||
                   Text(*m_dlg, ctl::kLatitude).contains(QStringLiteral("48"));
        },
        4000, [&] { m_com4.Write(burst); }));
    Settle(1200);
    const QMap<int, QString> full = ValueTexts(*m_dlg);
    EXPECT_EQ(Text(*m_dlg, ctl::kCompactLongitude), templateLon)
        << "compact controls are not written while hidden";

    // Marks in the controls of the layout about to be shown: the switch must overwrite them.
    for (int id :
         {ctl::kCompactLongitude, ctl::kCompactLatitude, ctl::kCompactPdop, ctl::kCompactFixMode})
        static_cast<QLabel *>(m_dlg->GetDlgItem(id))->setText(QStringLiteral("stale"));
    static_cast<QAbstractButton *>(m_dlg->GetDlgItem(ctl::kToggleView))->click();
    EXPECT_EQ(m_dlg->m_viewMode, kViewCompact);
    for (int id : kFullIds)
        EXPECT_FALSE(m_dlg->GetDlgItem(id)->isVisible()) << id;
    for (int id : kCompactIds)
        EXPECT_TRUE(m_dlg->GetDlgItem(id)->isVisible()) << id;
    for (int id : kSharedIds)
        EXPECT_TRUE(m_dlg->GetDlgItem(id)->isVisible()) << id;
    EXPECT_TRUE(PumpUntil(
        [&] {
            return Text(*m_dlg, ctl::kCompactFixMode) != QStringLiteral("stale") &&
                   Text(*m_dlg, ctl::kCompactLongitude) != QStringLiteral("stale");
        },
        1500));
    for (int id :
         {ctl::kCompactLongitude, ctl::kCompactLatitude, ctl::kCompactPdop, ctl::kCompactFixMode})
        EXPECT_NE(Text(*m_dlg, id), QStringLiteral("stale")) << id;
    EXPECT_EQ(Text(*m_dlg, ctl::kCompactLongitude), full[ctl::kLongitude]);
    EXPECT_EQ(Text(*m_dlg, ctl::kCompactLatitude), full[ctl::kLatitude]);

    // The strip from y = 203: twelve black boxes, and a used satellite's bar above its box.
    Settle(300);
    QImage compact = OwnPaint(*m_dlg);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(QColor(compact.pixel(20 * i + 16, 266)), QColor(Qt::black)) << "box " << i;
    EXPECT_EQ(QColor(compact.pixel(10, 230)), kUsed) << "PRN 4, SNR 40";
    EXPECT_EQ(QColor(compact.pixel(30, 240)), kUsed) << "PRN 5, SNR 35";
    EXPECT_EQ(QColor(compact.pixel(50, 240)), QColor(Qt::white)) << "PRN 9 without signal";
    EXPECT_EQ(QColor(compact.pixel(70, 245)), kUsed) << "PRN 12, SNR 25";
    EXPECT_EQ(QColor(compact.pixel(70, 220)), QColor(Qt::white)) << "above the SNR 25 bar";

    for (int id : {ctl::kLongitude, ctl::kLatitude, ctl::kCourse, ctl::kHdop, ctl::kAltitude,
                   ctl::kSpeed, ctl::kPdop, ctl::kFixMode, ctl::kValidity})
        static_cast<QLabel *>(m_dlg->GetDlgItem(id))->setText(QStringLiteral("stale"));
    static_cast<QAbstractButton *>(m_dlg->GetDlgItem(ctl::kToggleView))->click();
    EXPECT_EQ(m_dlg->m_viewMode, kViewFull);
    for (int id : kFullIds)
        EXPECT_TRUE(m_dlg->GetDlgItem(id)->isVisible()) << id;
    for (int id : kCompactIds)
        EXPECT_FALSE(m_dlg->GetDlgItem(id)->isVisible()) << id;
    EXPECT_TRUE(
        PumpUntil([&] { return Text(*m_dlg, ctl::kLongitude) != QStringLiteral("stale"); }, 1500));
    for (int id : {ctl::kLongitude, ctl::kLatitude, ctl::kCourse, ctl::kHdop, ctl::kAltitude,
                   ctl::kSpeed, ctl::kPdop, ctl::kFixMode, ctl::kValidity})
        EXPECT_EQ(Text(*m_dlg, id), full[id]) << id;

    Settle(300);
    const QImage back = OwnPaint(*m_dlg);
    int nonWhite = 0;
    for (int y = 203; y < back.height(); ++y)
        for (int x = 0; x < back.width(); ++x)
            nonWhite += QColor(back.pixel(x, y)) != QColor(Qt::white) ? 1 : 0;
    EXPECT_EQ(nonWhite, 0) << "the full layout draws no bars";
}

// The reset list speaks the language of the receiver the stream named.
TEST_F(ResetTest, EachRestartEntrySendsTheRecognisedFamilysCommand) {
    const struct {
        const char *banner;
        ReceiverFamily family;
    } rows[] = {{"$GNTXT,01,01,02,u-blox AG - www.u-blox.com", ReceiverFamily::Ublox},
                {"$PMTK011,MTKGPS", ReceiverFamily::Mtk},
                {"$GPTXT,01,01,02,MA=CASIC", ReceiverFamily::Casic},
                {"$PSTMVER,GNSSLIB_8.4.18.25_ARM", ReceiverFamily::St},
                {"$PSRFTXT,Version:GSW3.5.0", ReceiverFamily::Sirf}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.banner);
        ASSERT_TRUE(m_com4.Write(Sentence(row.banner)));
        ASSERT_TRUE(PumpUntil([&] { return m_dlg->m_port.Family() == row.family; }, 3000));
        for (int entry = 0; entry < 3; ++entry) {
            PickAndReset(*m_dlg, 3, 2, entry);
            const std::string want = ComposeRestart(row.family, static_cast<RestartKind>(entry));
            EXPECT_EQ(m_com4.Read(want.size(), 500ms), want) << "entry " << entry;
        }
    }
}

// Another receiver on the same port: forgotten by the reopening, recognised from its own stream.
TEST_F(ResetTest, ChangedReceiverIsRecognisedAnewAfterReSet) {
    ASSERT_TRUE(m_com4.Write(Sentence("$GNTXT,01,01,02,PROTVER=18.00")));
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->m_port.Family() == ReceiverFamily::Ublox; }, 3000));
    PickAndReset(*m_dlg, 3, 2, 3);
    EXPECT_EQ(m_dlg->m_port.Family(), ReceiverFamily::Unknown);
    ASSERT_TRUE(m_com4.Write(Sentence("$PMTK010,001")));
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->m_port.Family() == ReceiverFamily::Mtk; }, 3000));
    PickAndReset(*m_dlg, 3, 2, 0);
    EXPECT_EQ(m_com4.Read(13, 500ms), "$PMTK103*30\r\n");
}

// The caption times the restart, shows the result, and another Re-set clears it.
TEST_F(ResetTest, CaptionTimesTheRestartToTheFix) {
    Settle();
    EXPECT_EQ(m_dlg->windowTitle(), QStringLiteral("Skywatch - waiting for data"));
    const std::string fix = Sentence("$GPRMC,120000,A,4807.038,N,01131.000,E,0.0,0.0,230394,,");
    // Sent before the restart took effect: no time yet.
    ASSERT_TRUE(m_com4.Write(fix));
    PickAndReset(*m_dlg, 3, 2, 1);
    // The receiver has not named itself: it is asked first, and timed once the restart went.
    // Whether the sentence was read yet decides "waiting for data" before it.
    EXPECT_TRUE(m_dlg->windowTitle().endsWith(
        QStringLiteral("warm start: asking the receiver which kind it is")))
        << m_dlg->windowTitle().toStdString();
    EXPECT_TRUE(PumpUntil(
        [&] { return m_dlg->windowTitle() == QStringLiteral("Skywatch - warm start, 1 s"); }, 3500))
        << m_dlg->windowTitle().toStdString();
    ASSERT_TRUE(m_com4.Write(Sentence("$GPRMC,120001,V,,,,,,,230394,,") + fix));
    EXPECT_TRUE(PumpUntil(
        [&] {
            return m_dlg->windowTitle().startsWith(
                QStringLiteral("Skywatch - warm start: fix in "));
        },
        2500))
        << m_dlg->windowTitle().toStdString();
    PickAndReset(*m_dlg, 3, 2, 3);
    EXPECT_TRUE(PumpUntil(
        [&] { return m_dlg->windowTitle() == QStringLiteral("Skywatch - waiting for data"); },
        1500));
}

TEST(LiveCaptionTest, OneShortStateAfterTheName) {
    using Port = LiveState::Port;
    const struct {
        LiveState state;
        QString more;
        QString caption;
    } rows[] = {
        {{Port::Open, 0, {}}, {}, QStringLiteral("Skywatch")},
        {{Port::Open, 2, {}}, {}, QStringLiteral("Skywatch")},
        {{Port::Open, 3, {}}, {}, QStringLiteral("Skywatch - no data for 3 s")},
        {{Port::Open, 12, {}}, {}, QStringLiteral("Skywatch - no data for 12 s")},
        {{Port::Open, 2, {}, false, false}, {}, QStringLiteral("Skywatch - waiting for data")},
        {{Port::Open, 3, {}, false, false}, {}, QStringLiteral("Skywatch - no data for 3 s")},
        {{Port::Reconnecting, 40, {}},
         {},
         QStringLiteral("Skywatch - receiver unplugged, waiting")},
        {{Port::NoReceiver, 0, QStringLiteral("/dev/ttyS3 not found")},
         {},
         QStringLiteral("Skywatch - no receiver: /dev/ttyS3 not found")},
        {{Port::Closed, 0, {}}, {}, QStringLiteral("Skywatch - port closed")},
        {{Port::Open, 0, {}},
         QStringLiteral("cold start, 12 s"),
         QStringLiteral("Skywatch - cold start, 12 s")},
        {{Port::Open, 5, {}},
         QStringLiteral("cold start, 12 s"),
         QStringLiteral("Skywatch - no data for 5 s; cold start, 12 s")},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(LiveCaption(row.state, row.more), row.caption);
        // The values are grey whenever there is a state to tell.
        EXPECT_EQ(IsNoData(row.state), !LiveText(row.state).isEmpty()) << row.caption.toStdString();
    }
    EXPECT_EQ(ShortOpenFailure(ENOENT, QStringLiteral("/dev/ttyS3")),
              QStringLiteral("/dev/ttyS3 not found"));
    EXPECT_EQ(ShortOpenFailure(ENOTTY, QStringLiteral("/dev/watchdog")),
              QStringLiteral("/dev/watchdog is not a serial port"));
}

// The port tooltip counts each protocol that appeared; bad bytes blame the baud rate only while
// they outnumber what decoded, and a binary frame whose checksum holds counts as decoded.
TEST(LiveCaptionTest, PortTipCountsEachProtocolAndHintsAtTheBaudRate) {
    const QString sentences = QStringLiteral("%1 sentences decoded, %2 not used (other sentence "
                                             "types), %3 bad (checksum or bytes)");
    const QString baud = QStringLiteral("Many bad sentences: check the baud rate");
    struct Row {
        const char *what;
        void (*set)(ScanCounters &);
        QStringList lines;
    };
    const Row rows[] = {
        {"nothing yet", [](ScanCounters &) {}, {sentences.arg(0).arg(0).arg(0)}},
        {"NMEA", [](ScanCounters &c) { c.nGga = 4; }, {sentences.arg(4).arg(0).arg(0)}},
        {"NMEA at a wrong baud rate",
         [](ScanCounters &c) { c.nRmc = 2, c.nBadChecksum = 1, c.nBadByte = 3, c.nUnknown = 9; },
         {sentences.arg(2).arg(9).arg(4), baud}},
        {"UBX only", [](ScanCounters &c) { c.nUbx = 540; }, {"UBX 540 good, 0 bad"}},
        {"UBX with a few stray dollars",
         [](ScanCounters &c) { c.nUbx = 540, c.nUbxBad = 1, c.nCut = 3; },
         {sentences.arg(0).arg(0).arg(3),
          QString::fromUtf8("NMEA 0 good, 3 bad \u00b7 UBX 540 good, 1 bad")}},
        {"all three",
         [](ScanCounters &c) {
             c.nGga = 300, c.nGsa = 300, c.nGsv = 500, c.nRmc = 97, c.nUnknown = 3, c.nCut = 3;
             c.nUbx = 540, c.nUbxSkipped = 2, c.nRtcm = 12;
         },
         {sentences.arg(1197).arg(3).arg(3),
          QString::fromUtf8("NMEA 1200 good, 3 bad \u00b7 UBX 540 good, 0 bad (2 not read) "
                            "\u00b7 RTCM 3 12 good, 0 bad")}},
        {"RTCM only",
         [](ScanCounters &c) { c.nRtcm = 12, c.nRtcmBad = 1; },
         {"RTCM 3 12 good, 1 bad"}},
        {"binary at a wrong baud rate",
         [](ScanCounters &c) { c.nUbx = 1, c.nUbxBad = 4, c.nBadByte = 2; },
         {sentences.arg(0).arg(0).arg(2),
          QString::fromUtf8("NMEA 0 good, 2 bad \u00b7 UBX 1 good, 4 bad"),
          "Many bad sentences and frames: check the baud rate"}},
    };
    for (const Row &r : rows) {
        ScanCounters c;
        r.set(c);
        EXPECT_EQ(StreamCountLines(c), r.lines) << r.what;
    }
}

// The caption follows the receiver each tick: live, silent, unplugged, closed by the user.
TEST_F(ResetTest, CaptionSaysWhetherWhatItShowsIsLive) {
    const auto caption = [&] { return m_dlg->windowTitle(); };
    EXPECT_EQ(caption(), QStringLiteral("Skywatch - waiting for data"));
    EXPECT_TRUE(m_dlg->m_bNoData);
    ASSERT_TRUE(m_com4.Write(FixBurst()));
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->m_port.CopyCounters().Decoded() > 0; }, 2000));
    const auto last = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return caption() == QStringLiteral("Skywatch"); }, 1500));
    EXPECT_FALSE(m_dlg->m_bNoData);
    ASSERT_TRUE(PumpUntil([&] { return caption() != QStringLiteral("Skywatch"); }, 6000));
    const double delay =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - last).count();
    EXPECT_EQ(caption(), QStringLiteral("Skywatch - no data for 3 s"));
    EXPECT_GE(delay, 3.0);
    EXPECT_LT(delay, 4.5) << "one tick after the third silent second";
    std::printf("caption changed %.2f s after the last sentence\n", delay);
    const QString tip = m_dlg->GetDlgItem(ctl::kPortStatus)->toolTip();
    EXPECT_TRUE(tip.contains(QString::fromStdString(m_com4.SlavePath()))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("4 sentences decoded, 0 not used (other sentence "
                                            "types), 0 bad (checksum or bytes)")))
        << tip.toStdString();
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("No data"));
    // In the window too: the validity says so, the values and marks turn grey.
    const auto grey = [&](int id) {
        return m_dlg->GetDlgItem(id)->palette().color(QPalette::WindowText) ==
               display::kStaleColour;
    };
    EXPECT_TRUE(PumpUntil([&] { return Text(*m_dlg, ctl::kValidity) == "No data"; }, 1500));
    EXPECT_TRUE(grey(ctl::kTime) && grey(ctl::kLatitude) && grey(ctl::kCourse));
    EXPECT_GT(CountColour(m_dlg->grab().toImage(), QRect(0, 0, 155, 155), display::kStaleColour),
              100);
    EXPECT_EQ(Text(*m_dlg, ctl::kLatitude), QString::fromUtf8("48°07' 2.28\" N"));

    ASSERT_TRUE(m_com4.Write(FixBurst()));
    EXPECT_TRUE(PumpUntil([&] { return caption() == QStringLiteral("Skywatch"); }, 2500));
    EXPECT_TRUE(PumpUntil([&] { return Text(*m_dlg, ctl::kValidity) == "Valid"; }, 1500));
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM4 is on"));
    EXPECT_FALSE(grey(ctl::kTime) || grey(ctl::kLatitude));
    m_com4.CloseMaster();
    // A pseudo-terminal never comes back by itself: the caption says what to do.
    EXPECT_TRUE(PumpUntil(
        [&] {
            return caption() == QStringLiteral("Skywatch - pseudo-terminal gone, press Re-set");
        },
        2500));
    // ... and so does the window, where the port's state is shown.
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("Press Re-set"));
    EXPECT_TRUE(
        m_dlg->GetDlgItem(ctl::kPortStatus)->toolTip().contains(QStringLiteral("Last error: ")));

    PickAndReset(*m_dlg, 4, 2, 3);
    EXPECT_EQ(caption(), QStringLiteral("Skywatch - port closed"));
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM is off"));
}

// The simulated receiver pulled out and put back under its link.
TEST_F(ResetTest, CaptionFollowsAnUnplugAndTheReturn) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the skywatch-sim simulator in the build tree";
    CDeviceLink device;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--link", device.Path(), "--unplug-pause", "2"}));
    platform::BindPort(2, device.Path());
    PickAndReset(*m_dlg, 1, 2, 3);
    ASSERT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("COM2 is on"));
    const auto caption = [&] { return m_dlg->windowTitle(); };
    // Pulled out (SIGUSR1) once the window shows it live, however slow the build.
    ASSERT_TRUE(PumpUntil([&] { return caption() == QStringLiteral("Skywatch"); }, 8000))
        << caption().toStdString();
    ::kill(sim.Pid(), SIGUSR1);
    EXPECT_TRUE(PumpUntil(
        [&] { return caption() == QStringLiteral("Skywatch - receiver unplugged, waiting"); },
        8000));
    EXPECT_EQ(Text(*m_dlg, ctl::kPortStatus), QStringLiteral("Unplugged"));
    EXPECT_TRUE(PumpUntil([&] { return caption() == QStringLiteral("Skywatch"); }, 8000))
        << caption().toStdString() << "\n"
        << sim.Errors();
}

// Discovery found nothing to open: the window opens nothing and says so.
TEST_F(AppTest, NothingFoundOpensNothing) {
    platform::BindPort(4, "/dev/null");
    CStatusDlg dlg;
    dlg.m_strOpenFailure = QStringLiteral("none found");
    dlg.m_otherReceivers = {QStringLiteral("/dev/ttyACM0 (Arduino)")};
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(dlg.GetDlgItem(ctl::kPortStatus)
                    ->toolTip()
                    .contains(QStringLiteral("/dev/ttyACM0 (Arduino)")));
    EXPECT_EQ(dlg.m_port.m_hPort, -1);
    EXPECT_EQ(dlg.m_port.LastOpenDevice(), "") << "no open was tried";
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Skywatch - no receiver: none found"));
    EXPECT_EQ(Text(dlg, ctl::kPortStatus), QStringLiteral("COM is off"));
    platform::UnbindAllPorts();
}
