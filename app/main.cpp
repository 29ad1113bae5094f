#include "CommandLine.h"
#include "PortTable.h"
#include "ScreenSaverDBus.h"
#include "StatusApp.h"
#include "StatusDlg.h"
#include "views/CompareView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>

namespace {

int Refuse(const QString &message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    return 2;
}

// Starts the simulated receiver and returns the pseudo-terminal it prints first, or empty.
QString StartSimulator(QProcess &sim, const CommandLine &commandLine, QString &error) {
    const QString program = FindSimulator(QCoreApplication::applicationDirPath());
    if (program.isEmpty()) {
        error = QStringLiteral("skywatch: skywatch-sim not found beside skywatch, in ../tools or "
                               "on PATH; build the skywatch-sim target");
        return {};
    }
    QStringList arguments;
    if (!commandLine.replayFile.isEmpty()) {
        const QByteArray name = FileNameBytes(commandLine.replayFile);
        // QProcess passes arguments as UTF-8: a name that is not goes as the file, open.
        const int fd =
            name == commandLine.replayFile.toUtf8() ? -1 : ::open(name.constData(), O_RDONLY);
        arguments << QStringLiteral("--replay")
                  << (fd >= 0 ? QStringLiteral("/dev/fd/%1").arg(fd) : commandLine.replayFile);
    }
    // Its reports of received restart commands go to our stderr, where the user sees them.
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It goes with the window even when skywatch is killed.
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    sim.start(program, arguments);
    QElapsedTimer clock;
    clock.start();
    while (!sim.canReadLine() && sim.state() != QProcess::NotRunning && clock.elapsed() < 5000)
        sim.waitForReadyRead(100);
    const QString link = QString::fromLocal8Bit(sim.readLine()).trimmed();
    if (link.isEmpty())
        error = QStringLiteral("skywatch: %1 printed no pseudo-terminal").arg(program);
    return link;
}

} // namespace

int main(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << ArgumentText(QByteArray(argv[i]));
    CommandLine commandLine = ParseCommandLine(arguments);
    if (commandLine.action == CommandLine::Action::Exit) {
        if (commandLine.exitCode != 0)
            return Refuse(commandLine.message);
        std::fputs(qPrintable(commandLine.message), stdout);
        return 0;
    }
    if (const QString problem = DisplayProblem(); !problem.isEmpty())
        return Refuse(problem);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("skywatch"));
    QApplication::setApplicationVersion(QStringLiteral(SKYWATCH_VERSION));
    // A receiver that talks keeps the screen from blanking, where a screen saver listens.
    platform::InstallScreenSaverActivityHook();

    QProcess sim;
    if (commandLine.demo) {
        QString error;
        commandLine.device = StartSimulator(sim, commandLine, error);
        if (commandLine.device.isEmpty())
            return Refuse(error);
        // Whatever else it prints on stdout is not ours to keep.
        QObject::connect(&sim, &QProcess::readyReadStandardOutput, &sim,
                         [&sim] { sim.readAllStandardOutput(); });
    }
    // Tests point discovery at folders of their own.
    const QString devRoot = qEnvironmentVariable("SKYWATCH_DEV_ROOT", QStringLiteral("/dev"));
    const QString sysRoot = qEnvironmentVariable("SKYWATCH_SYS_ROOT", QStringLiteral("/sys"));
    const Discovery found = BindPorts(commandLine, devRoot, sysRoot);
    const bool bComFourBound = std::any_of(commandLine.bindings.begin(), commandLine.bindings.end(),
                                           [](const auto &binding) { return binding.first == 4; });
    if (commandLine.device.isEmpty() && !bComFourBound && found.chosen.isEmpty())
        commandLine.options.noReceiver = QStringLiteral("none found");
    commandLine.options.otherReceivers = found.others + found.passedBy;
    commandLine.options.replayFile = commandLine.replayFile;
    if (!commandLine.compareDevice.isEmpty()) {
        platform::BindPort(CCompareView::kPortB,
                           FileNameBytes(commandLine.compareDevice).toStdString());
        commandLine.options.compareA = commandLine.device;
        commandLine.options.compareB = commandLine.compareDevice;
    }

    const int exitCode = CStatusApp().Run(commandLine.options);

    // The window has closed its port; now the simulator may go.
    if (sim.state() != QProcess::NotRunning) {
        sim.terminate();
        if (!sim.waitForFinished(2000))
            sim.kill();
        sim.waitForFinished(1000);
    }
    return exitCode;
}
