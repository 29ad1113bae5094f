#pragma once

#include "SessionRecorder.h"
#include "analysis/FixTrack.h"

#include <QObject>
#include <QString>

#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class CGpsPort;
class CStatusDlg;
class QAction;
class QPoint;

// The window's context menu for the session's history, with its keys: start and stop a recording
// (Ctrl+R); the position scatter (Ctrl+D); the signal history (Ctrl+H); the console (Ctrl+K);
// the NTRIP corrections
// dialog (Ctrl+T); the receiver's settings (Ctrl+,); while a recording plays,
// pause (Ctrl+P), x1, x10 and as fast as possible (Ctrl+1, 2, 3), and jumps (Ctrl+Left, Ctrl+Right:
// 10%; Ctrl+Home: the start).
class CSessionMenu : public QObject {
    Q_OBJECT

public:
    explicit CSessionMenu(CStatusDlg &dlg);

    // Starts recording to path; the reason it could not, or empty.
    QString StartRecording(const QString &path, bool overwrite);
    // The file another process replays into the port (--replay), kept safe from recordings like
    // the port's own replay.
    void SetReplayFile(const QString &path) { m_replayFile = path; }
    void StopRecording();
    // Stops a recording in progress, or asks for a file and starts one.
    void ToggleRecording();
    QAction *RecordAction() const { return m_record; }
    // Opens (or raises) the position scatter, centred on reference when one is given.
    class CScatterView *OpenScatter(const std::optional<GeoPoint> &reference = std::nullopt);
    class CScatterView *Scatter() const {
        return m_scatter;
    }
    // Opens (or raises) the signal history.
    class CHistoryView *OpenHistory();
    class CHistoryView *History() const {
        return m_history;
    }
    // Opens (or raises) the console of the raw stream.
    class CConsoleView *OpenConsole();
    class CConsoleView *Console() const {
        return m_console;
    }
    // Opens (or raises) the NTRIP corrections dialog.
    class CNtripDialog *OpenNtrip();
    class CNtripDialog *Ntrip() const {
        return m_ntrip;
    }
    // Opens (or raises) the receiver settings dialog and reads the receiver's settings afresh.
    class CReceiverSettingsDialog *OpenReceiverSettings();
    class CReceiverSettingsDialog *ReceiverSettings() const {
        return m_settings;
    }
    // The caster the command line named, for the dialog's fields.
    void SetNtripAddress(const QString &address) { m_ntripAddress = address; }
    // The replay's actions in menu order: pause, x1, x10, fastest, back, forward, start.
    const std::vector<QAction *> &ReplayActions() const { return m_replay; }

private:
    void ShowMenu(const QPoint &pos);
    void UpdateActions();
    QAction *AddReplayAction(const QString &text, const QKeySequence &key,
                             std::function<void(CGpsPort &)> act);

    CStatusDlg &m_dlg;
    QAction *m_record = nullptr;
    QAction *m_scatterAction = nullptr;
    class CScatterView *m_scatter = nullptr;
    QAction *m_historyAction = nullptr;
    class CHistoryView *m_history = nullptr;
    QAction *m_consoleAction = nullptr;
    class CConsoleView *m_console = nullptr;
    QAction *m_ntripAction = nullptr;
    class CNtripDialog *m_ntrip = nullptr;
    QAction *m_settingsAction = nullptr;
    class CReceiverSettingsDialog *m_settings = nullptr;
    QString m_ntripAddress;
    std::vector<QAction *> m_replay;
    QString m_replayFile;
};

// What the caption says about the session: "replay x10, 42%" while a recording plays, and
// RecordingCaption's text.
QStringList SessionCaption(const CGpsPort &port);

// What the caption says about recording: "recording 12.3 kB", why it stopped, or "".
QString RecordingCaption(const platform::CSessionRecorder::Status &status);
