#include "StatusDlg.h"

#include "BaudRates.h"
#include "CommandLine.h"
#include "LiveCaption.h"
#include "OpenFailure.h"
#include "RestartCommands.h"
#include "StatusDlgTemplate.h"

#include <QMessageBox>
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
    DoDataExchange(true);
    m_port.Stopwatch().Cancel();

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
    // A command that could not go out says so in the caption rather than vanishing.
    const bool bSent = m_nResetIndex >= 0 && m_nResetIndex < kResetDefault;
    const std::string sendFailure = bSent ? m_port.LastSendFailure() : std::string();
    m_strSendFailure = QString::fromStdString(sendFailure);

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
    const std::string command = ComposeRestart(m_port.Family(), kind);
    m_port.Send(command.data(), command.size());
    // A closed port sent nothing, so there is nothing to time.
    if (m_port.m_hPort != -1)
        m_port.Stopwatch().Start(kind, CFixStopwatch::Clock::now());
}
