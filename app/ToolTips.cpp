#include "StatusDlg.h"

#include "BaudRates.h"
#include "ControlIds.h"
#include "PortTable.h"
#include "SourceUrl.h"

#include <QComboBox>
#include <QLabel>
#include <QWidget>
#include <array>

namespace {

constexpr int kPortClose = 4;

struct Tip {
    int id;
    const char *text;
};

// The value controls and their labels say what they show; the lists, buttons and the time field
// get texts that follow the settings.
constexpr std::array<Tip, 27> kTips{{
    {ctl::kPortList,
     "The serial port of the receiver; \"Close\" closes it. Re-set applies the choice."},
    {ctl::kBaudList,
     "The speed of the serial line; NMEA receivers usually talk at 4800 baud. Re-set "
     "applies the choice."},
    {ctl::kResetList,
     "The restart command Re-set sends: Cold Start forgets the position, time and "
     "satellite data; Warm Start keeps the time and position; Hot Start keeps everything; "
     "Default sends none and reopens the port."},
    {ctl::kLongitude, "Longitude in degrees, minutes and seconds, E east or W west of Greenwich"},
    {ctl::kLongitudeLabel,
     "Longitude in degrees, minutes and seconds, E east or W west of Greenwich"},
    {ctl::kCompactLongitude,
     "Longitude in degrees, minutes and seconds, E east or W west of Greenwich"},
    {ctl::kCompactLongitudeLabel,
     "Longitude in degrees, minutes and seconds, E east or W west of Greenwich"},
    {ctl::kLatitude, "Latitude in degrees, minutes and seconds, N north or S south of the equator"},
    {ctl::kLatitudeLabel,
     "Latitude in degrees, minutes and seconds, N north or S south of the equator"},
    {ctl::kCompactLatitude,
     "Latitude in degrees, minutes and seconds, N north or S south of the equator"},
    {ctl::kCompactLatitudeLabel,
     "Latitude in degrees, minutes and seconds, N north or S south of the equator"},
    {ctl::kCourse, "Course over the ground in degrees clockwise from true north"},
    {ctl::kDirectionLabel, "Course over the ground in degrees clockwise from true north"},
    {ctl::kSpeed, "Speed over the ground in kilometres per hour"},
    {ctl::kSpeedLabel, "Speed over the ground in kilometres per hour"},
    {ctl::kHdop,
     "Horizontal dilution of precision: how the satellites' geometry spreads the position "
     "error; below 2 is good, above 5 poor"},
    {ctl::kHdopLabel,
     "Horizontal dilution of precision: how the satellites' geometry spreads the position "
     "error; below 2 is good, above 5 poor"},
    {ctl::kPdop, "Position dilution of precision (horizontal and vertical): below 3 is good"},
    {ctl::kPdopLabel, "Position dilution of precision (horizontal and vertical): below 3 is good"},
    {ctl::kCompactPdop,
     "Position dilution of precision (horizontal and vertical): below 3 is good"},
    {ctl::kCompactPdopLabel,
     "Position dilution of precision (horizontal and vertical): below 3 is good"},
    {ctl::kAltitude, "Altitude above mean sea level in metres"},
    {ctl::kAltitudeLabel, "Altitude above mean sea level in metres"},
    {ctl::kValidity, "Valid while the receiver reports a usable fix, InValid otherwise"},
    {ctl::kCompactValidity, "Valid while the receiver reports a usable fix, InValid otherwise"},
    {ctl::kFixMode, "The kind of fix: No Fix, 2D (no altitude) or 3D"},
    {ctl::kCompactFixMode, "The kind of fix: No Fix, 2D (no altitude) or 3D"},
}};

// Labels without an identifier share the tooltip of the control beside them.
constexpr std::array<std::pair<const char *, int>, 5> kLabelFor{{{"COM Port :", ctl::kPortList},
                                                                 {"Baud Rate :", ctl::kBaudList},
                                                                 {"GPS Reset:", ctl::kResetList},
                                                                 {"Date:", ctl::kDate},
                                                                 {"Time:", ctl::kTime}}};

// Breaks a tooltip into lines of about 50 characters at spaces; its own line breaks stay.
QString Wrapped(const QString &text) {
    constexpr qsizetype kWidth = 50;
    QStringList out;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        QString cur;
        for (const QString &word : line.split(QLatin1Char(' '))) {
            if (!cur.isEmpty() && cur.size() + 1 + word.size() > kWidth) {
                out << cur;
                cur.clear();
            }
            cur += (cur.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        out << cur;
    }
    return out.join(QLatin1Char('\n'));
}

const char *RestartText(int index) {
    switch (index) {
    case 0:
        return "send a cold start (the receiver forgets its position, time and satellite data)";
    case 1:
        return "send a warm start (the receiver keeps its time and position)";
    case 2:
        return "send a hot start (the receiver keeps everything)";
    default:
        return nullptr;
    }
}

} // namespace

void CStatusDlg::SetToolTips() {
    for (const Tip &t : kTips)
        if (QWidget *w = GetDlgItem(t.id))
            w->setToolTip(Wrapped(QString::fromUtf8(t.text)));
    for (auto *combo :
         {GetDlgItem(ctl::kPortList), GetDlgItem(ctl::kBaudList), GetDlgItem(ctl::kResetList)})
        if (auto *list = qobject_cast<QComboBox *>(combo))
            connect(list, &QComboBox::currentIndexChanged, this, &CStatusDlg::UpdateToolTips,
                    Qt::UniqueConnection);
    UpdateToolTips();
}

void CStatusDlg::UpdateToolTips() {
    if (QWidget *toggle = GetDlgItem(ctl::kToggleView))
        toggle->setToolTip(Wrapped(
            IsDesktop()               ? QStringLiteral("Show the compact layout at this size; the "
                                                                     "switch then leads back here")
            : m_viewMode == kViewFull ? QStringLiteral("Show the compact layout: position, PDOP "
                                                       "and a signal bar per satellite")
                                      : QStringLiteral("Show the full layout: every field")));

    // What Re-set would do with the lists as they stand, by the rules of OnResetButton.
    auto *port = qobject_cast<QComboBox *>(GetDlgItem(ctl::kPortList));
    auto *baud = qobject_cast<QComboBox *>(GetDlgItem(ctl::kBaudList));
    auto *reset = qobject_cast<QComboBox *>(GetDlgItem(ctl::kResetList));
    if (port && baud && reset && !PortBusy()) {
        const int nPort = port->currentIndex() + 1;
        const int nBaud = BaudRateForIndex(baud->currentIndex());
        const bool bApply =
            nPort != m_port.m_nPort || nBaud != m_port.m_nBaud || reset->currentIndex() == 3;
        QStringList steps;
        if (bApply && port->currentIndex() == kPortClose)
            steps << QStringLiteral("close the port");
        else if (bApply)
            steps << QStringLiteral("open COM%1 (%2) at %3 baud")
                         .arg(nPort)
                         .arg(QString::fromStdString(platform::PortDevice(nPort)))
                         .arg(nBaud);
        if (const char *restart = RestartText(reset->currentIndex()))
            steps << QString::fromUtf8(restart);
        steps << QStringLiteral("clear the shown values");
        QString text = steps.join(QStringLiteral(", then "));
        text[0] = text[0].toUpper();
        if (QWidget *button = GetDlgItem(ctl::kResetButton))
            button->setToolTip(Wrapped(text));
    }

    UpdatePortToolTips();

    const QString time = display::TimeRuleText(m_timeRule, m_nBiasSeconds, m_nShownOffset);
    for (int id : {ctl::kDate, ctl::kTime})
        if (QWidget *w = GetDlgItem(id))
            w->setToolTip(time);

    if (!m_controls)
        return;
    for (QWidget *w : findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        const QString text = static_cast<QLabel *>(w)->text();
        for (const auto &[label, id] : kLabelFor)
            if (text == QString::fromUtf8(label))
                if (QWidget *target = GetDlgItem(id))
                    w->setToolTip(target->toolTip());
    }
}

void CStatusDlg::UpdatePortToolTips() {
    auto *list = qobject_cast<QComboBox *>(GetDlgItem(ctl::kPortList));
    if (!list || PortBusy())
        return;
    bool anyNetwork = false;
    for (int i = 0; i < list->count() && i < 4; ++i) {
        const std::string device = platform::PortDevice(i + 1);
        // The open port says what it really is: a network source, or a device read through gpsd.
        std::string tip = m_port.m_nPort == i + 1 ? m_port.SourceDescription() : device;
        if (tip.empty())
            tip = device;
        if (platform::LooksLikeUrl(device) && tip == device)
            tip += "; a network source, on which the baud list has no effect";
        anyNetwork = anyNetwork || platform::LooksLikeUrl(device) ||
                     (m_port.m_nPort == i + 1 && m_port.IsNetworkSource());
        list->setItemData(i, QString::fromStdString(tip), Qt::ToolTipRole);
    }
    if (QWidget *baud = GetDlgItem(ctl::kBaudList)) {
        QString text = QString::fromUtf8(kTips[1].text);
        if (anyNetwork)
            text +=
                QStringLiteral(" It has no effect on a network source (gpsd://, tcp://, udp://).");
        baud->setToolTip(Wrapped(text));
    }
}
