#pragma once

#include "Ntrip.h"

#include <QDialog>
#include <QString>
#include <thread>
#include <vector>

class CGpsPort;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;

// Where the receiver's RTK corrections come from: a caster's address and login, a mount point
// picked from its source table, whether the receiver's position goes up (GGA), and Connect /
// Disconnect for the port's client. Controls are named for the tests: host, port, user,
// password, mount, mounts, gga, fetch, connect, disconnect, status.
class CNtripDialog : public QDialog {
    Q_OBJECT

public:
    explicit CNtripDialog(CGpsPort &port, QWidget *parent = nullptr);
    ~CNtripDialog() override;

    // The fields from url; the password goes only into its own field.
    void SetUrl(const platform::ntrip::NtripUrl &url);
    // The address the fields make; false with the reason, which never holds the password.
    bool FieldsUrl(platform::ntrip::NtripUrl &url, QString &why) const;
    // Asks the caster for its source table on a thread of its own; the list fills when it answers.
    void FetchTable();
    // The caster's answer: the list, nearest first from the receiver's fix when there is one, or
    // why there is none.
    void ShowTable(std::vector<platform::ntrip::SourceEntry> entries, const QString &why);
    void Connect();
    void Disconnect();
    // True while a source table is being fetched.
    bool Fetching() const { return m_fetch.joinable(); }

private:
    void OnPicked();
    void UpdateStatus();

    CGpsPort &m_port;
    QLineEdit *m_host = nullptr;
    QSpinBox *m_portBox = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_mount = nullptr;
    QTreeWidget *m_mounts = nullptr;
    QCheckBox *m_gga = nullptr;
    QPushButton *m_fetchButton = nullptr;
    QPushButton *m_connect = nullptr;
    QPushButton *m_disconnect = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_follow = nullptr;
    std::vector<platform::ntrip::SourceEntry> m_entries; // in the list's order
    QString m_message; // the last word of the dialog's own: a refused table, a bad field
    std::thread m_fetch;
};

// Starts corrections from the caster at address (ntrip://...) on port, with GGA going up when
// gga is set or the caster asks for it; the reason it cannot (never holding the password), or
// empty.
QString StartCorrections(CGpsPort &port, const QString &address, bool gga = false);
