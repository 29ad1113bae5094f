#include "StatusDlg.h"

#include "BaudRates.h"
#include "CommandLine.h"
#include "ControlIds.h"
#include "LiveCaption.h"
#include "OpenFailure.h"
#include "StatusDlgTemplate.h"
#include "receiver/RestartCommands.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr int kPortClose = 4;
constexpr int kResetDefault = 3;

} // namespace

QString OpenFailureDetail(int nErrno, const QString &devicePath, const QString &reason,
                          bool heldByGpsd) {
    if (!reason.isEmpty() && !heldByGpsd)
        return reason + QLatin1Char('.');
    if (nErrno == 0)
        return devicePath;
    QString text =
        QStringLiteral("%1: %2.").arg(devicePath, QString::fromLocal8Bit(std::strerror(nErrno)));
    if (heldByGpsd) {
        text += QStringLiteral(" gpsd holds it, and watching it through gpsd failed too (%1); "
                               "check that gpsd is running.")
                    .arg(reason);
        return text;
    }
    switch (nErrno) {
    case EACCES:
    case EPERM:
        text += QStringLiteral(" Add your user to the group that owns the device, usually dialout "
                               "(sudo usermod -aG dialout $USER), then log in again.");
        break;
    case EBUSY:
    case EWOULDBLOCK:
        text += QStringLiteral(" Another program holds the port, such as ModemManager or a "
                               "terminal program; stop it or pick another port.");
        break;
    case ENOTTY:
        return QStringLiteral("%1 is not a serial port. Pick the receiver's device; a USB "
                              "receiver is listed in /dev/serial/by-id.")
            .arg(devicePath);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        text += QStringLiteral(" The receiver is not plugged in or has another name; plug it in, "
                               "or start skywatch with its device path.");
        break;
    default:
        break;
    }
    return text;
}

void CStatusDlg::OnResetButton() {
    if (PortBusy()) {
        if (auto *status = qobject_cast<QLabel *>(GetDlgItem(ctl::kPortStatus)))
            status->setText(QStringLiteral("Re-set waits: %1").arg(m_strPortBusy));
        return;
    }
    DoDataExchange(true);
    m_port.Stopwatch().Cancel();
    // Another Re-set replaces a restart still waiting for the receiver to name itself.
    if (m_restartWait)
        m_restartWait->stop();
    m_strSendFailure.clear();

    const bool bApply = m_nPortIndex + 1 != m_port.m_nPort ||
                        BaudRateForIndex(m_nBaudIndex) != m_port.m_nBaud ||
                        m_nResetIndex == kResetDefault;
    if (bApply) {
        if (m_nPortIndex == kPortClose) {
            m_port.Close();
            m_nPortIndex = 1;
            m_nBaudIndex = kNmeaBaudIndex;
            m_strStatus = QStringLiteral("COM is off");
            m_strOpenFailure.clear();
        } else if (m_port.Open(m_nPortIndex + 1, BaudRateForIndex(m_nBaudIndex))) {
            m_strStatus = QString::asprintf("COM%d is on", m_nPortIndex + 1);
            m_strOpenFailure.clear();
        } else {
            m_strOpenFailure = ShortOpenFailure(m_port.LastOpenError(),
                                                QString::fromStdString(m_port.LastOpenDevice()));
            QMessageBox box(QMessageBox::Critical, QStringLiteral("CPS Setting"),
                            QStringLiteral("Can't start COM Port !\n Please Re-set !!"),
                            QMessageBox::Ok, this);
            box.setInformativeText(OpenFailureDetail(
                m_port.LastOpenError(), QString::fromStdString(m_port.LastOpenDevice()),
                QString::fromStdString(m_port.LastOpenMessage()), m_port.LastOpenHeldByGpsd()));
            box.exec();
            m_strStatus = QStringLiteral("COM is off");
        }
    }

    switch (m_nResetIndex) {
    case 0:
        SendColdStart();
        break;
    case 1:
        SendWarmStart();
        break;
    case 2:
        SendHotStart();
        break;
    default:
        break;
    }

    std::memset(&m_curFix, 0, sizeof m_curFix);
    std::memset(&m_prevFix, 0, sizeof m_prevFix);
    m_curExtra = FixExtra{};
    m_curSky = SkyView{};
    m_port.ClearFix();
    // Every field of the layout is written on the next pass, so no old position stays on show.
    m_rewriteAll = true;
    update();
    DoDataExchange(false);
    UpdateToolTips();
    UpdateLiveStatus();
}

void CStatusDlg::SetPortBusy(const QString &why) {
    const bool wasBusy = PortBusy();
    if (!wasBusy)
        m_nBusyBaud = m_port.m_nBaud;
    m_strPortBusy = why;
    for (int id : {ctl::kResetButton, ctl::kPortList, ctl::kBaudList, ctl::kResetList})
        if (QWidget *w = GetDlgItem(id))
            w->setEnabled(why.isEmpty());
    if (!why.isEmpty())
        return;
    // The receiver was told a new speed and the port followed it.
    if (wasBusy && m_port.m_nBaud > 0 && m_port.m_nBaud != m_nBusyBaud &&
        !m_port.IsNetworkSource()) {
        m_nBaudIndex = BaudIndexForRate(m_port.m_nBaud);
        if (auto *baud = qobject_cast<QComboBox *>(GetDlgItem(ctl::kBaudList)))
            baud->setCurrentIndex(m_nBaudIndex);
    }
    UpdateToolTips();
    UpdateLiveStatus();
}

void CStatusDlg::SendColdStart() {
    SendRestart(RestartKind::Cold);
}

void CStatusDlg::SendWarmStart() {
    SendRestart(RestartKind::Warm);
}

void CStatusDlg::SendHotStart() {
    SendRestart(RestartKind::Hot);
}

void CStatusDlg::SendRestart(RestartKind kind) {
    // A closed port sends nothing, so there is nothing to time.
    if (m_port.m_hPort == -1)
        return;
    std::string why;
    if (!m_port.CanSend(why)) {
        NoteRestartNotSent(kind, why);
        return;
    }
    if (m_port.Family() != ReceiverFamily::Unknown) {
        SendRestartNow(kind);
        return;
    }
    // A running receiver printed its banner long ago: ask every family's question at once and
    // give it a second to answer, without holding up the window.
    const std::string queries = ComposeFamilyQueries();
    m_port.Send(queries.data(), queries.size());
    if (!m_port.LastSendFailure().empty()) {
        NoteRestartNotSent(kind, m_port.LastSendFailure());
        return;
    }
    m_strSendFailure = QString::fromUtf8(RestartName(kind)) +
                       QStringLiteral(": asking the receiver which kind it is");
    m_restartAsked = std::chrono::steady_clock::now();
    if (!m_restartWait) {
        m_restartWait = new QTimer(this);
        m_restartWait->setInterval(20);
        connect(m_restartWait, &QTimer::timeout, this, [this] {
            if (m_port.Family() == ReceiverFamily::Unknown &&
                std::chrono::steady_clock::now() - m_restartAsked <
                    std::chrono::milliseconds(kFamilyQueryMs))
                return;
            m_restartWait->stop();
            m_strSendFailure.clear();
            if (m_port.m_hPort != -1)
                SendRestartNow(m_pendingRestart);
            UpdateLiveStatus();
        });
    }
    m_pendingRestart = kind;
    m_restartWait->start();
}

void CStatusDlg::SendRestartNow(RestartKind kind) {
    const std::string command = ComposeRestart(m_port.Family(), kind);
    m_port.Send(command.data(), command.size());
    if (!m_port.LastSendFailure().empty()) {
        NoteRestartNotSent(kind, m_port.LastSendFailure());
        return;
    }
    m_port.Stopwatch().Start(kind, CFixStopwatch::Clock::now());
}

void CStatusDlg::NoteRestartNotSent(RestartKind kind, const std::string &why) {
    // Not timed: the caption says why nothing went out rather than waiting for a fix.
    m_strSendFailure = QString::fromUtf8(RestartName(kind)) + QStringLiteral(" not sent: ") +
                       QString::fromStdString(why);
}
