#pragma once

#include "GpsFix.h"
#include "GpsPort.h"
#include "ViewMode.h"

#include <QBasicTimer>
#include <QDialog>
#include <QImage>
#include <QString>

class CCanvas;
class QCloseEvent;
class QEvent;
class QPaintEvent;
class QTimerEvent;
class QWidget;

// The one window: the sky view over the globe, the status texts, and the port settings.
class CStatusDlg : public QDialog {
    Q_OBJECT

public:
    explicit CStatusDlg(QWidget* parent = nullptr);
    ~CStatusDlg() override;

    // Builds the controls from template 102 and runs the start-up; called once before show().
    bool OnInitDialog();

    // The dialog's control with this identifier (every identifier of template 102 exists once
    // OnInitDialog has built them; nullptr before).
    QWidget* GetDlgItem(int id) const;

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

    // State the display, the layouts and the reset command share.
    int m_redrawAll = 1;
    // Set by the Re-set command: the next text pass writes every field of the layout, no zoom.
    bool m_rewriteAll = false;
    ViewMode m_viewMode = kViewFull;
    int m_nPortIndex = 1;
    int m_nBaudIndex = 2;
    int m_nResetIndex = 3;
    QString m_strStatus;
    GpsFix m_curFix{};
    GpsFix m_prevFix{};
    // The satellite table as of the last tick; the sky view and the bars draw from it.
    SkyView m_curSky{};
    CGpsPort m_port;
    QImage m_globeBitmap; // picture 130

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    // The sky view's tooltip: the legend and the satellites per system.
    bool event(QEvent* event) override;
    // The title bar's close button is the window's OK: the controls go to the members first.
    void closeEvent(QCloseEvent* event) override;

private:
    void OnPaint();
    void UpdateTextFields(CCanvas& canvas);
    void DrawSkyView(CCanvas& canvas);

    int m_nTimerId = 0;
    // The opening zoom plays as frames on the screen before the paint that m_redrawAll asks for:
    // m_nZoomStep is the frame on show (-1: none), m_bZoomPlayed says the frames are done.
    QBasicTimer m_zoomTimer;
    int m_nZoomStep = -1;
    bool m_bZoomPlayed = false;
    struct Controls;
    Controls* m_controls = nullptr;
};
