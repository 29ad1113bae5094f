#include "StatusApp.h"

#include "CommandLine.h"
#include "SessionMenu.h"
#include "StatusDlg.h"
#include "views/CompareView.h"
#include "views/ConsoleView.h"
#include "views/HistoryView.h"
#include "views/NtripDialog.h"
#include "views/ScatterView.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

int CStatusApp::Run(const AppOptions &options) {
    CStatusDlg dlg;
    dlg.m_startScale = options.scale;
    dlg.m_timeRule = options.time;
    dlg.m_layoutChoice = options.layout;
    dlg.m_strOpenFailure = options.noReceiver;
    dlg.m_otherReceivers = options.otherReceivers;
    // The recording starts before the port opens, so it holds the stream from its first byte.
    if (!options.recordPath.isEmpty()) {
        std::string why;
        if (!dlg.m_port.Recorder().Start(FileNameBytes(options.recordPath).toStdString(),
                                         options.recordOverwrite, why)) {
            std::fprintf(stderr, "skywatch: cannot record: %s\n", why.c_str());
            return 2;
        }
    }
    dlg.OnInitDialog();
    QSize size = options.size;
    // The desktop layout asked for without a size opens where it fits: 640 x 480 at least,
    // within the screen.
    if (!size.isValid() && options.layout == LayoutChoice::Desktop) {
        size = dlg.size().expandedTo(QSize(640, 480));
        if (const QScreen *screen = dlg.screen())
            size = size.boundedTo(screen->availableGeometry().size());
    }
    if (size.isValid()) {
        dlg.resize(size);
        if (const QScreen *screen = dlg.screen()) {
            QRect frame = dlg.frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            dlg.move(frame.topLeft());
        }
    }
    // Shown before a view opens, so the view stays in front of it whatever its size.
    dlg.show();
    CSessionMenu sessionMenu(dlg);
    sessionMenu.SetReplayFile(options.replayFile);
    sessionMenu.SetNtripAddress(options.ntrip);
    // The port is open (or said why not): the client writes to it from its first frame.
    if (!options.ntrip.isEmpty()) {
        if (const QString why = StartCorrections(dlg.m_port, options.ntrip); !why.isEmpty()) {
            std::fprintf(stderr, "skywatch: --ntrip: %s\n", qPrintable(why));
            return 2;
        }
    }
    if (options.view == QStringLiteral("scatter")) {
        GeoPoint reference;
        const bool hasReference = ParseReference(options.reference.toStdString(), reference);
        sessionMenu.OpenScatter(hasReference ? std::optional<GeoPoint>(reference) : std::nullopt);
    } else if (options.view == QStringLiteral("history")) {
        sessionMenu.OpenHistory();
    } else if (options.view.startsWith(QStringLiteral("console"))) {
        sessionMenu.OpenConsole()->SetView(
            options.view.endsWith(QStringLiteral("-hex"))       ? CConsoleModel::View::Hex
            : options.view.endsWith(QStringLiteral("-decoded")) ? CConsoleModel::View::Decoded
                                                                : CConsoleModel::View::Text);
    }

    // A second receiver: both under one sky in a window of their own, in front.
    std::unique_ptr<CCompareView> compare;
    if (!options.compareB.isEmpty()) {
        // A recording is named by its file; a device or an address as given.
        const auto shortName = [](const QString &source) {
            return source.contains(QStringLiteral("://")) ||
                           source.startsWith(QStringLiteral("/dev/"))
                       ? source
                       : source.section(QLatin1Char('/'), -1);
        };
        compare = std::make_unique<CCompareView>(
            dlg.m_port, shortName(options.compareA), shortName(options.compareB),
            dlg.m_port.m_nBaud > 0 ? dlg.m_port.m_nBaud : platform::kNmeaBaud, &dlg);
        compare->show();
        compare->raise();
        compare->activateWindow();
    }

    int exitCode = 0;
    if (!options.screenshotPath.isEmpty()) {
        const int ms =
            options.screenshotAfter > 0 ? static_cast<int>(options.screenshotAfter * 1000) : 0;
        QTimer::singleShot(ms, &dlg, [&dlg, &options, &exitCode, &sessionMenu, &compare] {
            // A view opened at start is what the screenshot is of.
            QWidget *shown = &dlg;
            if (CHistoryView *history = sessionMenu.History()) {
                // What the plots show is the history as of the screenshot.
                history->Refresh();
                shown = history;
                std::printf("%s\n", qPrintable(history->LatestText()));
            } else if (CConsoleView *console = sessionMenu.Console()) {
                console->Refresh();
                shown = console;
                std::printf("%s\n", qPrintable(console->SummaryText()));
            } else if (compare) {
                compare->Refresh();
                shown = compare.get();
                std::printf("%s\n", qPrintable(compare->DifferencesText()));
            } else if (sessionMenu.Scatter() != nullptr) {
                shown = sessionMenu.Scatter();
                std::printf("%s\n", qPrintable(sessionMenu.Scatter()->FiguresText()));
            }
            // The window in front is what a person sees.
            if (QWidget *front = QApplication::activeWindow())
                shown = front;
            const QPixmap shot = shown->grab();
            // Opened by its bytes: QFile would write a name that is not UTF-8 under another name.
            QFile file;
            const int fd = ::open(FileNameBytes(options.screenshotPath).constData(),
                                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            const bool opened =
                fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
            if (fd >= 0 && !opened)
                ::close(fd);
            if (opened && shot.save(&file, "PNG") && file.flush()) {
                std::printf("skywatch: window written to %s\n", qPrintable(options.screenshotPath));
            } else {
                std::fprintf(stderr,
                             "skywatch: cannot write %s; check the folder exists and is "
                             "writable\n",
                             qPrintable(options.screenshotPath));
                exitCode = 1;
            }
            std::fflush(stdout);
            dlg.done(QDialog::Accepted);
        });
    }
    dlg.exec();
    return exitCode;
}
