#pragma once

#include "receiver/ReceiverConfigurator.h"
#include "receiver/ReceiverSettings.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <thread>
#include <vector>

class CGpsPort;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

// The receiver's own settings: its measurement rate, constellations and baud rate, as the family
// it named takes them, read back from what it does and applied (or saved to its flash) on a
// worker thread. Controls are named for the tests: family, current, rate, gnss (holding a box
// per system, named by GnssListText), baud, apply, save, status, results.
class CReceiverSettingsDialog : public QDialog {
    Q_OBJECT

public:
    explicit CReceiverSettingsDialog(CGpsPort &port, QWidget *parent = nullptr);
    ~CReceiverSettingsDialog() override;

    // Measures what the receiver does now and offers its family's choices; on a source that
    // takes no commands only says why.
    void Read();
    // The changed settings to the receiver; with save, written to its flash as well (no question
    // asked: Save() asks).
    void ApplyChanges(bool save);
    // Asks before writing the flash, then ApplyChanges(true).
    void Save();
    // True while the worker uses the port.
    bool Busy() const { return m_worker.joinable(); }

signals:
    // The port is the worker's from busy true to false: its owner must not open, close or read it.
    void BusyChanged(bool busy);

private:
    using Job = std::function<void(CReceiverConfigurator &, std::vector<SettingResult> &)>;
    // Runs job on the worker, then measures again; the results come back queued.
    void Start(const QString &doing, Job job);
    void Finish(std::vector<SettingResult> results, CReceiverConfigurator::Current current,
                ReceiverFamily family);
    // The settings the controls differ in from what was measured, in an order the line carries.
    std::vector<Setting> Changes() const;
    // Enables what the family supports, with the reason on what it does not.
    void Offer();
    void ShowCurrent();

    CGpsPort &m_port;
    QLabel *m_family = nullptr;
    QLabel *m_current = nullptr;
    QComboBox *m_rate = nullptr;
    QWidget *m_gnss = nullptr;
    std::vector<QCheckBox *> m_systems; // one per GnssBit, in its order
    QComboBox *m_baud = nullptr;
    QPushButton *m_apply = nullptr;
    QPushButton *m_save = nullptr;
    QLabel *m_status = nullptr;
    QListWidget *m_results = nullptr;
    ReceiverFamily m_familyKnown = ReceiverFamily::Unknown;
    CReceiverConfigurator::Current m_now;
    bool m_measured = false;
    // Why nothing can be sent, "" when the source takes commands.
    QString m_cannot;
    std::thread m_worker;
};
