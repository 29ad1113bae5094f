#pragma once

#include "SessionRecorder.h"

#include <QObject>
#include <QString>

class CStatusDlg;
class QAction;
class QPoint;

// The window's context menu for the session's history, with its keys: start and stop a recording
// (Ctrl+R).
class CSessionMenu : public QObject {
    Q_OBJECT

public:
    explicit CSessionMenu(CStatusDlg &dlg);

    // Starts recording to path; the reason it could not, or empty.
    QString StartRecording(const QString &path, bool overwrite);
    void StopRecording();
    // Stops a recording in progress, or asks for a file and starts one.
    void ToggleRecording();
    QAction *RecordAction() const { return m_record; }

private:
    void ShowMenu(const QPoint &pos);
    void UpdateActions();

    CStatusDlg &m_dlg;
    QAction *m_record = nullptr;
};

// What the caption says about recording: "recording 12.3 kB", why it stopped, or "".
QString RecordingCaption(const platform::CSessionRecorder::Status &status);
