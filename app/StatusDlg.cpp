#include "StatusDlg.h"

#include "AlarmBanner.h"
#include "BaudRates.h"
#include "Canvas.h"
#include "ControlIds.h"
#include "DialogBuilder.h"
#include "LiveCaption.h"
#include "OpeningZoom.h"
#include "SkyView.h"
#include "StatusDlgTemplate.h"
#include "TextFields.h"
#include "TimeZone.h"
#include "views/DesktopView.h"
#include "views/ReceiverSettingsDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHash>
#include <QHelpEvent>
#include <QIcon>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QResizeEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QToolTip>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr int kClientWidth = 240;
constexpr int kClientHeight = 268;
// The strip of the canvas below the text fields that reaches the screen (the signal bars).
constexpr int kStripTop = 203;
constexpr int kRefreshTimer = 1;
constexpr int kRefreshMs = 1000;
// The Earth's disc in picture 130, in its pixels' coordinates (the pixel centres lie at .5), and
// how far in its stepped rim keeps the sea and land whole.
constexpr QPointF kGlobeCentre(77.5, 78.5);
constexpr qreal kGlobeRadius = 73.6;

} // namespace

struct CStatusDlg::Controls {
    std::vector<QWidget *> all; // template order
    QHash<int, QWidget *> byId;
};

CStatusDlg::CStatusDlg(QWidget *parent) : QDialog(parent) {
    setWindowIcon([] {
        QIcon icon;
        icon.addFile(QString::fromUtf8(res::kIcon32Path), QSize(32, 32));
        icon.addFile(QString::fromUtf8(res::kIcon16Path), QSize(16, 16));
        return icon;
    }());
}

// m_port's destructor closes the connection and stops the reader after the window has gone.
CStatusDlg::~CStatusDlg() {
    // Its worker may still use the port, which goes with this object before its children.
    qDeleteAll(findChildren<CReceiverSettingsDialog *>());
    delete m_controls;
}

QWidget *CStatusDlg::GetDlgItem(int id) const {
    return m_controls ? m_controls->byId.value(id, nullptr) : nullptr;
}

bool CStatusDlg::OnInitDialog() {
    if (m_controls)
        return true;

    // The dialog's own start-up: controls and list data from the template, one exchange.
    m_controls = new Controls;
    CDialogBuilder builder(res::kStatusDlgTemplate, kClientWidth, kClientHeight);
    m_controls->all = builder.Build(*this);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    // Never smaller than the layout's own size, or than a smaller --scale asked for.
    const double minimum = std::min(1.0, m_startScale);
    setMinimumSize(qCeil(kClientWidth * minimum), qCeil(kClientHeight * minimum));
    resize(qRound(kClientWidth * m_startScale), qRound(kClientHeight * m_startScale));
    m_nBiasSeconds = platform::StandardBiasSeconds();
    m_nShownOffset = m_timeRule == display::TimeRule::Utc ? 0
                     : m_timeRule == display::TimeRule::Standard
                         ? -m_nBiasSeconds
                         : platform::UtcOffsetSecondsAt(static_cast<long long>(std::time(nullptr)));
    for (QWidget *w : m_controls->all) {
        const int id = CDialogBuilder::ItemId(w);
        if (id != dlg::kNoId)
            m_controls->byId.insert(id, w);
    }
    m_desktop = new CDesktopView(this);
    m_desktop->hide();
    if (m_layoutChoice == LayoutChoice::Compact)
        m_viewMode = kViewCompact;
    connect(static_cast<QAbstractButton *>(GetDlgItem(ctl::kResetButton)),
            &QAbstractButton::clicked, this, &CStatusDlg::OnResetButton);
    connect(static_cast<QAbstractButton *>(GetDlgItem(ctl::kToggleView)), &QAbstractButton::clicked,
            this, &CStatusDlg::OnToggleView);
    DoDataExchange(false);
    Relayout();

    // The icon is set in the constructor; centre over the screen's work area.
    if (QScreen *s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }

    std::memset(&m_curFix, 0, sizeof m_curFix);
    ApplyViewMode();
    if (m_strOpenFailure.isEmpty())
        m_port.Open(4, platform::kNmeaBaud);

    m_globeBitmap =
        QImage(QString::fromUtf8(res::kGlobePath)).convertToFormat(QImage::Format_RGB32);

    m_nTimerId = startTimer(kRefreshMs);

    if (m_port.m_hPort == -1 || m_port.m_hThread == -1) {
        m_nPortIndex = 1;
        m_nBaudIndex = kNmeaBaudIndex;
        m_nResetIndex = 3;
        m_strStatus = QStringLiteral("COM is off");
        if (m_strOpenFailure.isEmpty())
            m_strOpenFailure = ShortOpenFailure(m_port.LastOpenError(),
                                                QString::fromStdString(m_port.LastOpenDevice()));
    } else {
        m_nPortIndex = m_port.m_nPort - 1;
        m_nBaudIndex = BaudIndexForRate(m_port.m_nBaud);
        m_nResetIndex = 3;
        m_strStatus = QString::asprintf("COM%d is on", m_nPortIndex + 1);
    }
    DoDataExchange(false);
    SetToolTips();
    UpdateLiveStatus();

    if (QWidget *first = GetDlgItem(ctl::kToggleView))
        first->setFocus(Qt::OtherFocusReason);
    return true;
}

void CStatusDlg::DoDataExchange(bool saveAndValidate) {
    auto *port = static_cast<QComboBox *>(GetDlgItem(ctl::kPortList));
    auto *baud = static_cast<QComboBox *>(GetDlgItem(ctl::kBaudList));
    auto *reset = static_cast<QComboBox *>(GetDlgItem(ctl::kResetList));
    auto *status = static_cast<QLabel *>(GetDlgItem(ctl::kPortStatus));
    if (!port || !baud || !reset || !status)
        return;
    if (saveAndValidate) {
        m_nPortIndex = port->currentIndex();
        m_nBaudIndex = baud->currentIndex();
        m_nResetIndex = reset->currentIndex();
        // The hint for a gone pseudo-terminal stands in for the port's state; it is not one.
        if (status->text() != QLatin1String(kPressResetText))
            m_strStatus = status->text();
    } else {
        port->setCurrentIndex(m_nPortIndex);
        baud->setCurrentIndex(m_nBaudIndex);
        reset->setCurrentIndex(m_nResetIndex);
        status->setText(m_strStatus);
    }
}

void CStatusDlg::OnTimer(int nIdEvent) {
    if (nIdEvent != kRefreshTimer)
        return;
    m_port.CopyFix(m_curFix, m_curExtra);
    m_port.CopySky(m_curSky);
    m_curWatch = m_port.CopyWatch();
    m_curCorrections = m_port.CopyCorrections();
    UpdateLiveStatus();
    UpdateDesktop();
    m_epochRepaint.Painted();
    // Without erase: the paint copies the canvas over the globe and the strip.
    update();
}

void CStatusDlg::timerEvent(QTimerEvent *event) {
    if (event->timerId() == m_zoomTimer.timerId()) {
        if (++m_nZoomStep >= display::kZoomSteps) {
            m_zoomTimer.stop();
            m_nZoomStep = -1;
            m_bZoomPlayed = true;
            update();
        } else {
            update(ToWindow(QRect(0, 0, m_globeBitmap.width(), m_globeBitmap.height())));
        }
        return;
    }
    if (m_nTimerId != 0 && event->timerId() == m_nTimerId && m_epochRepaint.TickPaints())
        OnTimer(kRefreshTimer);
    QDialog::timerEvent(event);
}

bool CStatusDlg::event(QEvent *event) {
    if (event->type() == QEvent::ToolTip && !m_bDesktop) {
        auto *help = static_cast<QHelpEvent *>(event);
        // The sky view lies in layout units, which the window may have scaled.
        const QPointF at = QPointF(help->pos() - LayoutOrigin()) / Zoom();
        if (QRectF(0, 0, m_globeBitmap.width(), m_globeBitmap.height()).contains(at)) {
            QToolTip::showText(help->globalPos(), display::SkyToolTip(m_curSky), this);
            return true;
        }
    }
    return QDialog::event(event);
}

void CStatusDlg::closeEvent(QCloseEvent *event) {
    if (isVisible()) {
        DoDataExchange(true);
        accept();
    }
    event->accept();
}

void CStatusDlg::done(int result) {
    if (m_nTimerId != 0) {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
    }
    m_zoomTimer.stop();
    QDialog::done(result);
}

void CStatusDlg::paintEvent(QPaintEvent *) {
    OnPaint();
}

void CStatusDlg::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    Relayout();
}

bool CStatusDlg::WantsDesktop() const {
    switch (m_layoutChoice) {
    case LayoutChoice::Desktop:
        return true;
    case LayoutChoice::Full:
    case LayoutChoice::Compact:
        return false;
    case LayoutChoice::Auto:
        break;
    }
    // The dialog at its own size, --scale included, keeps its layouts.
    const double own = std::max(1.0, m_startScale) * 1.6;
    return width() >= kClientWidth * own && height() >= kClientHeight * own;
}

void CStatusDlg::Relayout() {
    if (!m_controls)
        return;
    if (const bool desktop = WantsDesktop(); desktop != m_bDesktop) {
        m_bDesktop = desktop;
        ApplyViewMode();
        if (desktop) {
            UpdateDesktop();
        } else {
            // The layout comes back with the current values, without the opening zoom.
            WriteLayoutTexts();
            m_rewriteAll = true;
        }
    }
    if (m_bDesktop) {
        PlaceDesktop();
        update();
        return;
    }
    m_zoom = std::min(width() / static_cast<qreal>(kClientWidth),
                      height() / static_cast<qreal>(kClientHeight));
    // The layout keeps its proportions, centred in a window of another shape.
    m_origin = QPoint(qFloor((width() - kClientWidth * m_zoom) / 2),
                      qFloor((height() - kClientHeight * m_zoom) / 2));
    QHash<int, QStringList> widest = display::WidestTexts();
    widest[ctl::kPortStatus] << QStringLiteral("COM4 is on") << QStringLiteral("COM is off")
                             << QString::fromLatin1(kPressResetText);
    CDialogBuilder(res::kStatusDlgTemplate, kClientWidth, kClientHeight)
        .Place(*this, m_controls->all, m_zoom, m_origin, widest);
    update();
}

QRect CStatusDlg::ToWindow(const QRect &units) const {
    return QRectF(m_origin.x() + units.x() * m_zoom, m_origin.y() + units.y() * m_zoom,
                  units.width() * m_zoom, units.height() * m_zoom)
        .toAlignedRect();
}

const QImage &CStatusDlg::GlobeAt(qreal scale) {
    if (scale == 1.0)
        return m_globeBitmap;
    if (m_globeScaled.isNull() || m_globeScaled.devicePixelRatio() != scale) {
        m_globeScaled = m_globeBitmap.scaled(qRound(m_globeBitmap.width() * scale),
                                             qRound(m_globeBitmap.height() * scale),
                                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_globeScaled.setDevicePixelRatio(scale);
        // Smoothing blurs the picture's one-pixel lines and its stepped rim: they are drawn
        // again at the full resolution, where picture 130 has them.
        QPainter p(&m_globeScaled);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 1.0));
        for (qreal r : {26.0, 44.0, 63.0})
            p.drawEllipse(kGlobeCentre, r, r);
        p.drawLine(QPointF(kGlobeCentre.x(), 5), QPointF(kGlobeCentre.x(), 153));
        p.drawLine(QPointF(3, kGlobeCentre.y()), QPointF(152, kGlobeCentre.y()));
        QPainterPath rim;
        rim.addEllipse(kGlobeCentre, kGlobeRadius + 2.9, kGlobeRadius + 2.9);
        rim.addEllipse(kGlobeCentre, kGlobeRadius, kGlobeRadius);
        p.fillPath(rim, Qt::black);
    }
    return m_globeScaled;
}

void CStatusDlg::OnPaint() {
    const int gw = m_globeBitmap.width();
    const int gh = m_globeBitmap.height();
    if (m_bDesktop) {
        // The desktop view and the settings row paint themselves.
        QPainter(this).fillRect(rect(), palette().window());
        m_redrawAll = 0;
        return;
    }
    CCanvas screen(this, m_origin, m_zoom);
    const QImage &globe = GlobeAt(screen.Scale());

    // The opening zoom: Qt composes each paint off screen, so its steps are frames of their
    // own, about 12 ms apart, before the paint that writes the texts and the satellites.
    if (m_redrawAll && !m_bZoomPlayed) {
        if (m_nZoomStep < 0) {
            m_nZoomStep = 0;
            m_zoomTimer.start(display::kZoomFrameMs, this);
        }
        const QRect r = display::ZoomStep(m_nZoomStep, gw, gh);
        screen.FillRect(0, 0, gw, gh, Qt::white);
        screen.StretchBlt(r.x(), r.y(), r.width(), r.height(), globe, 0, 0, gw, gh);
        return;
    }

    // The canvas has the layout's 240 x 268 units at the screen's own pixels: drawn at full
    // resolution and copied pixel for pixel.
    const qreal scale = screen.Scale();
    QImage canvasImage(qCeil(kClientWidth * scale), qCeil(kClientHeight * scale),
                       QImage::Format_RGB32);
    canvasImage.setDevicePixelRatio(scale);
    {
        CCanvas canvas(&canvasImage);
        canvas.FillRect(0, 0, kClientWidth, kClientHeight, Qt::white);
        canvas.BitBlt(0, 0, gw, gh, globe, 0, 0);
        UpdateTextFields(canvas);
    }
    screen.BitBlt(0, 0, gw, gh, canvasImage, 0, 0);
    screen.BitBlt(0, kStripTop, kClientWidth, kClientHeight - kStripTop, canvasImage, 0, kStripTop);
    m_redrawAll = 0;
    m_bZoomPlayed = false;
}

void CStatusDlg::UpdateTextFields(CCanvas &canvas) {
    DrawSkyView(canvas);
    GpsFix cur = m_curFix, prev = m_prevFix;
    const int shownOffset = display::ApplyTimeRule(cur, m_timeRule, m_nBiasSeconds);
    display::ApplyTimeRule(prev, m_timeRule, m_nBiasSeconds);
    const display::FixFacts facts{m_curExtra.sent, m_bNoData};
    for (const display::TextField &f : display::ChangedTextFields(
             cur, prev, m_viewMode, m_redrawAll != 0 || m_rewriteAll, facts, m_prevFacts)) {
        if (auto *label = qobject_cast<QLabel *>(GetDlgItem(f.id)))
            label->setText(f.text);
    }
    // The time's tooltip names the offset applied to it, which summer time changes.
    if (shownOffset != m_nShownOffset) {
        m_nShownOffset = shownOffset;
        UpdateToolTips();
    }
    m_rewriteAll = false;
    std::memcpy(&m_prevFix, &m_curFix, sizeof m_prevFix);
    m_prevFacts = facts;
    GreyValues(m_bNoData);
}

void CStatusDlg::GreyValues(bool grey) {
    if (grey == m_bShownGrey)
        return;
    m_bShownGrey = grey;
    for (int id : {ctl::kDate, ctl::kTime, ctl::kLatitude, ctl::kLongitude, ctl::kAltitude,
                   ctl::kSpeed, ctl::kHdop, ctl::kPdop, ctl::kCourse, ctl::kCompactLatitude,
                   ctl::kCompactLongitude, ctl::kCompactPdop})
        if (QWidget *w = GetDlgItem(id)) {
            QPalette p = w->palette();
            p.setColor(QPalette::WindowText,
                       grey ? display::kStaleColour : palette().color(QPalette::WindowText));
            w->setPalette(p);
        }
}

void CStatusDlg::DrawSkyView(CCanvas &canvas) {
    display::DrawSkyView(canvas, m_curSky, m_viewMode, m_globeBitmap.width(),
                         m_globeBitmap.height(), m_bNoData);
}

void CStatusDlg::WriteLayoutTexts() {
    GpsFix cur = m_curFix;
    display::ApplyTimeRule(cur, m_timeRule, m_nBiasSeconds);
    const display::FixFacts facts{m_curExtra.sent, m_bNoData};
    for (const display::TextField &f :
         display::ChangedTextFields(cur, cur, m_viewMode, true, facts, facts))
        if (auto *label = qobject_cast<QLabel *>(GetDlgItem(f.id)))
            label->setText(f.text);
}

void CStatusDlg::PlaceDesktop() {
    // The desktop's own font, not the dialog's scaled one.
    QFont font = QApplication::font();
    font.setStyleStrategy(QFont::PreferAntialias);
    setFont(font);
    const int margin = 6;
    int rowH = 0;
    const int ids[] = {ctl::kPortList,    ctl::kBaudList,   ctl::kResetList,
                       ctl::kResetButton, ctl::kToggleView, ctl::kPortStatus};
    for (int id : ids)
        if (QWidget *w = GetDlgItem(id))
            rowH = std::max(rowH, w->sizeHint().height());
    const int top = height() - rowH - margin;
    int x = margin;
    for (int id : ids) {
        QWidget *w = GetDlgItem(id);
        if (!w)
            continue;
        int width = w->sizeHint().width();
        if (id == ctl::kPortStatus)
            width = std::max(width,
                             w->fontMetrics().horizontalAdvance(QStringLiteral("COM4 is on")) + 8);
        w->setGeometry(x, top, width, rowH);
        x += width + margin;
    }
    m_desktop->setGeometry(0, 0, width(), std::max(0, top - margin));
}

void CStatusDlg::UpdateDesktop() {
    if (!m_bDesktop || !m_desktop)
        return;
    GpsFix cur = m_curFix;
    const int shownOffset = display::ApplyTimeRule(cur, m_timeRule, m_nBiasSeconds);
    m_desktop->SetZone(display::TimeZoneName(m_timeRule, shownOffset));
    m_desktop->Show(cur, display::FixFacts{m_curExtra.sent, m_bNoData}, m_curExtra, m_curSky,
                    m_strLive, m_curCorrections);
    m_desktop->ShowAlarms(display::BannerLines(m_curWatch, m_bNoData));
}
