#pragma once

#include "SessionRecorder.h"

#include <QObject>
#include <QString>

#include <QStringList>
#include <functional>
#include <vector>

class CGpsPort;
class CStatusDlg;
class QAction;
class QPoint;

// The window's context menu for the session's history, with its keys: start and stop a recording
// (Ctrl+R); while a recording plays, pause (Ctrl+P), x1, x10 and as fast as possible (Ctrl+1, 2,
// 3), and jumps (Ctrl+Left, Ctrl+Right: 10%; Ctrl+Home: the start).
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
    // The replay's actions in menu order: pause, x1, x10, fastest, back, forward, start.
    const std::vector<QAction *> &ReplayActions() const { return m_replay; }

private:
    void ShowMenu(const QPoint &pos);
    void UpdateActions();
    QAction *AddReplayAction(const QString &text, const QKeySequence &key,
                             std::function<void(CGpsPort &)> act);

    CStatusDlg &m_dlg;
    QAction *m_record = nullptr;
    std::vector<QAction *> m_replay;
};

// What the caption says about the session: "replay x10, 42%" while a recording plays, and
// RecordingCaption's text.
QStringList SessionCaption(const CGpsPort &port);

// What the caption says about recording: "recording 12.3 kB", why it stopped, or "".
QString RecordingCaption(const platform::CSessionRecorder::Status &status);
