#pragma once

#include "AppOptions.h"

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class QWidget;

// What the command line asks for, before any window exists.
struct CommandLine {
    enum class Action { Run, Exit };
    Action action = Action::Run;
    int exitCode = 0; // with Action::Exit
    QString message;  // with Action::Exit: printed, to stderr when exitCode is not 0
    AppOptions options;
    QString device;                                // DEVICE, bound to COM4 (empty: discovered)
    std::vector<std::pair<int, QString>> bindings; // --com N=PATH
    bool demo = false;                             // --demo or --replay
    QString replayFile;
};

// Parses arguments (the program name first) without a Q(Core)Application.
CommandLine ParseCommandLine(const QStringList &arguments);

// The first receiver-like device under devRoot: the entries of serial/by-id (sorted), then
// ttyUSB*, then ttyACM* (in number order). Empty when there is none.
QString DiscoverReceiver(const QString &devRoot = QStringLiteral("/dev"));

// Binds COM4 to the command line's DEVICE (or the discovered one) and the --com entries.
void BindPorts(const CommandLine &commandLine, const QString &devRoot = QStringLiteral("/dev"));

// Why the window cannot open on this session, or empty: no display and no offscreen request.
QString DisplayProblem();

// The port list (control 1011) of the dialog shows each entry's device path as its tooltip.
void SetPortToolTips(QWidget &dialog);

// Where the simulated receiver is: beside the program, in ../tools, or on PATH. Empty if none.
QString FindSimulator(const QString &programDir);
