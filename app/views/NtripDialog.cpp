#include "views/NtripDialog.h"

#include "GpsPort.h"
#include "NtripSource.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A caster that answers at all sends its table within seconds; the dialog's end waits this long
// at most for a fetch under way.
constexpr int kFetchMs = 8000;

enum Column { kMountColumn, kPlaceColumn, kFormatColumn, kDistanceColumn, kNoteColumn };

QString Masked(const platform::ntrip::NtripUrl &url) {
    return QString::fromStdString(platform::ntrip::MaskedUrl(url));
}

} // namespace

QString StartCorrections(CGpsPort &port, const QString &address, bool gga) {
    NtripOptions options;
    std::string error;
    if (!platform::ntrip::ParseNtripUrl(address.toStdString(), options.url, error))
        return QString::fromStdString(error);
    if (options.url.mount.empty())
        return QStringLiteral("%1 names no mount point").arg(Masked(options.url));
    options.ggaUpload = gga;
    port.StartCorrections(options);
    return {};
}

CNtripDialog::CNtripDialog(CGpsPort &port, QWidget *parent) : QDialog(parent), m_port(port) {
    setWindowTitle(QStringLiteral("NTRIP corrections"));
    const auto named = [](QWidget *w, const char *name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    m_host = new QLineEdit(this);
    m_host->setPlaceholderText(QStringLiteral("caster.example.net"));
    m_portBox = new QSpinBox(this);
    m_portBox->setRange(1, 65535);
    m_portBox->setValue(platform::ntrip::kDefaultPort);
    m_user = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_mount = new QLineEdit(this);
    m_mount->setPlaceholderText(QStringLiteral("picked from the source table, or typed"));
    m_fetchButton = new QPushButton(QStringLiteral("Get source table"), this);
    m_mounts = new QTreeWidget(this);
    m_mounts->setRootIsDecorated(false);
    m_mounts->setHeaderLabels({QStringLiteral("Mount point"), QStringLiteral("Place"),
                               QStringLiteral("Format"), QStringLiteral("Distance"), QString()});
    m_mounts->setAccessibleName(QStringLiteral("Mount points"));
    m_mounts->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_gga = new QCheckBox(QStringLiteral("Send my position (GGA)"), this);
    m_gga->setToolTip(QStringLiteral("Network and virtual reference stations need the "
                                     "receiver's position to make corrections for it"));
    m_connect = new QPushButton(QStringLiteral("Connect"), this);
    m_disconnect = new QPushButton(QStringLiteral("Disconnect"), this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    named(m_host, "host"), named(m_portBox, "port"), named(m_user, "user");
    named(m_password, "password"), named(m_mount, "mount"), named(m_mounts, "mounts");
    named(m_gga, "gga"), named(m_fetchButton, "fetch"), named(m_connect, "connect");
    named(m_disconnect, "disconnect"), named(m_status, "status");

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Caster"), m_host);
    form->addRow(QStringLiteral("Port"), m_portBox);
    form->addRow(QStringLiteral("User"), m_user);
    form->addRow(QStringLiteral("Password"), m_password);
    auto *mountRow = new QHBoxLayout;
    mountRow->addWidget(m_mount, 1);
    mountRow->addWidget(m_fetchButton);
    form->addRow(QStringLiteral("Mount point"), mountRow);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_gga, 1);
    buttons->addWidget(m_connect);
    buttons->addWidget(m_disconnect);
    auto *all = new QVBoxLayout(this);
    all->addLayout(form);
    all->addWidget(m_mounts, 1);
    all->addLayout(buttons);
    all->addWidget(m_status);
    resize(560, 440);

    connect(m_fetchButton, &QPushButton::clicked, this, &CNtripDialog::FetchTable);
    connect(m_connect, &QPushButton::clicked, this, &CNtripDialog::Connect);
    connect(m_disconnect, &QPushButton::clicked, this, &CNtripDialog::Disconnect);
    connect(m_mounts, &QTreeWidget::currentItemChanged, this, &CNtripDialog::OnPicked);
    // The client's state changes on its own thread: the line follows once a second.
    m_follow = new QTimer(this);
    connect(m_follow, &QTimer::timeout, this, &CNtripDialog::UpdateStatus);
    m_follow->start(1000);
    UpdateStatus();
}

CNtripDialog::~CNtripDialog() {
    // Its answer, queued to this object, goes with it.
    if (m_fetch.joinable())
        m_fetch.join();
}

void CNtripDialog::SetUrl(const platform::ntrip::NtripUrl &url) {
    m_host->setText(QString::fromStdString(url.host));
    m_portBox->setValue(url.port);
    m_user->setText(QString::fromStdString(url.user));
    m_password->setText(QString::fromStdString(url.password));
    m_mount->setText(QString::fromStdString(url.mount));
}

bool CNtripDialog::FieldsUrl(platform::ntrip::NtripUrl &url, QString &why) const {
    url = {};
    url.host = m_host->text().trimmed().toStdString();
    url.port = m_portBox->value();
    url.user = m_user->text().toStdString();
    url.password = m_password->text().toStdString();
    url.mount = m_mount->text().trimmed().toStdString();
    if (url.host.empty()) {
        why = QStringLiteral("Name the caster (its host name or address) first.");
        return false;
    }
    if (url.user.empty() && !url.password.empty()) {
        why = QStringLiteral("A password needs a user name.");
        return false;
    }
    return true;
}

void CNtripDialog::FetchTable() {
    if (m_fetch.joinable())
        return;
    platform::ntrip::NtripUrl url;
    if (!FieldsUrl(url, m_message)) {
        UpdateStatus();
        return;
    }
    url.mount.clear();
    m_message = QStringLiteral("Asking %1 for its source table...").arg(Masked(url));
    m_fetchButton->setEnabled(false);
    UpdateStatus();
    m_fetch = std::thread([this, url] {
        std::string why;
        std::vector<platform::ntrip::SourceEntry> entries =
            platform::CNtripSource::FetchSourceTable(url, kFetchMs, why);
        QMetaObject::invokeMethod(
            this,
            [this, entries = std::move(entries), why]() mutable {
                m_fetch.join();
                m_fetchButton->setEnabled(true);
                ShowTable(std::move(entries), QString::fromStdString(why));
            },
            Qt::QueuedConnection);
    });
}

void CNtripDialog::ShowTable(std::vector<platform::ntrip::SourceEntry> entries,
                             const QString &why) {
    GpsFix fix{};
    FixExtra extra;
    m_port.CopyFix(fix, extra);
    const bool hasFix = fix.bValid != 0 && (extra.sent & kSentPosition) != 0;
    if (hasFix)
        platform::ntrip::SortByDistance(
            entries, extra.hasPrecise ? extra.preciseLat : fix.lLatitude * 1e-6,
            extra.hasPrecise ? extra.preciseLon : fix.lLongitude * 1e-6);
    m_entries = std::move(entries);
    m_mounts->clear();
    for (const platform::ntrip::SourceEntry &e : m_entries) {
        auto *item = new QTreeWidgetItem(m_mounts);
        item->setText(kMountColumn, QString::fromStdString(e.mount));
        item->setText(kPlaceColumn, QString::fromStdString(e.identifier));
        item->setText(kFormatColumn, QString::fromStdString(e.format));
        if (e.distanceKm >= 0.0)
            item->setText(kDistanceColumn, QStringLiteral("%1 km").arg(
                                               e.distanceKm, 0, 'f', e.distanceKm < 100.0 ? 1 : 0));
        if (e.wantsGga)
            item->setText(kNoteColumn, QStringLiteral("sends position"));
        item->setToolTip(kMountColumn, QString::fromStdString(e.formatDetails));
    }
    if (m_entries.empty())
        m_message = QStringLiteral("No source table: %1").arg(why);
    else
        m_message = QStringLiteral("%1 mount points%2; pick one and Connect.")
                        .arg(m_entries.size())
                        .arg(hasFix ? QStringLiteral(", nearest first")
                                    : QStringLiteral(" (no fix yet to sort them by distance)"));
    UpdateStatus();
}

void CNtripDialog::OnPicked() {
    const int row = m_mounts->indexOfTopLevelItem(m_mounts->currentItem());
    if (row < 0 || static_cast<std::size_t>(row) >= m_entries.size())
        return;
    const platform::ntrip::SourceEntry &e = m_entries[static_cast<std::size_t>(row)];
    m_mount->setText(QString::fromStdString(e.mount));
    // A network's virtual station is made for the rover's position: without it none comes.
    if (e.wantsGga)
        m_gga->setChecked(true);
}

void CNtripDialog::Connect() {
    NtripOptions options;
    if (!FieldsUrl(options.url, m_message)) {
        UpdateStatus();
        return;
    }
    if (options.url.mount.empty()) {
        m_message = QStringLiteral("Pick a mount point from the source table, or type one.");
        UpdateStatus();
        return;
    }
    options.ggaUpload = m_gga->isChecked();
    m_port.StartCorrections(options);
    m_message.clear();
    UpdateStatus();
}

void CNtripDialog::Disconnect() {
    m_port.StopCorrections();
    m_message = QStringLiteral("Disconnected.");
    UpdateStatus();
}

void CNtripDialog::UpdateStatus() {
    const CorrectionStatus status = m_port.CopyCorrections();
    m_disconnect->setEnabled(status.on);
    QString text = m_message;
    if (status.on) {
        QString line = QStringLiteral("%1: %2").arg(QString::fromStdString(status.url),
                                                    QString::fromStdString(status.state));
        if (status.frames > 0 || status.badCrc > 0)
            line += QStringLiteral(", %1 frames, %2 bad").arg(status.frames).arg(status.badCrc);
        if (!status.notForwarded.empty())
            line += QStringLiteral("; not passed to the receiver: %1")
                        .arg(QString::fromStdString(status.notForwarded));
        text = text.isEmpty() ? line : text + QLatin1Char('\n') + line;
    }
    if (text.isEmpty())
        text = QStringLiteral("Not connected.");
    if (m_status->text() != text)
        m_status->setText(text);
}
