#include "SessionMenu.h"

#include "CommandLine.h"
#include "SameFile.h"
#include "StatusDlg.h"
#include "views/ConsoleView.h"
#include "views/DesktopView.h"
#include "views/HistoryView.h"
#include "views/NtripDialog.h"
#include "views/ReceiverSettingsDialog.h"
#include "views/ScatterView.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

CSessionMenu::CSessionMenu(CStatusDlg &dlg) : QObject(&dlg), m_dlg(dlg) {
    m_record = new QAction(QStringLiteral("Start recording..."), this);
    m_record->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_record->setShortcutContext(Qt::WindowShortcut);
    connect(m_record, &QAction::triggered, this, &CSessionMenu::ToggleRecording);
    dlg.addAction(m_record);
    m_scatterAction = new QAction(QStringLiteral("Position scatter"), this);
    m_scatterAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    m_scatterAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_scatterAction, &QAction::triggered, this, [this] { OpenScatter(); });
    dlg.addAction(m_scatterAction);
    m_historyAction = new QAction(QStringLiteral("Signal history"), this);
    m_historyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    m_historyAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_historyAction, &QAction::triggered, this, [this] { OpenHistory(); });
    dlg.addAction(m_historyAction);
    m_consoleAction = new QAction(QStringLiteral("Console"), this);
    m_consoleAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    m_consoleAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_consoleAction, &QAction::triggered, this, [this] { OpenConsole(); });
    dlg.addAction(m_consoleAction);
    m_ntripAction = new QAction(QStringLiteral("NTRIP corrections..."), this);
    m_ntripAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    m_ntripAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_ntripAction, &QAction::triggered, this, [this] { OpenNtrip(); });
    dlg.addAction(m_ntripAction);
    m_settingsAction = new QAction(QStringLiteral("Receiver settings..."), this);
    m_settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_settingsAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_settingsAction, &QAction::triggered, this, [this] { OpenReceiverSettings(); });
    dlg.addAction(m_settingsAction);
    using platform::CFileSource;
    const auto speed = [](int x) { return [x](CGpsPort &port) { port.Replay()->SetSpeed(x); }; };
    AddReplayAction(QStringLiteral("Pause"), QKeySequence(Qt::CTRL | Qt::Key_P),
                    [](CGpsPort &port) {
                        CFileSource *r = port.Replay();
                        if (r->Speed() == CFileSource::kPaused)
                            r->Resume();
                        else
                            r->SetSpeed(CFileSource::kPaused);
                    });
    AddReplayAction(QStringLiteral("Play x1"), QKeySequence(Qt::CTRL | Qt::Key_1), speed(1));
    AddReplayAction(QStringLiteral("Play x10"), QKeySequence(Qt::CTRL | Qt::Key_2), speed(10));
    AddReplayAction(QStringLiteral("Play as fast as possible"), QKeySequence(Qt::CTRL | Qt::Key_3),
                    speed(CFileSource::kFastest));
    AddReplayAction(QStringLiteral("Back 10%"), QKeySequence(Qt::CTRL | Qt::Key_Left),
                    [](CGpsPort &port) {
                        port.Replay()->JumpTo(std::max(0.0, port.Replay()->Position() - 0.1));
                    });
    AddReplayAction(QStringLiteral("Forward 10%"), QKeySequence(Qt::CTRL | Qt::Key_Right),
                    [](CGpsPort &port) {
                        port.Replay()->JumpTo(std::min(1.0, port.Replay()->Position() + 0.1));
                    });
    AddReplayAction(QStringLiteral("To the start"), QKeySequence(Qt::CTRL | Qt::Key_Home),
                    [](CGpsPort &port) { port.Replay()->JumpTo(0.0); });
    // A recording may stop by itself (a full disk): the action follows once a second.
    auto *follow = new QTimer(this);
    connect(follow, &QTimer::timeout, this, &CSessionMenu::UpdateActions);
    follow->start(1000);
    dlg.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&dlg, &QWidget::customContextMenuRequested, this, &CSessionMenu::ShowMenu);
}

QString CSessionMenu::StartRecording(const QString &path, bool overwrite) {
    const std::string name = FileNameBytes(path).toStdString();
    const platform::FileKey target = platform::KeyOfPath(name);
    // Recording over the replay would cut the file short under the reader.
    const platform::CFileSource *replay = m_dlg.m_port.Replay();
    if ((replay != nullptr && target == platform::KeyOfDescriptor(replay->Handle())) ||
        (!m_replayFile.isEmpty() &&
         target == platform::KeyOfPath(FileNameBytes(m_replayFile).toStdString())))
        return QStringLiteral("%1 is the file being replayed; record to another file").arg(path);
    std::string why;
    const bool started = m_dlg.m_port.Recorder().Start(name, overwrite, why);
    UpdateActions();
    m_dlg.UpdateLiveStatus();
    return started ? QString() : QString::fromLocal8Bit(why.c_str());
}

void CSessionMenu::StopRecording() {
    m_dlg.m_port.Recorder().Stop();
    UpdateActions();
    m_dlg.UpdateLiveStatus();
}

void CSessionMenu::ToggleRecording() {
    if (m_dlg.m_port.Recorder().CopyStatus().recording) {
        StopRecording();
        return;
    }
    const QString suggested = QDir::home().filePath(
        QDateTime::currentDateTime().toString(QStringLiteral("'skywatch-'yyyyMMdd-HHmmss'.nmea'")));
    // The file dialog asks before replacing a file, so a name it returns may be overwritten.
    const QString path =
        QFileDialog::getSaveFileName(&m_dlg, QStringLiteral("Record to"), suggested);
    if (path.isEmpty())
        return;
    if (const QString why = StartRecording(path, true); !why.isEmpty())
        QMessageBox::warning(&m_dlg, QStringLiteral("Skywatch"),
                             QStringLiteral("Cannot record: %1").arg(why));
}

CScatterView *CSessionMenu::OpenScatter(const std::optional<GeoPoint> &reference) {
    if (m_scatter == nullptr) {
        m_scatter = new CScatterView(m_dlg.m_port, reference, &m_dlg);
        m_scatter->setAttribute(Qt::WA_DeleteOnClose, false);
    } else if (reference) {
        m_scatter->SetReference(
            QStringLiteral("%1,%2").arg(reference->lat, 0, 'f', 9).arg(reference->lon, 0, 'f', 9));
    }
    m_scatter->Refresh();
    m_scatter->show();
    m_scatter->raise();
    return m_scatter;
}

CHistoryView *CSessionMenu::OpenHistory() {
    if (m_history == nullptr) {
        m_history = new CHistoryView(m_dlg.m_port, &m_dlg);
        m_history->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    m_history->Refresh();
    m_history->show();
    m_history->raise();
    return m_history;
}

CConsoleView *CSessionMenu::OpenConsole() {
    if (m_console == nullptr) {
        m_console = new CConsoleView(m_dlg.m_port, &m_dlg);
        m_console->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    m_console->show();
    m_console->raise();
    m_console->Refresh();
    return m_console;
}

CNtripDialog *CSessionMenu::OpenNtrip() {
    if (m_ntrip == nullptr) {
        m_ntrip = new CNtripDialog(m_dlg.m_port, &m_dlg);
        m_ntrip->setAttribute(Qt::WA_DeleteOnClose, false);
        platform::ntrip::NtripUrl url;
        std::string error;
        if (!m_ntripAddress.isEmpty() &&
            platform::ntrip::ParseNtripUrl(m_ntripAddress.toStdString(), url, error))
            m_ntrip->SetUrl(url);
    }
    m_ntrip->show();
    m_ntrip->raise();
    return m_ntrip;
}

CReceiverSettingsDialog *CSessionMenu::OpenReceiverSettings() {
    if (m_settings == nullptr) {
        m_settings = new CReceiverSettingsDialog(m_dlg.m_port, &m_dlg);
        m_settings->setAttribute(Qt::WA_DeleteOnClose, false);
        connect(m_settings, &CReceiverSettingsDialog::BusyChanged, this, [this](bool busy) {
            m_dlg.SetPortBusy(busy ? QStringLiteral("receiver settings are being applied")
                                   : QString());
        });
    }
    m_settings->Read();
    m_settings->show();
    m_settings->raise();
    return m_settings;
}

QAction *CSessionMenu::AddReplayAction(const QString &text, const QKeySequence &key,
                                       std::function<void(CGpsPort &)> act) {
    auto *action = new QAction(text, this);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, act] {
        if (m_dlg.PortBusy() || m_dlg.m_port.Replay() == nullptr)
            return;
        act(m_dlg.m_port);
        m_dlg.UpdateLiveStatus();
    });
    m_dlg.addAction(action);
    m_replay.push_back(action);
    return action;
}

void CSessionMenu::UpdateActions() {
    if (m_dlg.PortBusy())
        return;
    const platform::CFileSource *replay = m_dlg.m_port.Replay();
    for (QAction *a : m_replay)
        a->setEnabled(replay != nullptr);
    if (replay != nullptr)
        m_replay.front()->setText(replay->Speed() == platform::CFileSource::kPaused
                                      ? QStringLiteral("Resume")
                                      : QStringLiteral("Pause"));
    m_record->setText(m_dlg.m_port.Recorder().CopyStatus().recording
                          ? QStringLiteral("Stop recording")
                          : QStringLiteral("Start recording..."));
}

void CSessionMenu::ShowMenu(const QPoint &pos) {
    UpdateActions();
    QMenu menu(&m_dlg);
    menu.addAction(m_record);
    menu.addAction(m_scatterAction);
    menu.addAction(m_historyAction);
    menu.addAction(m_consoleAction);
    menu.addAction(m_ntripAction);
    menu.addAction(m_settingsAction);
    if (const CDesktopView *desktop = m_dlg.Desktop(); desktop != nullptr && desktop->isVisible()) {
        menu.addSeparator();
        desktop->AddMenuActions(menu);
    }
    if (!m_dlg.PortBusy() && m_dlg.m_port.Replay() != nullptr) {
        menu.addSeparator();
        for (QAction *a : m_replay)
            menu.addAction(a);
    }
    menu.exec(m_dlg.mapToGlobal(pos));
}

QString RecordingCaption(const platform::CSessionRecorder::Status &status) {
    if (status.recording)
        return QStringLiteral("recording %1")
            .arg(QString::fromStdString(platform::ByteCountText(status.written)));
    return QString::fromLocal8Bit(status.stopped.c_str());
}

QStringList SessionCaption(const CGpsPort &port) {
    QStringList parts;
    if (const platform::CFileSource *replay = port.Replay()) {
        const int speed = replay->Speed();
        const QString pace = speed == platform::CFileSource::kPaused ? QStringLiteral("paused")
                             : speed == platform::CFileSource::kFastest
                                 ? QStringLiteral("fastest")
                                 : QStringLiteral("x%1").arg(speed);
        parts << (replay->Ended() ? QStringLiteral("replay ended")
                                  : QStringLiteral("replay %1, %2%")
                                        .arg(pace)
                                        .arg(qRound(replay->Position() * 100)));
    }
    if (const QString recording = RecordingCaption(port.Recorder().CopyStatus());
        !recording.isEmpty())
        parts << recording;
    return parts;
}
