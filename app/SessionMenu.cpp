#include "SessionMenu.h"

#include "StatusDlg.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

CSessionMenu::CSessionMenu(CStatusDlg &dlg) : QObject(&dlg), m_dlg(dlg) {
    m_record = new QAction(QStringLiteral("Start recording..."), this);
    m_record->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_record->setShortcutContext(Qt::WindowShortcut);
    connect(m_record, &QAction::triggered, this, &CSessionMenu::ToggleRecording);
    dlg.addAction(m_record);
    // A recording may stop by itself (a full disk): the action follows once a second.
    auto *follow = new QTimer(this);
    connect(follow, &QTimer::timeout, this, &CSessionMenu::UpdateActions);
    follow->start(1000);
    dlg.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&dlg, &QWidget::customContextMenuRequested, this, &CSessionMenu::ShowMenu);
}

QString CSessionMenu::StartRecording(const QString &path, bool overwrite) {
    std::string why;
    const bool started =
        m_dlg.m_port.Recorder().Start(QFile::encodeName(path).toStdString(), overwrite, why);
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

void CSessionMenu::UpdateActions() {
    m_record->setText(m_dlg.m_port.Recorder().CopyStatus().recording
                          ? QStringLiteral("Stop recording")
                          : QStringLiteral("Start recording..."));
}

void CSessionMenu::ShowMenu(const QPoint &pos) {
    UpdateActions();
    QMenu menu(&m_dlg);
    menu.addAction(m_record);
    menu.exec(m_dlg.mapToGlobal(pos));
}

QString RecordingCaption(const platform::CSessionRecorder::Status &status) {
    if (status.recording)
        return QStringLiteral("recording %1")
            .arg(QString::fromStdString(platform::ByteCountText(status.written)));
    return QString::fromLocal8Bit(status.stopped.c_str());
}
