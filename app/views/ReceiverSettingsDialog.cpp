#include "views/ReceiverSettingsDialog.h"

#include "GpsPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

// Two seconds hold two epochs even at 1 Hz, enough to tell the rate.
constexpr int kMeasureMs = 2000;

constexpr GnssBit kSystems[] = {kGnssGps,    kGnssGlonass, kGnssGalileo,
                                kGnssBeidou, kGnssQzss,    kGnssSbas};
// The systems a receiver that switches none still tracks, shown greyed.
constexpr unsigned kMajorSystems = kGnssGps | kGnssGlonass | kGnssGalileo | kGnssBeidou;

const QColor kConfirmedColour(0, 128, 0);
const QColor kFailedColour(192, 0, 0);

QString Capitalised(const std::string &text) {
    QString s = QString::fromStdString(text);
    if (!s.isEmpty())
        s[0] = s[0].toUpper();
    return s;
}

// Why family cannot change a setting of kind, in the words the configurator refuses it with.
QString WhyNot(ReceiverFamily family, SettingKind kind) {
    Setting setting;
    setting.kind = kind;
    std::string why;
    ComposeSetting(family, 0, setting, false, why);
    return Capitalised(why);
}

// Selects the entry whose data is value; none when no entry has it.
void SelectData(QComboBox *combo, int value) {
    combo->setCurrentIndex(combo->findData(value));
}

} // namespace

CReceiverSettingsDialog::CReceiverSettingsDialog(CGpsPort &port, QWidget *parent)
    : QDialog(parent), m_port(port) {
    setWindowTitle(QStringLiteral("Receiver settings"));
    const auto named = [](QWidget *w, const char *name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    m_family = new QLabel(this);
    m_current = new QLabel(this);
    m_current->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_rate = new QComboBox(this);
    m_gnss = new QWidget(this);
    auto *systems = new QHBoxLayout(m_gnss);
    systems->setContentsMargins(0, 0, 0, 0);
    for (GnssBit bit : kSystems) {
        auto *box = new QCheckBox(QString::fromStdString(GnssListText(bit)), m_gnss);
        box->setObjectName(box->text());
        systems->addWidget(box);
        m_systems.push_back(box);
    }
    systems->addStretch(1);
    m_baud = new QComboBox(this);
    m_apply = new QPushButton(QStringLiteral("Apply"), this);
    m_apply->setToolTip(QStringLiteral("Send the changed settings; the receiver keeps them until "
                                       "it loses power"));
    m_save = new QPushButton(QStringLiteral("Save..."), this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_results = new QListWidget(this);
    m_results->setAccessibleName(QStringLiteral("Results"));
    named(m_family, "family"), named(m_current, "current"), named(m_rate, "rate");
    named(m_gnss, "gnss"), named(m_baud, "baud"), named(m_apply, "apply"), named(m_save, "save");
    named(m_status, "status"), named(m_results, "results");

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Receiver"), m_family);
    form->addRow(QStringLiteral("Now"), m_current);
    form->addRow(QStringLiteral("Rate"), m_rate);
    form->addRow(QStringLiteral("Systems"), m_gnss);
    form->addRow(QStringLiteral("Baud rate"), m_baud);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_apply);
    buttons->addWidget(m_save);
    auto *all = new QVBoxLayout(this);
    all->addLayout(form);
    all->addLayout(buttons);
    all->addWidget(m_status);
    all->addWidget(m_results, 1);
    resize(480, 380);

    connect(m_apply, &QPushButton::clicked, this, [this] { ApplyChanges(false); });
    connect(m_save, &QPushButton::clicked, this, &CReceiverSettingsDialog::Save);
    Offer();
}

CReceiverSettingsDialog::~CReceiverSettingsDialog() {
    // Its answer, queued to this object, goes with it.
    if (m_worker.joinable())
        m_worker.join();
}

void CReceiverSettingsDialog::Read() {
    if (Busy())
        return;
    std::string why;
    m_cannot = m_port.CanSend(why) ? QString() : QString::fromStdString(why);
    if (m_familyKnown == ReceiverFamily::Unknown)
        m_familyKnown = m_port.Family();
    if (!m_cannot.isEmpty()) {
        Offer();
        return;
    }
    Start(QStringLiteral("Reading the receiver's settings..."), nullptr);
}

void CReceiverSettingsDialog::ApplyChanges(bool save) {
    if (Busy() || !m_cannot.isEmpty())
        return;
    std::vector<Setting> settings = Changes();
    if (settings.empty() && !save) {
        m_status->setText(QStringLiteral("Nothing changed: pick another rate, systems or baud "
                                         "rate first."));
        return;
    }
    m_results->clear();
    Start(save ? QStringLiteral("Applying and saving...") : QStringLiteral("Applying..."),
          [settings = std::move(settings), save](CReceiverConfigurator &configurator,
                                                 std::vector<SettingResult> &results) {
              results = configurator.ApplyAll(settings, save);
          });
}

void CReceiverSettingsDialog::Save() {
    if (Busy() || !m_cannot.isEmpty())
        return;
    const auto answer = QMessageBox::question(
        this, QStringLiteral("Save receiver settings"),
        QStringLiteral("Save writes the receiver's flash memory; settings survive a power "
                       "cycle. Flash wears with each write: save only what you mean to keep."),
        QMessageBox::Save | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer == QMessageBox::Save)
        ApplyChanges(true);
}

void CReceiverSettingsDialog::Start(const QString &doing, Job job) {
    m_status->setText(doing);
    for (QWidget *w : {static_cast<QWidget *>(m_rate), m_gnss, static_cast<QWidget *>(m_baud),
                       static_cast<QWidget *>(m_apply), static_cast<QWidget *>(m_save)})
        w->setEnabled(false);
    emit BusyChanged(true);
    m_worker = std::thread([this, job = std::move(job)] {
        std::vector<SettingResult> results;
        CReceiverConfigurator::Current current;
        {
            CReceiverConfigurator configurator(m_port);
            if (job)
                job(configurator, results);
            current = configurator.Measure(kMeasureMs);
        }
        const ReceiverFamily family = m_port.Family();
        QMetaObject::invokeMethod(
            this,
            [this, results = std::move(results), current, family]() mutable {
                m_worker.join();
                Finish(std::move(results), current, family);
            },
            Qt::QueuedConnection);
    });
}

void CReceiverSettingsDialog::Finish(std::vector<SettingResult> results,
                                     CReceiverConfigurator::Current current,
                                     ReceiverFamily family) {
    // A port reopened at a new speed learns the family again: what it said before still holds.
    if (family != ReceiverFamily::Unknown)
        m_familyKnown = family;
    m_now = current;
    m_measured = true;
    int confirmed = 0;
    for (const SettingResult &result : results) {
        auto *item = new QListWidgetItem(QString::fromStdString(ResultText(result)), m_results);
        item->setForeground(result.Confirmed() ? kConfirmedColour : kFailedColour);
        if (!result.detail.empty())
            item->setToolTip(QString::fromStdString(result.detail));
        confirmed += result.Confirmed() ? 1 : 0;
    }
    emit BusyChanged(false);
    Offer();
    if (!results.empty())
        m_status->setText(QStringLiteral("%1 of %2 confirmed.").arg(confirmed).arg(results.size()));
}

std::vector<Setting> CReceiverSettingsDialog::Changes() const {
    std::vector<Setting> changes;
    const FamilySupport support = SupportOf(m_familyKnown);
    Setting setting;
    if (m_rate->isEnabled() && m_rate->currentIndex() >= 0) {
        setting.kind = SettingKind::Rate;
        setting.rateHz = m_rate->currentData().toInt();
        if (setting.rateHz != static_cast<int>(std::lround(m_now.rateHz)))
            changes.push_back(setting);
    }
    if (m_gnss->isEnabled()) {
        unsigned mask = support.gnssRequired;
        for (std::size_t i = 0; i < m_systems.size(); ++i)
            if (m_systems[i]->isChecked() && (support.gnssChoices & kSystems[i]) != 0)
                mask |= kSystems[i];
        if (mask != ((m_now.gnss & support.gnssChoices) | support.gnssRequired)) {
            setting = Setting{};
            setting.kind = SettingKind::Gnss;
            setting.gnss = mask;
            changes.push_back(setting);
        }
    }
    if (m_baud->isEnabled() && m_baud->currentIndex() >= 0 &&
        m_baud->currentData().toInt() != m_now.baud) {
        setting = Setting{};
        setting.kind = SettingKind::Baud;
        setting.baud = m_baud->currentData().toInt();
        // A faster line first, so a faster rate fits it; a slower one after the rate came down.
        if (setting.baud > m_now.baud)
            changes.insert(changes.begin(), setting);
        else
            changes.push_back(setting);
    }
    return changes;
}

void CReceiverSettingsDialog::Offer() {
    const FamilySupport support = SupportOf(m_familyKnown);
    const QString family = QString::fromUtf8(FamilyName(m_familyKnown));
    m_family->setText(m_familyKnown == ReceiverFamily::Unknown ? QStringLiteral("not named yet")
                                                               : family);
    ShowCurrent();

    m_rate->clear();
    for (int hz : support.rates)
        m_rate->addItem(QStringLiteral("%1 Hz").arg(hz), hz);
    SelectData(m_rate, static_cast<int>(std::lround(m_now.rateHz)));
    for (std::size_t i = 0; i < m_systems.size(); ++i) {
        QCheckBox *box = m_systems[i];
        const unsigned bit = kSystems[i];
        box->setVisible((support.gnss ? support.gnssChoices : kMajorSystems) & bit);
        box->setChecked((m_now.gnss & bit) != 0 || (support.gnssRequired & bit) != 0);
        box->setEnabled((support.gnssRequired & bit) == 0);
        box->setToolTip((support.gnssRequired & bit) != 0
                            ? QStringLiteral("%1 receivers always track %2")
                                  .arg(family, QString::fromStdString(GnssListText(bit)))
                            : QString());
    }
    m_baud->clear();
    for (int baud : support.bauds)
        m_baud->addItem(QString::number(baud), baud);
    SelectData(m_baud, m_now.baud);

    // What can be offered: nothing before a reading, on a source that takes no commands, or for
    // a receiver that has not named its maker.
    const bool open = m_cannot.isEmpty() && m_measured && !Busy();
    const bool known = m_familyKnown != ReceiverFamily::Unknown;
    const bool network = m_measured && m_now.baud == 0;
    const auto offer = [&](QWidget *w, bool supported, const QString &why) {
        w->setEnabled(open && known && supported);
        w->setToolTip(open && known && !supported ? why : QString());
    };
    offer(m_rate, support.rate, WhyNot(m_familyKnown, SettingKind::Rate));
    offer(m_gnss, support.gnss, WhyNot(m_familyKnown, SettingKind::Gnss));
    offer(m_baud, support.baud && !network,
          network ? QStringLiteral("A network source has no baud rate of its own")
                  : WhyNot(m_familyKnown, SettingKind::Baud));
    offer(m_save, support.save, WhyNot(m_familyKnown, SettingKind::Save));
    if (m_save->isEnabled())
        m_save->setToolTip(QStringLiteral("Send the changed settings and write them to the "
                                          "receiver's flash memory"));
    const bool applies = support.rate || support.gnss || support.baud;
    m_apply->setEnabled(open && known && applies && !support.onlyWithSave);
    if (open && known && support.onlyWithSave)
        m_apply->setToolTip(QStringLiteral("%1 receivers use new settings only after a save and "
                                           "a reset: use Save")
                                .arg(family));

    if (!m_cannot.isEmpty())
        m_status->setText(QStringLiteral("Receiver settings cannot be changed: %1").arg(m_cannot));
    else if (m_measured && !known)
        m_status->setText(QStringLiteral("The receiver has not named its maker, so its settings "
                                         "are unknown; open this again once it has."));
    else if (m_measured)
        m_status->setText(QString());
}

void CReceiverSettingsDialog::ShowCurrent() {
    if (!m_measured) {
        m_current->setText(QStringLiteral("-"));
        return;
    }
    QStringList parts;
    parts << (m_now.rateHz > 0.0 ? QStringLiteral("rate %1 Hz").arg(m_now.rateHz, 0, 'f', 1)
                                 : QStringLiteral("no epochs in %1 s").arg(kMeasureMs / 1000));
    parts << (m_now.gnss != 0 ? QString::fromStdString(GnssListText(m_now.gnss))
                              : QStringLiteral("no satellites in view"));
    if (m_now.baud > 0)
        parts << QStringLiteral("%1 baud").arg(m_now.baud);
    m_current->setText(parts.join(QStringLiteral(", ")));
}
