#pragma once

#include "BaudRates.h"
#include "EpochRepaint.h"
#include "GpsPort.h"
#include "TextFields.h"
#include "TimeRule.h"
#include "ViewMode.h"
#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "receiver/RestartKind.h"

#include <QBasicTimer>
#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>
#include <chrono>
#include <string>

class CCanvas;
class CDesktopView;
class QCloseEvent;
class QEvent;
class QPaintEvent;
class QResizeEvent;
class QTimer;
class QTimerEvent;
class QWidget;

// The one window: the sky view over the globe, the status texts, and the port settings.
class CStatusDlg : public QDialog {
    Q_OBJECT

public:
    explicit CStatusDlg(QWidget *parent = nullptr);
    ~CStatusDlg() override;

    // Builds the controls from template 102 and runs the start-up; called once before show().
    bool OnInitDialog();

    // The dialog's control with this identifier (every identifier of template 102 exists once
    // OnInitDialog has built them; nullptr before).
    QWidget *GetDlgItem(int id) const;

    // The window's end: timer 1 is killed first; the port stays open until the object goes.
    void done(int result) override;

    // false: members to controls; true: controls to members.
    void DoDataExchange(bool saveAndValidate);

    void ApplyViewMode();
    // Switches the layout, sets m_redrawAll and repaints at once (repaint(), which runs OnPaint
    // through paintEvent: Qt paints a widget only inside its paint event).
    void OnToggleView();
    void OnResetButton();
    void SendColdStart();
    void SendWarmStart();
    void SendHotStart();
    // Timer 1: take the snapshot and repaint without erasing; any other identifier does nothing.
    void OnTimer(int nIdEvent);
    // Tooltips that follow the lists, the layout and the open port.
    void UpdateToolTips();
    // The caption says whether what the window shows is live; the port status's tooltip tells
    // the device, the counts and the last error.
    void UpdateLiveStatus();
    // Set while another thread changes the receiver's settings through the port (a baud change
    // reopens it there): Re-set and the port lists wait, and the tick leaves the port's numbers
    // alone; why says so. Cleared (empty why), the baud list follows a new speed.
    void SetPortBusy(const QString &why);
    bool PortBusy() const { return !m_strPortBusy.isEmpty(); }

    // State the display, the layouts and the reset command share.
    int m_redrawAll = 1;
    // Set by the Re-set command: the next text pass writes every field of the layout, no zoom.
    bool m_rewriteAll = false;
    ViewMode m_viewMode = kViewFull;
    // Set before OnInitDialog: the layout by the window's size, or the one asked for.
    LayoutChoice m_layoutChoice = LayoutChoice::Auto;
    int m_nPortIndex = 1;
    int m_nBaudIndex = kNmeaBaudIndex;
    int m_nResetIndex = 3;
    QString m_strStatus;
    // Set before OnInitDialog: the first size in multiples of 240 x 268, and how the date and
    // time are shown.
    double m_startScale = 1.0;
    display::TimeRule m_timeRule = display::TimeRule::Local;
    GpsFix m_curFix{};
    GpsFix m_prevFix{};
    // Which fields of m_curFix the stream set, and the fix quality, as of the last tick.
    FixExtra m_curExtra{};
    // Set by UpdateLiveStatus while no data comes (silent, unplugged, closed): the values and
    // the marks turn grey and the validity reads "No data".
    bool m_bNoData = false;
    // The live state in a few words, "" while data flows (LiveText).
    QString m_strLive;
    // The satellite table as of the last tick; the sky view and the bars draw from it.
    SkyView m_curSky{};
    // The jamming and spoofing watch as of the last tick: the desktop's banner, the caption.
    WatchStatus m_curWatch;
    // The NTRIP client's state as of the last tick: the desktop's fix panel.
    CorrectionStatus m_curCorrections;
    CGpsPort m_port;
    // Repaints once a receiver epoch is complete; the tick paints while none arrive.
    CEpochRepaint m_epochRepaint{m_port, [this] {
                                     if (m_nTimerId != 0)
                                         OnTimer(1);
                                 }};
    QImage m_globeBitmap; // picture 130
    // Why no receiver is open, for the caption. Set before OnInitDialog, the start-up opens
    // nothing (discovery found no receiver).
    QString m_strOpenFailure;
    // Further receivers discovery found but did not open, and devices it passed over.
    QStringList m_otherReceivers;
    // Why the last Re-set's restart command did not reach the receiver, or that it waits for the
    // receiver to name itself, for the caption.
    QString m_strSendFailure;

    // True while the desktop layout is on show; its view, or nullptr before OnInitDialog.
    bool IsDesktop() const { return m_bDesktop; }
    CDesktopView *Desktop() const { return m_desktop; }

    // Window pixels per pixel of the 240 x 268 layout, and where that layout's corner lies.
    qreal Zoom() const { return m_zoom; }
    QPoint LayoutOrigin() const { return m_origin; }

protected:
    void paintEvent(QPaintEvent *event) override;
    // The whole layout scales with the window, keeping its proportions.
    void resizeEvent(QResizeEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    // The sky view's tooltip: the legend and the satellites per system.
    bool event(QEvent *event) override;
    // The title bar's close button is the window's OK: the controls go to the members first.
    void closeEvent(QCloseEvent *event) override;

private:
    // Sends the restart in the recognised receiver's language and starts timing it; a receiver
    // that has not named itself is asked first, and the restart follows its answer.
    void SendRestart(RestartKind kind);
    void SendRestartNow(RestartKind kind);
    void NoteRestartNotSent(RestartKind kind, const std::string &why);
    void OnPaint();
    void UpdateTextFields(CCanvas &canvas);
    void DrawSkyView(CCanvas &canvas);
    void Relayout();
    // Whether the window's size (or the choice) calls for the desktop layout.
    bool WantsDesktop() const;
    // Places the port controls in a row under the desktop view.
    void PlaceDesktop();
    // Gives the desktop view the snapshot of this tick.
    void UpdateDesktop();
    // The globe picture at the canvas's device scale, scaled smoothly once per scale.
    const QImage &GlobeAt(qreal scale);
    // Writes the texts of the layout about to be shown, so it never shows stale ones.
    void WriteLayoutTexts();
    void SetToolTips();
    // The port list names each entry's device, the open one as what it really is (gpsd, network).
    void UpdatePortToolTips();
    QRect ToWindow(const QRect &units) const;

    int m_nTimerId = 0;
    // Why the port is another thread's now, and its speed when it became so.
    QString m_strPortBusy;
    int m_nBusyBaud = -1;
    // A restart waiting up to kFamilyQueryMs for the receiver to answer the family queries.
    QTimer *m_restartWait = nullptr;
    RestartKind m_pendingRestart = RestartKind::Cold;
    std::chrono::steady_clock::time_point m_restartAsked{};
    // The opening zoom plays as frames on the screen before the paint that m_redrawAll asks for:
    // m_nZoomStep is the frame on show (-1: none), m_bZoomPlayed says the frames are done.
    QBasicTimer m_zoomTimer;
    int m_nZoomStep = -1;
    bool m_bZoomPlayed = false;
    qreal m_zoom = 1.0;
    QPoint m_origin;
    QImage m_globeScaled;
    // Seconds west of UTC of the record's local standard time (the decoder's bias).
    int m_nBiasSeconds = 0;
    // What the value controls show beside m_prevFix: which fields were sent, and staleness.
    display::FixFacts m_prevFacts{0, false};
    bool m_bShownGrey = false;
    // The offset from UTC of the shown time, seconds east, which its tooltip names.
    int m_nShownOffset = 0;
    // Greys the value controls while no data comes, and turns them back.
    void GreyValues(bool grey);
    CDesktopView *m_desktop = nullptr;
    bool m_bDesktop = false;
    struct Controls;
    Controls *m_controls = nullptr;
};
