#include "AppTestSupport.h"
#include "Canvas.h"
#include "ControlIds.h"
#include "DialogBuilder.h"
#include "PortTable.h"
#include "QtTestSupport.h"
#include "SkyView.h"
#include "StatusDlg.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QtMath>
#include <memory>
#include <vector>

namespace {

constexpr const char *kMissingDevice = "/nonexistent/skywatch-no-such-tty";

class ScaleTest : public QtTest {
protected:
    void SetUp() override { platform::BindPort(4, kMissingDevice); }
    void TearDown() override { platform::UnbindAllPorts(); }
};

// A shown, settled window opened at scale s.
std::unique_ptr<CStatusDlg> OpenAt(double s) {
    auto dlg = std::make_unique<CStatusDlg>();
    dlg->m_startScale = s;
    dlg->OnInitDialog();
    dlg->show();
    PumpUntil([&] { return dlg->m_redrawAll == 0; }, 3000);
    return dlg;
}

// Far south-west on the last second of the year, every field at its widest.
GpsFix WidestFix() {
    GpsFix f{};
    f.nYear = 2026, f.bMonth = 12, f.bDay = 31, f.bHour = 23, f.bMinute = 59, f.bSecond = 59;
    f.lLatitude = -89999997, f.lLongitude = -179999997;
    f.wAltitude = 64535, f.wSpeed = 65535, f.nCourse = 359, f.nHdop = 999, f.nPdop = 999;
    return f;
}

// Every visible control whose text is wider than its room, with the texts it must also hold.
std::vector<std::string> Overflows(const CStatusDlg &dlg) {
    const std::vector<std::pair<int, const char *>> widest = {
        {ctl::kCourse, "359 Degree"},
        {ctl::kSpeed, "999 KM/Hr"},
        {ctl::kAltitude, "-9999 M"},
        {ctl::kDate, "2026/12/31"},
        {ctl::kLongitude, "179°59' 59.99\" W"},
        {ctl::kCompactLongitude, "179°59' 59.99\" W"},
        {ctl::kResetList, "Warm Start"},
        {ctl::kResetList, "Cold Start"},
        {ctl::kPortStatus, "COM is off"}};
    std::vector<std::string> out;
    auto check = [&](const QWidget *w, const QString &text) {
        const int need = QFontMetrics(w->font()).horizontalAdvance(text);
        if (need > CDialogBuilder::TextRoom(w))
            out.push_back(text.toStdString() + " needs " + std::to_string(need) + ", has " +
                          std::to_string(CDialogBuilder::TextRoom(w)));
    };
    for (QWidget *w : dlg.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisible())
            continue;
        if (auto *label = qobject_cast<QLabel *>(w))
            check(w, label->text());
        else if (auto *button = qobject_cast<QPushButton *>(w))
            check(w, button->text());
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < combo->count(); ++i)
                check(w, combo->itemText(i));
    }
    for (const auto &[id, text] : widest)
        check(dlg.GetDlgItem(id), QString::fromUtf8(text));
    return out;
}

QColor At(const QImage &img, int x, int y) {
    return QColor(img.pixel(x, y));
}

} // namespace

TEST_F(ScaleTest, EveryTextFitsAtEveryScaleAndAfterAResize) {
    int previousPx = 0;
    for (double s : {1.0, 1.5, 2.0, 3.0}) {
        auto dlg = OpenAt(s);
        EXPECT_EQ(dlg->size(), QSize(qRound(240 * s), qRound(268 * s))) << s;
        EXPECT_DOUBLE_EQ(dlg->Zoom(), s);
        // The controls keep the template's proportions: Re-set is 45 of the 139 units wide.
        EXPECT_NEAR(dlg->GetDlgItem(ctl::kResetButton)->width(), 45 * 240 * s / 139, 1.0) << s;
        const int px = dlg->font().pixelSize();
        EXPECT_GT(px, previousPx) << s;
        previousPx = px;
        dlg->m_curFix = WidestFix();
        ShowAsLive(*dlg);
        for (ViewMode mode : {kViewFull, kViewCompact}) {
            if (dlg->m_viewMode != mode)
                dlg->OnToggleView();
            else
                dlg->repaint();
            PumpUntil([&] { return dlg->m_redrawAll == 0; }, 3000);
            EXPECT_EQ(ShownText(*dlg, ctl::kCourse), QStringLiteral("359 Degree"));
            EXPECT_EQ(Overflows(*dlg), std::vector<std::string>{})
                << "scale " << s << " layout " << mode;
        }
        if (s == 2.0) {
            // A window of another shape: the layout scales by the smaller side, centred.
            dlg->resize(900, 400);
            PumpUntil([] { return false; }, 50);
            EXPECT_NEAR(dlg->Zoom(), 400 / 268.0, 1e-9);
            EXPECT_EQ(dlg->LayoutOrigin().x(), qFloor((900 - 240 * dlg->Zoom()) / 2));
            EXPECT_EQ(Overflows(*dlg), std::vector<std::string>{}) << "after a resize";
            dlg->resize(480, 536);
            EXPECT_EQ(dlg->font().pixelSize(), px) << "back to the same font";
        }
        dlg->done(QDialog::Rejected);
    }
}

TEST_F(ScaleTest, ScaleOneShowsThePictureAsItIs) {
    auto dlg = OpenAt(1.0);
    const QImage shot = dlg->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.copy(0, 0, 155, 155), dlg->m_globeBitmap);
    dlg->done(QDialog::Rejected);
}

TEST_F(ScaleTest, MarksAndGlobeAreDrawnAtTheTargetResolution) {
    auto dlg = OpenAt(2.0);
    const QImage globe = dlg->grab().toImage().convertToFormat(QImage::Format_RGB32);
    dlg->m_curSky.count = 1; // (103, 51): sea and land around it
    dlg->m_curSky.sats[0] = SkySat{Gnss::GPS, 5, 45, 45, 40, false, true, {}, 0};
    ShowAsLive(*dlg);
    dlg->repaint();
    const QImage marked = dlg->grab().toImage().convertToFormat(QImage::Format_RGB32);
    dlg->done(QDialog::Rejected);

    // Pixel doubling leaves every aligned 2 x 2 block one colour; a smooth picture does not.
    auto mixedBlocks = [](const QImage &img, const QRect &area) {
        int n = 0;
        for (int y = area.top(); y < area.bottom(); y += 2)
            for (int x = area.left(); x < area.right(); x += 2)
                n += img.pixel(x, y) != img.pixel(x + 1, y) ||
                     img.pixel(x, y) != img.pixel(x, y + 1) ||
                     img.pixel(x, y) != img.pixel(x + 1, y + 1);
        return n;
    };
    EXPECT_GT(mixedBlocks(globe, QRect(0, 0, 310, 310)), 2000);
    const QRect box(206 - 20, 102 - 20, 40, 40);
    EXPECT_GT(mixedBlocks(marked, box), 40);
    EXPECT_EQ(At(marked, 206, 102 + 14), display::kTrackedColour);

    // The mark covers what a 36-pixel disc drawn on the same globe covers, to the pixel edge.
    QImage disc = globe;
    {
        QPainter p(&disc);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawEllipse(QPointF(206, 102), 18, 18);
    }
    auto covered = [&](const QImage &img, int x, int y) {
        const QColor a = At(img, x, y), b = At(globe, x, y);
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue()) >
               120;
    };
    int differ = 0, inDisc = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
            differ += covered(marked, x, y) != covered(disc, x, y);
            inDisc += covered(disc, x, y);
        }
    EXPECT_GT(inDisc, 900);
    // About 2 here; the 18-pixel mark of the small window, doubled, misses by about 40.
    EXPECT_LE(differ, 12);
}

TEST_F(ScaleTest, SecondsCarryAndAltitudeRangeInTheWindow) {
    auto dlg = OpenAt(1.0);
    struct Row {
        std::int32_t lat, lon;
        std::uint16_t altitude;
        const char *latText, *lonText, *altitudeText;
    };
    const Row rows[] = {
        {48016666, 11516666, 40000, "48°01' 0.00\" N", "011°31' 0.00\" E", "40000 M"},
        {-89999999, -179999999, 64536, "90°00' 0.00\" S", "180°00' 0.00\" W", "-1000 M"},
        {31500000, 35500000, 65106, "31°30' 0.00\" N", "035°30' 0.00\" E", "-430 M"},
    };
    for (const Row &r : rows) {
        dlg->m_curFix.lLatitude = r.lat, dlg->m_curFix.lLongitude = r.lon;
        dlg->m_curFix.wAltitude = r.altitude;
        ShowAsLive(*dlg);
        dlg->repaint();
        EXPECT_EQ(ShownText(*dlg, ctl::kLatitude), QString::fromUtf8(r.latText));
        EXPECT_EQ(ShownText(*dlg, ctl::kLongitude), QString::fromUtf8(r.lonText));
        EXPECT_EQ(ShownText(*dlg, ctl::kAltitude), QString::fromUtf8(r.altitudeText));
    }
    dlg->done(QDialog::Rejected);
}

// Records the text of the controls at each of their paints.
class CTextAtPaint : public QObject {
public:
    std::vector<QString> seen;
    bool eventFilter(QObject *o, QEvent *e) override {
        if (e->type() == QEvent::Paint)
            seen.push_back(static_cast<QLabel *>(o)->text());
        return false;
    }
};

TEST_F(ScaleTest, LayoutSwitchNeverShowsPlaceholdersOrOldValues) {
    auto dlg = OpenAt(1.0);
    dlg->m_curFix.lLatitude = 25033000, dlg->m_curFix.lLongitude = 121565000;
    dlg->m_curFix.nPdop = 23, dlg->m_curFix.bValid = 1, dlg->m_curFix.cFixMode = 3;
    ShowAsLive(*dlg);
    dlg->repaint();
    const std::vector<std::pair<int, QString>> compact = {
        {ctl::kCompactLatitude, QString::fromUtf8("25°01' 58.80\" N")},
        {ctl::kCompactLongitude, QString::fromUtf8("121°33' 54.00\" E")},
        {ctl::kCompactPdop, QStringLiteral("2.3")},
        {ctl::kCompactValidity, QStringLiteral("Valid")},
        {ctl::kCompactFixMode, QStringLiteral("3D")}};
    std::vector<std::unique_ptr<CTextAtPaint>> filters;
    for (const auto &[id, text] : compact) {
        filters.push_back(std::make_unique<CTextAtPaint>());
        dlg->GetDlgItem(id)->installEventFilter(filters.back().get());
    }
    static_cast<QPushButton *>(dlg->GetDlgItem(ctl::kToggleView))->click();
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_redrawAll == 0; }, 3000));
    for (size_t i = 0; i < compact.size(); ++i) {
        EXPECT_FALSE(filters[i]->seen.empty()) << compact[i].first;
        for (const QString &t : filters[i]->seen)
            EXPECT_EQ(t, compact[i].second) << compact[i].first;
    }
    dlg->done(QDialog::Rejected);
}

TEST_F(ScaleTest, EveryControlExplainsItself) {
    auto dlg = OpenAt(1.0);
    for (QWidget *w : dlg->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const int id = CDialogBuilder::ItemId(w);
        // The port status explains the connection; that text belongs to the port's own code.
        if (id == ctl::kPortStatus || (id == dlg::kNoId && !qobject_cast<QLabel *>(w)))
            continue;
        EXPECT_FALSE(w->toolTip().isEmpty()) << id << " " << ShownText(*dlg, id).toStdString();
        // Long tooltips are wrapped, not one line across the screen.
        for (const QString &line : w->toolTip().split(QLatin1Char('\n')))
            EXPECT_LE(line.size(), 60) << line.toStdString();
    }
    EXPECT_TRUE(dlg->GetDlgItem(ctl::kToggleView)->toolTip().contains(QStringLiteral("compact")));
    auto *reset = static_cast<QComboBox *>(dlg->GetDlgItem(ctl::kResetList));
    auto *port = static_cast<QComboBox *>(dlg->GetDlgItem(ctl::kPortList));
    const auto resetTip = [&] {
        return dlg->GetDlgItem(ctl::kResetButton)->toolTip().replace(QLatin1Char('\n'), ' ');
    };
    reset->setCurrentIndex(1);
    EXPECT_TRUE(resetTip().contains(QStringLiteral("warm start"))) << resetTip().toStdString();
    port->setCurrentIndex(4);
    EXPECT_TRUE(resetTip().startsWith(QStringLiteral("Close the port")))
        << resetTip().toStdString();
    port->setCurrentIndex(2);
    EXPECT_TRUE(resetTip().contains(QStringLiteral("COM3 (/dev/ttyS2)")))
        << resetTip().toStdString();
    dlg->OnToggleView();
    EXPECT_TRUE(dlg->GetDlgItem(ctl::kToggleView)->toolTip().contains(QStringLiteral("full")));
    dlg->done(QDialog::Rejected);
}

TEST_F(ScaleTest, TimeOptionShiftsTheDateAndTimeAndNamesItself) {
    const QByteArray old = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    struct Row {
        display::TimeRule rule;
        const char *date, *time, *tip;
    } const rows[] = {
        {display::TimeRule::Standard, "2026/06/30", "23:30:00",
         "Local standard time, UTC+01:00 (summer time not applied)"},
        {display::TimeRule::Local, "2026/07/01", "00:30:00", "Local time, UTC+0"},
        {display::TimeRule::Utc, "2026/06/30", "22:30:00", "UTC"},
    };
    for (const Row &r : rows) {
        CStatusDlg dlg;
        dlg.m_timeRule = r.rule;
        dlg.OnInitDialog();
        dlg.m_curFix.nYear = 2026, dlg.m_curFix.bMonth = 6, dlg.m_curFix.bDay = 30;
        dlg.m_curFix.bHour = 23, dlg.m_curFix.bMinute = 30;
        ShowAsLive(dlg);
        dlg.show();
        PumpUntil([&] { return dlg.m_redrawAll == 0; }, 3000);
        EXPECT_EQ(ShownText(dlg, ctl::kDate), QString::fromUtf8(r.date));
        EXPECT_EQ(ShownText(dlg, ctl::kTime), QString::fromUtf8(r.time));
        EXPECT_TRUE(dlg.GetDlgItem(ctl::kTime)->toolTip().startsWith(QString::fromUtf8(r.tip)))
            << dlg.GetDlgItem(ctl::kTime)->toolTip().toStdString();
        dlg.done(QDialog::Rejected);
    }
    if (hadTz)
        qputenv("TZ", old);
    else
        qunsetenv("TZ");
}
