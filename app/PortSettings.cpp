#include "StatusDlg.h"

#include "BaudRates.h"
#include "OpenFailure.h"
#include "RestartCommands.h"

#include <QMessageBox>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kPortClose = 4;
constexpr int kResetDefault = 3;

} // namespace

QString OpenFailureDetail(int nErrno, const QString &devicePath) {
    if (nErrno == 0)
        return devicePath;
    QString text =
        QStringLiteral("%1: %2.").arg(devicePath, QString::fromLocal8Bit(std::strerror(nErrno)));
    switch (nErrno) {
    case EACCES:
    case EPERM:
        text += QStringLiteral(" Add your user to the group that owns the device, usually dialout "
                               "(sudo usermod -aG dialout $USER), then log in again.");
        break;
    case EBUSY:
    case EWOULDBLOCK:
        text += QStringLiteral(" Another program holds the port, such as gpsd or ModemManager; "
                               "stop it or pick another port.");
        break;
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

    const bool bApply = m_nPortIndex + 1 != m_port.m_nPort ||
                        BaudRateForIndex(m_nBaudIndex) != m_port.m_nBaud ||
                        m_nResetIndex == kResetDefault;
    if (bApply) {
        if (m_nPortIndex == kPortClose) {
            m_port.Close();
            m_nPortIndex = 1;
            m_nBaudIndex = 2;
            m_strStatus = QStringLiteral("COM is off");
        } else if (m_port.Open(m_nPortIndex + 1, BaudRateForIndex(m_nBaudIndex))) {
            m_strStatus = QString::asprintf("COM%d is on", m_nPortIndex + 1);
        } else {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("CPS Setting"),
                            QStringLiteral("Can't start COM Port !\n Please Re-set !!"),
                            QMessageBox::Ok, this);
            box.setInformativeText(OpenFailureDetail(
                m_port.LastOpenError(), QString::fromStdString(m_port.LastOpenDevice())));
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
    m_curSky = SkyView{};
    m_port.ClearFix();
    // Every field of the layout is written on the next pass, so no old position stays on show.
    m_rewriteAll = true;
    update();
    DoDataExchange(false);
}

void CStatusDlg::SendColdStart() {
    char line[kSentenceBufferSize];
    m_port.Send(ComposeColdStart(line));
}

void CStatusDlg::SendWarmStart() {
    char line[kSentenceBufferSize];
    m_port.Send(ComposeWarmStart(line));
}

void CStatusDlg::SendHotStart() {
    char line[kSentenceBufferSize];
    m_port.Send(ComposeHotStart(line));
}
