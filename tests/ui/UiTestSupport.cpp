#include "UiTestSupport.h"

#include "StatusDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QThread>

bool WaitFor(const std::function<bool()>& cond, int ms) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return cond();
}

QString ShownText(const CStatusDlg& dlg, int id) {
    QWidget* w = dlg.GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return QStringLiteral("<no control %1>").arg(id);
}

struct CSimulator::Process {
    QProcess proc;
};

QString CSimulator::Binary() { return QStringLiteral(SKYWATCH_BINARY_DIR "/tools/skywatch-sim"); }

CSimulator::CSimulator(const QStringList& args) {
    if (!QFileInfo(Binary()).isExecutable())
        return;
    m_proc = new Process;
    m_proc->proc.setProgram(Binary());
    m_proc->proc.setArguments(args);
    m_proc->proc.setProcessChannelMode(QProcess::SeparateChannels);
    m_proc->proc.start();
    if (!m_proc->proc.waitForStarted(3000))
        return;
    QElapsedTimer t;
    t.start();
    while (!m_proc->proc.canReadLine() && t.elapsed() < 3000)
        m_proc->proc.waitForReadyRead(100);
    m_path = QString::fromLocal8Bit(m_proc->proc.readLine()).trimmed();
}

CSimulator::~CSimulator() {
    if (!m_proc)
        return;
    m_proc->proc.terminate();
    if (!m_proc->proc.waitForFinished(2000))
        m_proc->proc.kill();
    m_proc->proc.waitForFinished(1000);
    delete m_proc;
}
