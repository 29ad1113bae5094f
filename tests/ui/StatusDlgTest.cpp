#include "StatusDlg.h"
#include "AppTestSupport.h"
#include "Canvas.h"
#include "ControlIds.h"
#include "DialogBuilder.h"
#include "PortTable.h"
#include "QtTestSupport.h"
#include "SatTableModel.h"
#include "SimProcess.h"
#include "SkyPlot.h"
#include "SkyView.h"
#include "StatusDlgTemplate.h"
#include "TestPaths.h"
#include "UserDirs.h"
#include "views/DesktopView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <unistd.h>

namespace {

constexpr const char *kMissingDevice = "/nonexistent/skywatch-no-such-tty";
const QRect kGlobeSquare(0, 0, 155, 155);

// Counts the paints the dialog receives.
class CPaintCounter : public QObject {
public:
    int n = 0;
    bool eventFilter(QObject *, QEvent *e) override {
        n += e->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

bool AllZero(const GpsFix &f) {
    static const GpsFix zero{};
    return std::memcmp(&f, &zero, sizeof f) == 0;
}

bool HasMessageBox() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(w) && w->isVisible())
            return true;
    return false;
}

class DialogTest : public QtTest {
protected:
    void TearDown() override { platform::UnbindAllPorts(); }
};

} // namespace

TEST_F(DialogTest, TemplateBecomesTheControlsBesideTheGlobe) {
    platform::BindPort(4, kMissingDevice);
    CStatusDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    // The template's caption, with why nothing is live.
    EXPECT_EQ(dlg.windowTitle(),
              QStringLiteral("Skywatch - no receiver: %1 not found").arg(kMissingDevice));
    EXPECT_EQ(dlg.size(), QSize(240, 268));
    EXPECT_FALSE(dlg.windowIcon().isNull());
    EXPECT_TRUE(dlg.windowIcon().availableSizes().contains(QSize(32, 32)));
    EXPECT_TRUE(dlg.windowIcon().availableSizes().contains(QSize(16, 16)));

    const auto children = dlg.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    int nControls = 0;
    for (QWidget *w : children) {
        if (CDialogBuilder::ItemId(w) == dlg::kNoId && !qobject_cast<QLabel *>(w))
            continue;
        ++nControls;
        EXPECT_FALSE(w->geometry().intersects(kGlobeSquare)) << w->objectName().toStdString();
        EXPECT_TRUE(dlg.rect().contains(w->geometry())) << w->objectName().toStdString();
    }
    EXPECT_EQ(nControls, 37);

    for (const dlg::Item &item : res::kStatusDlgItems) {
        if (item.id == dlg::kNoId)
            continue;
        QWidget *w = dlg.GetDlgItem(item.id);
        ASSERT_NE(w, nullptr) << item.id;
        switch (item.kind) {
        case dlg::Kind::Static:
            EXPECT_NE(qobject_cast<QLabel *>(w), nullptr) << item.id;
            break;
        case dlg::Kind::Button:
            ASSERT_NE(qobject_cast<QPushButton *>(w), nullptr) << item.id;
            EXPECT_EQ(ShownText(dlg, item.id), QString::fromUtf8(item.text));
            break;
        case dlg::Kind::ComboBox:
            EXPECT_NE(qobject_cast<QComboBox *>(w), nullptr) << item.id;
            break;
        }
    }
    // Labels keep the template's texts; value controls the display rewrites later.
    EXPECT_EQ(ShownText(dlg, ctl::kLongitudeLabel), QStringLiteral("Longitude:"));
    EXPECT_EQ(ShownText(dlg, ctl::kDirectionLabel), QStringLiteral("Direction :"));
    EXPECT_EQ(ShownText(dlg, ctl::kLongitude), QString::fromUtf8("000°00'00.00\" E"));

    for (const dlg::List &list : res::kStatusDlgLists) {
        auto *combo = qobject_cast<QComboBox *>(dlg.GetDlgItem(list.id));
        ASSERT_NE(combo, nullptr);
        ASSERT_EQ(combo->count(), static_cast<int>(list.entries.size()));
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_EQ(combo->itemText(i), QString::fromUtf8(list.entries[static_cast<size_t>(i)]));
    }
    dlg.done(QDialog::Rejected);
}

TEST_F(DialogTest, StartWithComFourMissing) {
    platform::BindPort(4, kMissingDevice);
    CStatusDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(ShownText(dlg, ctl::kPortStatus), QStringLiteral("COM is off"));
    EXPECT_EQ(ShownText(dlg, ctl::kPortList), QStringLiteral("COM2"));
    EXPECT_EQ(ShownText(dlg, ctl::kBaudList), QStringLiteral("4800"));
    EXPECT_EQ(ShownText(dlg, ctl::kResetList), QStringLiteral("Default"));
    EXPECT_EQ(dlg.m_port.m_hPort, -1);
    EXPECT_TRUE(AllZero(dlg.m_curFix));

    // The first paints play the zoom, then the first pass writes every field of the layout.
    CPaintCounter paints;
    dlg.installEventFilter(&paints);
    dlg.show();
    EXPECT_FALSE(HasMessageBox());
    EXPECT_TRUE(PumpUntil([&] { return dlg.m_redrawAll == 0; }, 3000));
    EXPECT_GE(paints.n, 22);
    // Nothing was sent: no template or zero values, and nothing open says "No data".
    for (int id :
         {ctl::kDate, ctl::kTime, ctl::kLatitude, ctl::kAltitude, ctl::kCourse, ctl::kFixMode})
        EXPECT_EQ(ShownText(dlg, id), QStringLiteral("-")) << id;
    EXPECT_EQ(ShownText(dlg, ctl::kValidity), QStringLiteral("No data"));
    EXPECT_FALSE(HasMessageBox());
    dlg.done(QDialog::Rejected);
}

TEST_F(DialogTest, PaintCopiesTheGlobeAndTheLowerStrip) {
    platform::BindPort(4, kMissingDevice);
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_redrawAll == 0; }, 3000));

    dlg.m_curSky.count = 1;
    dlg.m_curSky.sats[0] = SkySat{Gnss::GPS, 5, 45, 45, 60, true, true, {}, 0};
    dlg.m_curFix.nHdop = 12;
    ShowAsLive(dlg);
    dlg.m_viewMode = kViewCompact;
    dlg.repaint();
    EXPECT_EQ(std::memcmp(&dlg.m_prevFix, &dlg.m_curFix, sizeof(GpsFix)), 0);
    const QImage shot = dlg.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(103, 58)), display::kUsedColour);
    // The globe itself: sea at the disc's edge, black sky in the corner.
    EXPECT_EQ(QColor(shot.pixel(2, 2)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(70, 150)), QColor(166, 202, 240));
    // The bar of slot 0 is 60 dB but stops 42 high (top at 211), clear of the text rows.
    EXPECT_EQ(QColor(shot.pixel(5, 212)), display::kUsedColour);
    EXPECT_EQ(QColor(shot.pixel(5, 210)), QColor(Qt::white));
    EXPECT_EQ(QColor(shot.pixel(5, 202)), QColor(Qt::white));
    EXPECT_EQ(QColor(shot.pixel(5, 196)), QColor(Qt::white));
    dlg.done(QDialog::Rejected);
}

TEST_F(DialogTest, TimerOtherThanOneDoesNothing) {
    int fds[2];
    ASSERT_EQ(openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr), 0);
    const std::string slave = ttyname(fds[1]);
    close(fds[1]);
    platform::BindPort(4, slave);
    CStatusDlg dlg;
    dlg.OnInitDialog();
    ASSERT_NE(dlg.m_port.m_hPort, -1);
    const char nmea[] = "$GPRMC,081836,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E*62\r\n"
                        "$GPGGA,081837,3751.65,S,14507.36,E,1,05,1.5,280.2,M,-34.0,M,,,*75\r\n";
    ASSERT_EQ(write(fds[0], nmea, sizeof nmea - 1), static_cast<ssize_t>(sizeof nmea - 1));
    GpsFix live{};
    ASSERT_TRUE(PumpUntil(
        [&] {
            dlg.m_port.CopyFix(live);
            return live.lLatitude != 0;
        },
        3000));
    std::memset(&dlg.m_curFix, 0, sizeof(GpsFix));
    dlg.OnTimer(2);
    EXPECT_TRUE(AllZero(dlg.m_curFix));
    dlg.OnTimer(1);
    EXPECT_EQ(dlg.m_curFix.lLatitude, live.lLatitude);
    dlg.done(QDialog::Rejected);
    close(fds[0]);
}

TEST_F(DialogTest, ShutdownKillsTheTimerAndTheDialogObjectClosesThePort) {
    int fds[2];
    ASSERT_EQ(openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr), 0);
    const std::string slave = ttyname(fds[1]);
    close(fds[1]);
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    platform::BindPort(4, slave);

    auto dlg = std::make_unique<CStatusDlg>();
    dlg->OnInitDialog();
    ASSERT_NE(dlg->m_port.m_hPort, -1);
    EXPECT_EQ(ShownText(*dlg, ctl::kPortStatus), QStringLiteral("COM4 is on"));
    dlg->show();
    dlg->close(); // the title bar's button
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);

    // No tick after the end: the reader still fills the live record, the snapshot stays empty.
    const char nmea[] = "$GPRMC,081836,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E*62\r\n"
                        "$GPGGA,081837,3751.65,S,14507.36,E,1,05,1.5,280.2,M,-34.0,M,,,*75\r\n";
    ASSERT_EQ(write(fds[0], nmea, sizeof nmea - 1), static_cast<ssize_t>(sizeof nmea - 1));
    GpsFix live{};
    EXPECT_TRUE(PumpUntil(
        [&] {
            dlg->m_port.CopyFix(live);
            return live.lLatitude != 0;
        },
        3000));
    PumpUntil([] { return false; }, 1300);
    EXPECT_TRUE(AllZero(dlg->m_curFix));
    EXPECT_NE(dlg->m_port.m_hPort, -1);
    char c;
    EXPECT_EQ(read(fds[0], &c, 1), -1);
    EXPECT_EQ(errno, EAGAIN); // the port still holds the terminal

    dlg.reset();
    // With no descriptor left on the terminal's side, its master reads an end (EIO).
    errno = 0;
    EXPECT_EQ(read(fds[0], &c, 1), -1);
    EXPECT_EQ(errno, EIO);
    close(fds[0]);
}

TEST_F(DialogTest, StartOnTheSimulator) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary()
                     << " (build the target skywatch-sim)";
    // The NMEA receiver, and a u-blox one that sends its fix and sky in UBX frames only.
    const struct {
        const char *what;
        std::vector<std::string> args;
        bool ubx;
    } receivers[] = {{"NMEA", {}, false},
                     {"UBX only", {"--chip", "ublox", "--protocol", "ubx"}, true}};
    for (const auto &receiver : receivers) {
        SCOPED_TRACE(receiver.what);
        CSimProcess sim;
        ASSERT_TRUE(sim.Start(receiver.args)) << sim.Errors();
        platform::BindPort(4, sim.SlavePath());
        CStatusDlg dlg;
        dlg.OnInitDialog();
        EXPECT_EQ(ShownText(dlg, ctl::kPortStatus), QStringLiteral("COM4 is on"));
        EXPECT_EQ(ShownText(dlg, ctl::kPortList), QStringLiteral("COM4"));
        EXPECT_EQ(ShownText(dlg, ctl::kBaudList), QStringLiteral("4800"));
        EXPECT_EQ(ShownText(dlg, ctl::kResetList), QStringLiteral("Default"));
        EXPECT_EQ(dlg.m_nBaudIndex, 2);
        dlg.show();

        const QRegularExpression lat(QString::fromUtf8("^\\d\\d°\\d\\d' \\d?\\d\\.\\d\\d\" [NS]$"));
        const QRegularExpression lon(
            QString::fromUtf8("^\\d\\d\\d°\\d\\d' \\d?\\d\\.\\d\\d\" [EW]$"));
        auto satellitePixels = [&] {
            const QImage shot = dlg.grab().toImage();
            return CountColour(shot, kGlobeSquare, display::kUsedColour) +
                   CountColour(shot, kGlobeSquare, display::kTrackedColour);
        };
        const bool shown = PumpUntil(
            [&] {
                return dlg.m_curFix.lLatitude != 0 &&
                       ShownText(dlg, ctl::kLatitude) != QString::fromUtf8("00°00' 0.00\" N") &&
                       satellitePixels() > 8 * 100;
            },
            3000);
        EXPECT_TRUE(shown) << "latitude shown: " << ShownText(dlg, ctl::kLatitude).toStdString()
                           << ", satellite pixels: " << satellitePixels();
        EXPECT_TRUE(lat.match(ShownText(dlg, ctl::kLatitude)).hasMatch())
            << ShownText(dlg, ctl::kLatitude).toStdString();
        EXPECT_TRUE(lon.match(ShownText(dlg, ctl::kLongitude)).hasMatch())
            << ShownText(dlg, ctl::kLongitude).toStdString();
        EXPECT_NE(ShownText(dlg, ctl::kFixMode), QStringLiteral("No Fix"));
        if (receiver.ubx) {
            // Frames whose checksums hold and no sentence at all: no baud rate to blame.
            const QString tip = dlg.GetDlgItem(ctl::kPortStatus)->toolTip();
            EXPECT_TRUE(tip.contains(QStringLiteral("UBX "))) << tip.toStdString();
            EXPECT_FALSE(tip.contains(QStringLiteral("baud rate"))) << tip.toStdString();
            // The desktop layout: what only the binary messages tell, in the panel and the table.
            dlg.resize(1400, 900);
            ASSERT_TRUE(dlg.IsDesktop());
            const CDesktopView &desktop = *dlg.Desktop();
            EXPECT_TRUE(PumpUntil(
                [&] {
                    return desktop.FixValue(QStringLiteral("Accuracy")) != nullptr &&
                           desktop.Model().TrackingColumn() >= 0 && desktop.Model().rowCount() > 8;
                },
                3000));
            if (const QLabel *accuracy = desktop.FixValue(QStringLiteral("Accuracy"))) {
                EXPECT_TRUE(accuracy->text().contains(QStringLiteral(" m horiz")))
                    << accuracy->text().toStdString();
            }
            EXPECT_NE(desktop.FixValue(QStringLiteral("Latitude"))->text(), QStringLiteral("-"));
            const int tracking = desktop.Model().TrackingColumn();
            int locked = 0;
            for (int r = 0; r < desktop.Model().rowCount(); ++r)
                locked +=
                    desktop.Model().index(r, tracking).data().toString().contains("lock") ? 1 : 0;
            EXPECT_GT(locked, 4);
        }
        dlg.done(QDialog::Rejected);
        platform::UnbindAllPorts();
    }
}

TEST_F(DialogTest, TickPaintsWithoutZoomAndLayoutSwitchPlaysIt) {
    platform::BindPort(4, kMissingDevice);
    CStatusDlg dlg;
    dlg.OnInitDialog();
    CPaintCounter paints;
    dlg.installEventFilter(&paints);
    dlg.show();
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_redrawAll == 0; }, 3000));

    // A tick: one paint, no zoom, the whole sky view redrawn from the snapshot.
    paints.n = 0;
    dlg.OnTimer(1);
    PumpUntil([] { return false; }, 100);
    EXPECT_GE(paints.n, 1);
    EXPECT_LE(paints.n, 2);
    EXPECT_EQ(dlg.m_redrawAll, 0);

    // ">": the zoom plays again as its own frames, then every compact field is written.
    paints.n = 0;
    static_cast<QPushButton *>(dlg.GetDlgItem(ctl::kToggleView))->click();
    EXPECT_EQ(dlg.m_viewMode, kViewCompact);
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_redrawAll == 0; }, 3000));
    EXPECT_GE(paints.n, 22);
    EXPECT_EQ(ShownText(dlg, ctl::kCompactLatitude), QStringLiteral("-"));
    EXPECT_EQ(ShownText(dlg, ctl::kCompactFixMode), QStringLiteral("-"));
    EXPECT_EQ(ShownText(dlg, ctl::kCompactValidity), QStringLiteral("No data"));
    const QImage shot = dlg.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(2, 254)), QColor(Qt::black)); // the first bar box
    dlg.done(QDialog::Rejected);
}

namespace {

using SkyWindowTest = QtTest;

// A multi-system receiver replayed through the simulator: every satellite in view with a position
// is one mark, and a used one with signal is green where no later mark covers it.
TEST_F(SkyWindowTest, ReplayedMultiSystemReceiverDrawsEveryMark) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--replay", NmeaDir() + "/ublox-neo-m9n-nmea.log", "--baud", "115200"}))
        << sim.Errors();
    platform::BindPort(4, sim.SlavePath());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_curSky.count >= 20 && dlg.m_curSky.used > 0; }, 6000))
        << dlg.m_curSky.count;
    const SkyView sky = dlg.m_curSky;
    EXPECT_GE(sky.inView[static_cast<int>(Gnss::GLONASS)] +
                  sky.inView[static_cast<int>(Gnss::Galileo)],
              1u);

    QImage canvas(240, 268, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    int marks = 0;
    {
        CCanvas c(&canvas);
        marks = display::DrawSkyView(c, sky, kViewFull, 155, 155);
    }
    std::size_t withPosition = 0;
    for (std::size_t i = 0; i < sky.count; ++i)
        withPosition += sky.sats[i].hasPosition ? 1 : 0;
    EXPECT_EQ(marks, static_cast<int>(withPosition));
    EXPECT_EQ(withPosition, sky.count);
    // The desktop plot of this real sky names every mark, at a big screen's size and a small one.
    for (const int side : {680, 300}) {
        QImage plot(side, side, QImage::Format_RGB32);
        QPainter p(&plot);
        int labels = 0;
        EXPECT_EQ(display::DrawSkyPlotMarks(p, QRectF(plot.rect()), sky, false, nullptr, &labels),
                  marks);
        EXPECT_EQ(labels, marks) << side << " px";
    }

    int checked = 0;
    for (std::size_t i = 0; i < sky.count; ++i) {
        const SkySat &s = sky.sats[i];
        const QPoint p = display::SkyPosition(s.el, s.az, 155, 155);
        bool covered = false;
        for (std::size_t j = i + 1; j < sky.count; ++j) {
            const QPoint q = display::SkyPosition(sky.sats[j].el, sky.sats[j].az, 155, 155);
            covered = covered || (std::abs(q.x() - p.x()) < 21 && std::abs(q.y() - p.y()) < 21);
        }
        if (covered)
            continue;
        const QColor want = s.snr == 0 ? display::kNoSignalColour
                                       : (s.used ? display::kUsedColour : display::kTrackedColour);
        EXPECT_EQ(QColor(canvas.pixel(p.x(), p.y() + 6)), want) << GnssName(s.gnss) << " " << s.sv;
        ++checked;
    }
    EXPECT_GT(checked, 5);
    // The window itself shows green marks on the globe, once its opening zoom (0.3 s) played.
    PumpUntil([] { return false; }, 400);
    dlg.repaint();
    const QImage shot = dlg.grab().toImage();
    int green = 0;
    for (int y = 0; y < 155; ++y)
        for (int x = 0; x < 155; ++x)
            green += QColor(shot.pixel(x, y)) == display::kUsedColour ? 1 : 0;
    EXPECT_GT(green, 100 * static_cast<int>(sky.used) / 2);
    dlg.done(QDialog::Rejected);
    platform::UnbindAllPorts();
}

} // namespace

// The table's columns grow to a wider text that comes without a change of shape: a GPS row
// becoming a GLONASS one, a two-digit number a three-digit one.
TEST_F(DialogTest, DesktopTableColumnsFitTextsThatComeLater) {
    platform::BindPort(4, kMissingDevice);
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.resize(1400, 900);
    dlg.show();
    ASSERT_TRUE(dlg.IsDesktop());
    const auto sky = [](Gnss gnss, int firstSv) {
        SkyView v{};
        for (int i = 0; i < 8; ++i) {
            SkySat &s = v.sats[v.count++];
            s.gnss = gnss, s.sv = static_cast<std::uint16_t>(firstSv + i);
            s.el = 30, s.az = static_cast<std::int16_t>(40 * i), s.snr = 40, s.hasPosition = true;
        }
        return v;
    };
    QTableView *table = dlg.Desktop()->Table();
    const QFontMetrics fm = table->fontMetrics();
    for (const SkyView &v : {sky(Gnss::GPS, 1), sky(Gnss::GLONASS, 1), sky(Gnss::SBAS, 120)}) {
        dlg.Desktop()->Show(GpsFix{}, {display::kSentAll, false}, FixExtra{}, v, QString(), {});
        const QAbstractItemModel &model = *table->model();
        for (int c = 0; c < model.columnCount(); ++c)
            for (int r = 0; r < model.rowCount(); ++r) {
                const QString text = model.index(r, c).data().toString();
                EXPECT_LE(fm.horizontalAdvance(text) + 4, table->columnWidth(c))
                    << text.toStdString() << " in column " << c;
            }
        // The columns share the pane rather than leave most of it empty, and need no scrolling.
        int total = 0;
        for (int c = 0; c < model.columnCount(); ++c)
            total += table->columnWidth(c);
        EXPECT_GE(total, table->viewport()->width() - model.columnCount());
        EXPECT_LE(total, table->viewport()->width());
    }
    // Sorted, as a click on a header does: the headers keep room for their texts and the arrow.
    table->sortByColumn(4, Qt::DescendingOrder);
    for (int c = 0; c < table->model()->columnCount(); ++c)
        EXPECT_LE(table->horizontalHeader()->sectionSizeHint(c), table->columnWidth(c))
            << "header " << c;
    dlg.done(QDialog::Rejected);
    platform::UnbindAllPorts();
}

// A large window shows the desktop layout: its table lists every satellite of the replayed
// receiver with a column per band, the bars draw a segment per signal, and the dialog's layouts
// come back when the window is made small.
TEST_F(SkyWindowTest, DesktopLayoutListsEverySatelliteAndSwitchesOnResize) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    CSimProcess sim;
    ASSERT_TRUE(
        sim.Start({"--replay", SKYWATCH_NMEA_DIR "/ublox-neo-m9n-nmea.log", "--baud", "115200"}))
        << sim.Errors();
    platform::BindPort(4, sim.SlavePath());
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.resize(1400, 900);
    dlg.show();
    ASSERT_TRUE(dlg.IsDesktop());
    EXPECT_FALSE(dlg.GetDlgItem(ctl::kLatitude)->isVisible());
    EXPECT_TRUE(dlg.GetDlgItem(ctl::kResetButton)->isVisible());
    const CSatTableModel &model = dlg.Desktop()->Model();
    // The port may open after the replay's first GSV block went by: wait for a table that holds
    // GPS and Galileo, whose first signals are the bands checked below.
    const auto holds = [&](Gnss gnss) {
        const SkyView &sky = dlg.m_curSky;
        return std::any_of(sky.sats, sky.sats + sky.count,
                           [gnss](const SkySat &s) { return s.gnss == gnss; });
    };
    ASSERT_TRUE(PumpUntil(
        [&] {
            return dlg.m_curSky.count >= 20 && holds(Gnss::GPS) && holds(Gnss::Galileo) &&
                   model.rowCount() == int(dlg.m_curSky.count);
        },
        6000))
        << model.rowCount();
    const SkyView sky = dlg.m_curSky;
    std::size_t segments = 0;
    for (std::size_t i = 0; i < sky.count; ++i) {
        const SkySat &s = sky.sats[i];
        EXPECT_EQ(model.index(int(i), 0).data().toString(), QString::fromLatin1(GnssName(s.gnss)));
        EXPECT_EQ(model.index(int(i), 1).data().toString(), QString::number(s.sv));
        segments += std::max<std::size_t>(s.nSigs, 1);
    }
    for (const char *band : {"L1 C/A", "E1"})
        EXPECT_TRUE(model.Bands().contains(QString::fromLatin1(band))) << band;
    EXPECT_EQ(model.headerData(4, Qt::Horizontal).toString(), model.Bands().first());
    // Sorting by a band, as a click on its header does, puts the strongest first; a satellite
    // without that band goes last.
    QTableView *table = dlg.Desktop()->Table();
    table->sortByColumn(4, Qt::DescendingOrder);
    int strongest = 0;
    for (int r = 0; r < model.rowCount(); ++r)
        strongest = std::max(strongest, model.index(r, 4).data().toInt());
    EXPECT_GT(strongest, 0);
    EXPECT_EQ(table->model()->index(0, 4).data().toInt(), strongest);
    EXPECT_EQ(table->model()->index(model.rowCount() - 1, 4).data().toString(), QString());
    QImage bars(1400, 150, QImage::Format_RGB32);
    QPainter painter(&bars);
    EXPECT_EQ(display::DrawSignalBars(painter, QRectF(bars.rect()), sky, false), int(segments));
    painter.end();

    ASSERT_TRUE(PumpUntil([&] { return (dlg.m_curExtra.sent & kSentPosition) != 0; }, 3000));
    dlg.resize(240, 268);
    EXPECT_FALSE(dlg.IsDesktop());
    EXPECT_FALSE(dlg.Desktop()->isVisible());
    EXPECT_TRUE(dlg.GetDlgItem(ctl::kLatitude)->isVisible());
    EXPECT_NE(ShownText(dlg, ctl::kLatitude), QStringLiteral("-")) << "written before shown";
    EXPECT_EQ(dlg.GetDlgItem(ctl::kResetButton)->geometry().size(),
              QSize(qRound(45 * 240 / 139.0), dlg.GetDlgItem(ctl::kResetButton)->height()));
    dlg.resize(1000, 800);
    EXPECT_TRUE(dlg.IsDesktop());
    dlg.done(QDialog::Rejected);
    platform::UnbindAllPorts();
}

// The desktop layout's units: each View action rewrites its fix panel row in that unit, the
// choice is kept for the next window (the settings folder), and Ctrl+C and the context menu's
// copies put the position on the clipboard as shown or in the format asked for.
TEST_F(SkyWindowTest, UnitChoiceRewritesThePanelIsKeptAndCopiesThePosition) {
    if (!CSimProcess::Built())
        GTEST_SKIP() << "needs the simulated receiver " << CSimProcess::Binary();
    // The choice is written to the settings folder: one in the build folder, never the user's.
    struct ConfigHome {
        bool had = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        ~ConfigHome() {
            if (!had)
                qunsetenv("XDG_CONFIG_HOME");
        }
    } home;
    if (!home.had)
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(BinaryDir() + "/test-home/config"));
    const QString settings = QString::fromStdString(platform::ConfigDir()) + "/view.conf";
    QFile::remove(settings);
    CSimProcess sim;
    ASSERT_TRUE(
        sim.Start({"--replay", SKYWATCH_NMEA_DIR "/ublox-neo-m9n-nmea.log", "--baud", "115200"}))
        << sim.Errors();
    platform::BindPort(4, sim.SlavePath());
    const auto row = [](const CStatusDlg &dlg, const char *label) {
        const QLabel *value = dlg.Desktop()->FixValue(QString::fromLatin1(label));
        return value != nullptr ? value->text() : QString();
    };
    const auto pick = [](CStatusDlg &dlg, const char *name) {
        QAction *a = dlg.Desktop()->findChild<QAction *>(QString::fromLatin1(name));
        if (a != nullptr)
            a->trigger();
        return a != nullptr;
    };
    struct Choice {
        const char *action, *label, *pattern;
    };
    // The capture sends knots to 0.001, altitude to 0.1 m, minutes to 0.00001'.
    const Choice choices[] = {
        {"view-speed-mps", "Speed", "^\\d+\\.\\d{3} m/s$"},
        {"view-speed-mph", "Speed", "^\\d+\\.\\d{3} mph$"},
        {"view-speed-kmh", "Speed", "^\\d+\\.\\d{3} km/h$"},
        {"view-speed-knots", "Speed", "^\\d+\\.\\d{3} kn$"},
        {"view-length-m", "Altitude", "^\\d+\\.\\d m$"},
        {"view-degrees-dm", "Latitude", "^38\u00b0 06\\.\\d{5}' N$"},
        {"view-degrees-dms", "Longitude", "^122\u00b0 37' \\d\\d\\.\\d{4}\" W$"},
        {"view-degrees-decimal", "Latitude", "^38\\.\\d{9}\u00b0$"},
        {"view-length-ft", "Altitude", "^\\d+\\.\\d ft$"},
    };
    {
        CStatusDlg dlg;
        dlg.OnInitDialog();
        dlg.resize(1400, 900);
        dlg.show();
        ASSERT_TRUE(dlg.IsDesktop());
        ASSERT_TRUE(PumpUntil(
            [&] {
                return row(dlg, "Error").startsWith("lat ") && row(dlg, "Speed") != "-" &&
                       row(dlg, "Altitude") != "-" && row(dlg, "Latitude") != "-";
            },
            8000))
            << row(dlg, "Error").toStdString();
        for (const Choice &c : choices) {
            ASSERT_TRUE(pick(dlg, c.action)) << c.action;
            const QRegularExpression want(QString::fromUtf8(c.pattern));
            EXPECT_TRUE(want.match(row(dlg, c.label)).hasMatch())
                << c.action << ": " << row(dlg, c.label).toStdString();
        }
        EXPECT_TRUE(row(dlg, "Error").endsWith(" ft")) << row(dlg, "Error").toStdString();
        dlg.done(QDialog::Rejected);
    }
    // The next window starts with the last choice: knots, feet, decimal degrees.
    CStatusDlg dlg;
    dlg.OnInitDialog();
    dlg.resize(1400, 900);
    dlg.show();
    ASSERT_TRUE(PumpUntil([&] { return !row(dlg, "Speed").startsWith('-'); }, 8000));
    EXPECT_TRUE(row(dlg, "Speed").endsWith(" kn")) << row(dlg, "Speed").toStdString();
    EXPECT_TRUE(row(dlg, "Altitude").endsWith(" ft")) << row(dlg, "Altitude").toStdString();
    ASSERT_TRUE(PumpUntil([&] { return row(dlg, "Latitude").startsWith("38."); }, 3000))
        << row(dlg, "Latitude").toStdString();

    dlg.activateWindow();
    ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == &dlg; }, 3000));
    QGuiApplication::clipboard()->clear();
    // A key press the program sends goes through the window's shortcuts first, as typed ones do.
    QKeyEvent ctrlC(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(&dlg, &ctrlC);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              row(dlg, "Latitude") + QStringLiteral(", ") + row(dlg, "Longitude"));
    ASSERT_TRUE(pick(dlg, "copy-position-dms"));
    EXPECT_TRUE(
        QRegularExpression(QString::fromUtf8("^38\u00b0 06' \\d\\d\\.\\d{4}\" N, 122\u00b0 37' "
                                             "\\d\\d\\.\\d{4}\" W$"))
            .match(QGuiApplication::clipboard()->text())
            .hasMatch())
        << QGuiApplication::clipboard()->text().toStdString();
    dlg.done(QDialog::Rejected);
    platform::UnbindAllPorts();
    QFile::remove(settings);
}
