#include "StatusDlg.h"

#include "BaudRates.h"
#include "Canvas.h"
#include "DialogBuilder.h"
#include "OpeningZoom.h"
#include "SkyView.h"
#include "StatusDlgTemplate.h"
#include "TextFields.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QHash>
#include <QHelpEvent>
#include <QIcon>
#include <QLabel>
#include <QPaintEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QToolTip>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kClientWidth = 240;
constexpr int kClientHeight = 268;
// The strip of the canvas below the text fields that reaches the screen (the signal bars).
constexpr int kStripTop = 203;
constexpr int kRefreshTimer = 1;
constexpr int kRefreshMs = 1000;

} // namespace

struct CStatusDlg::Controls {
    std::vector<QWidget*> all; // template order
    QHash<int, QWidget*> byId;
};

CStatusDlg::CStatusDlg(QWidget* parent) : QDialog(parent) {
    setWindowIcon([] {
        QIcon icon;
        icon.addFile(QString::fromUtf8(res::kIcon32Path), QSize(32, 32));
        icon.addFile(QString::fromUtf8(res::kIcon16Path), QSize(16, 16));
        return icon;
    }());
}

// m_port's destructor closes the connection and stops the reader after the window has gone.
CStatusDlg::~CStatusDlg() { delete m_controls; }

QWidget* CStatusDlg::GetDlgItem(int id) const {
    return m_controls ? m_controls->byId.value(id, nullptr) : nullptr;
}

bool CStatusDlg::OnInitDialog() {
    if (m_controls)
        return true;

    // The dialog's own start-up: controls and list data from the template, one exchange.
    m_controls = new Controls;
    CDialogBuilder builder(res::kStatusDlgTemplate, kClientWidth, kClientHeight);
    m_controls->all = builder.Build(*this);
    for (QWidget* w : m_controls->all) {
        const int id = CDialogBuilder::ItemId(w);
        if (id != dlg::kNoId)
            m_controls->byId.insert(id, w);
    }
    connect(static_cast<QAbstractButton*>(GetDlgItem(1014)), &QAbstractButton::clicked, this,
            &CStatusDlg::OnResetButton);
    connect(static_cast<QAbstractButton*>(GetDlgItem(1033)), &QAbstractButton::clicked, this,
            &CStatusDlg::OnToggleView);
    DoDataExchange(false);

    // The icon is set in the constructor; centre over the screen's work area.
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }

    std::memset(&m_curFix, 0, sizeof m_curFix);
    ApplyViewMode();
    m_port.Open(4, 4800);

    m_globeBitmap = QImage(QString::fromUtf8(res::kGlobePath)).convertToFormat(QImage::Format_RGB32);

    m_nTimerId = startTimer(kRefreshMs);

    if (m_port.m_hPort == -1 || m_port.m_hThread == -1) {
        m_nPortIndex = 1;
        m_nBaudIndex = 2;
        m_nResetIndex = 3;
        m_strStatus = QStringLiteral("COM is off");
    } else {
        m_nPortIndex = m_port.m_nPort - 1;
        m_nBaudIndex = BaudIndexForRate(m_port.m_nBaud);
        m_nResetIndex = 3;
        m_strStatus = QString::asprintf("COM%d is on", m_nPortIndex + 1);
    }
    DoDataExchange(false);

    if (QWidget* first = GetDlgItem(1033))
        first->setFocus(Qt::OtherFocusReason);
    return true;
}

void CStatusDlg::DoDataExchange(bool saveAndValidate) {
    auto* port = static_cast<QComboBox*>(GetDlgItem(1011));
    auto* baud = static_cast<QComboBox*>(GetDlgItem(1013));
    auto* reset = static_cast<QComboBox*>(GetDlgItem(1016));
    auto* status = static_cast<QLabel*>(GetDlgItem(1000));
    if (!port || !baud || !reset || !status)
        return;
    if (saveAndValidate) {
        m_nPortIndex = port->currentIndex();
        m_nBaudIndex = baud->currentIndex();
        m_nResetIndex = reset->currentIndex();
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
    m_port.CopyFix(m_curFix);
    m_port.CopySky(m_curSky);
    // Without erase: the paint copies the canvas over the globe and the strip.
    update();
}

void CStatusDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_zoomTimer.timerId()) {
        if (++m_nZoomStep >= display::kZoomSteps) {
            m_zoomTimer.stop();
            m_nZoomStep = -1;
            m_bZoomPlayed = true;
            update();
        } else {
            const QImage& g = m_globeBitmap;
            update(0, 0, g.width(), g.height());
        }
        return;
    }
    if (m_nTimerId != 0 && event->timerId() == m_nTimerId)
        OnTimer(kRefreshTimer);
    QDialog::timerEvent(event);
}

bool CStatusDlg::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (QRect(0, 0, m_globeBitmap.width(), m_globeBitmap.height()).contains(help->pos())) {
            QToolTip::showText(help->globalPos(), display::SkyToolTip(m_curSky), this);
            return true;
        }
    }
    return QDialog::event(event);
}

void CStatusDlg::closeEvent(QCloseEvent* event) {
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

void CStatusDlg::paintEvent(QPaintEvent*) { OnPaint(); }

void CStatusDlg::OnPaint() {
    const int gw = m_globeBitmap.width();
    const int gh = m_globeBitmap.height();
    CCanvas screen(this);

    // The opening zoom: Qt composes each paint off screen, so its steps are frames of their
    // own, about 12 ms apart, before the paint that writes the texts and the satellites.
    if (m_redrawAll && !m_bZoomPlayed) {
        if (m_nZoomStep < 0) {
            m_nZoomStep = 0;
            m_zoomTimer.start(display::kZoomFrameMs, this);
        }
        const QRect r = display::ZoomStep(m_nZoomStep, gw, gh);
        screen.FillRect(0, 0, gw, gh, Qt::white);
        screen.StretchBlt(r.x(), r.y(), r.width(), r.height(), m_globeBitmap, 0, 0, gw, gh);
        return;
    }

    const QRect rc = rect();
    QImage canvasImage(rc.width(), rc.height(), QImage::Format_RGB32);
    {
        CCanvas canvas(&canvasImage);
        canvas.FillRect(0, 0, rc.width(), rc.height(), Qt::white);
        canvas.BitBlt(0, 0, gw, gh, m_globeBitmap, 0, 0);
        UpdateTextFields(canvas);
    }
    screen.BitBlt(0, 0, gw, gh, canvasImage, 0, 0);
    screen.BitBlt(0, kStripTop, rc.width(), rc.height() - kStripTop, canvasImage, 0, kStripTop);
    m_redrawAll = 0;
    m_bZoomPlayed = false;
}

void CStatusDlg::UpdateTextFields(CCanvas& canvas) {
    DrawSkyView(canvas);
    for (const display::TextField& f :
         display::ChangedTextFields(m_curFix, m_prevFix, m_viewMode,
                                    m_redrawAll != 0 || m_rewriteAll)) {
        if (auto* label = qobject_cast<QLabel*>(GetDlgItem(f.id)))
            label->setText(f.text);
    }
    m_rewriteAll = false;
    std::memcpy(&m_prevFix, &m_curFix, sizeof m_prevFix);
}

void CStatusDlg::DrawSkyView(CCanvas& canvas) {
    display::DrawSkyView(canvas, m_curSky, m_viewMode, m_globeBitmap.width(),
                         m_globeBitmap.height());
}
