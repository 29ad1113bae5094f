#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class CStatusDlg;
class QWidget;

// Runs the event loop until cond holds or ms have passed; returns cond().
bool WaitFor(const std::function<bool()>& cond, int ms);

// The text a control shows: a label's text, a button's, or a drop-down list's selected entry.
QString ShownText(const CStatusDlg& dlg, int id);

// A simulated receiver on a pseudo-terminal, started from the build tree; empty Path() when the
// simulator is not built or does not start.
class CSimulator {
public:
    // args: the simulator's options, e.g. --replay FILE.
    explicit CSimulator(const QStringList& args = {});
    ~CSimulator();
    CSimulator(const CSimulator&) = delete;
    CSimulator& operator=(const CSimulator&) = delete;
    const QString& Path() const { return m_path; }
    static QString Binary();

private:
    struct Process;
    Process* m_proc = nullptr;
    QString m_path;
};
