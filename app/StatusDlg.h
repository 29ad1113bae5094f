#pragma once

#include "GpsFix.h"
#include "GpsPort.h"
#include "ViewMode.h"

#include <QDialog>
#include <QImage>
#include <QString>

class QPaintEvent;
class QTimerEvent;
class QPainter;
class QWidget;

// The one window: the sky view over the globe, the status texts, and the port settings.
class CStatusDlg : public QDialog {
    Q_OBJECT

public:
    explicit CStatusDlg(QWidget* parent = nullptr);
    ~CStatusDlg() override;

    // Builds the controls from template 102 and runs the start-up; called once before show().
    bool OnInitDialog();

    // The dialog's control with this identifier (every identifier of template 102 exists).
    QWidget* GetDlgItem(int id) const;

    // false: members to controls; true: controls to members.
    void DoDataExchange(bool saveAndValidate);

    void ApplyViewMode();
    void OnToggleView();
    void OnResetButton();
    void SendColdStart();
    void SendWarmStart();
    void SendHotStart();
    void OnTimer(int nIdEvent);

    // State the display, the layouts and the reset command share.
    int m_redrawAll = 1;
    ViewMode m_viewMode = kViewFull;
    int m_nPortIndex = 1;
    int m_nBaudIndex = 2;
    int m_nResetIndex = 3;
    QString m_strStatus;
    GpsFix m_curFix{};
    GpsFix m_prevFix{};
    CGpsPort m_port;
    QImage m_globeBitmap; // picture 130

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void done(int result) override; // the window's end: timer 1 is killed first

private:
    void OnPaint();
    void UpdateTextFields(QPainter& canvas);
    void DrawSkyView(QPainter& canvas);

    int m_nTimerId = 0;
    struct Controls;
    Controls* m_controls = nullptr;
};
