#include "StatusDlg.h"

#include "AlarmBanner.h"
#include "ControlIds.h"
#include "LiveCaption.h"
#include "PortTable.h"
#include "SessionMenu.h"

#include <QLabel>
#include <chrono>
#include <cstring>

void CStatusDlg::UpdateLiveStatus() {
    // The port may be reopening on the settings' thread: the caption waits for it.
    if (PortBusy())
        return;
    const LinkState link = m_port.CopyLinkState();
    LiveState state;
    if (link.bReconnecting) {
        state.port = LiveState::Port::Reconnecting;
    } else if (link.bOpen) {
        state.port = LiveState::Port::Open;
        state.nSilentSeconds =
            static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - link.lastData)
                                 .count());
    } else if (!m_strOpenFailure.isEmpty()) {
        state.port = LiveState::Port::NoReceiver;
        state.failure = m_strOpenFailure;
    }
    state.bNetwork = m_port.IsNetworkSource();
    state.bEverData = link.bData;
    // A pty named by a link may come back under it; one named itself never does.
    state.bPty =
        m_port.m_nPort > 0 && platform::PortDevice(m_port.m_nPort).rfind("/dev/pts/", 0) == 0;
    m_bNoData = IsNoData(state);
    m_strLive = LiveText(state);
    // A window manager may cut the caption short: the port's state says what to do, too.
    if (auto *status = qobject_cast<QLabel *>(GetDlgItem(ctl::kPortStatus))) {
        QString shown = m_strStatus;
        if (state.port == LiveState::Port::Reconnecting)
            shown = state.bPty ? QString::fromLatin1(kPressResetText) : QStringLiteral("Unplugged");
        else if (m_port.Replay() != nullptr)
            shown = QStringLiteral("Replay");
        else if (state.port == LiveState::Port::Open && state.bEverData && m_bNoData)
            shown = QStringLiteral("No data");
        if (status->text() != shown)
            status->setText(shown);
    }
    // The time to the first fix and a command that could not go follow the live state.
    QStringList more;
    if (const std::string ttff = m_port.Stopwatch().Text(CFixStopwatch::Clock::now());
        !ttff.empty())
        more << QString::fromStdString(ttff);
    if (!m_strSendFailure.isEmpty())
        more << m_strSendFailure;
    if (const std::string warning = m_port.SourceWarning(); !warning.empty())
        more << QString::fromStdString(warning);
    more << SessionCaption(m_port);
    QString caption = LiveCaption(state, more.join(QStringLiteral("; ")));
    // An alarm goes last, set apart, so the usual words keep their places.
    if (const QString alarm = display::AlarmCaption(m_curWatch); !alarm.isEmpty())
        caption += QStringLiteral(" \u2014 ") + alarm;
    if (windowTitle() != caption)
        setWindowTitle(caption);

    QStringList tip;
    if (link.bOpen)
        tip << QString::fromStdString(link.device);
    else if (!m_strOpenFailure.isEmpty())
        tip << QStringLiteral("Not open: ") + m_strOpenFailure;
    tip << StreamCountLines(m_port.CopyCounters());
    if (link.nLastError != 0)
        tip << QStringLiteral("Last error: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(link.nLastError)));
    if (!m_otherReceivers.isEmpty())
        tip << QStringLiteral("Not opened:") << m_otherReceivers;
    if (QWidget *status = GetDlgItem(ctl::kPortStatus)) {
        const QString text = tip.join(QLatin1Char('\n'));
        if (status->toolTip() != text)
            status->setToolTip(text);
    }
}
