#pragma once

#include "AppOptions.h"

#include <QByteArray>
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
    QString device;        // DEVICE, bound to COM4 (empty: discovered)
    QString compareDevice; // a second DEVICE: shown beside the first in a comparison window
    std::vector<std::pair<int, QString>> bindings; // --com N=PATH
    bool demo = false;                             // --demo or --replay
    QString replayFile;
};

// An argument as text with its bytes kept: a byte that is not part of UTF-8 rides along as
// U+DC80 + byte, so FileNameBytes gives back exactly the name the user typed.
QString ArgumentText(const QByteArray &bytes);
// The bytes to hand the system for a file name: ArgumentText's bytes back, UTF-8 for the rest.
QByteArray FileNameBytes(const QString &name);

// Parses arguments (the program name first) without a Q(Core)Application.
CommandLine ParseCommandLine(const QStringList &arguments);

// What discovery found under a device folder.
struct Discovery {
    QString chosen;       // the receiver COM4 opens; empty: none, and nothing is opened
    QStringList others;   // further plausible receivers, not opened
    QStringList passedBy; // "PATH (what it is)": devices that identify as something else
};

// Receivers under devRoot: the entries of serial/by-id (sorted), then ttyUSB*, then ttyACM* (in
// number order), those that identify as GNSS receivers first (by name or USB vendor:product,
// read under sysRoot). Opening a line raises DTR, which resets boards such as an Arduino or a
// printer's controller, so devices that identify as something else are never chosen.
Discovery DiscoverReceivers(const QString &devRoot = QStringLiteral("/dev"),
                            const QString &sysRoot = QStringLiteral("/sys"));
// The chosen one of DiscoverReceivers, or empty.
QString DiscoverReceiver(const QString &devRoot = QStringLiteral("/dev"));

// Binds COM4 to the command line's DEVICE (or the discovered one) and the --com entries. Returns
// what discovery found (nothing is discovered when DEVICE is given).
Discovery BindPorts(const CommandLine &commandLine, const QString &devRoot = QStringLiteral("/dev"),
                    const QString &sysRoot = QStringLiteral("/sys"));

// Why the window cannot open on this session, or empty: no display and no offscreen request.
QString DisplayProblem();

// Where the simulated receiver is: beside the program, in ../tools, or on PATH. Empty if none.
QString FindSimulator(const QString &programDir);
