#include "StatusApp.h"

#include "StatusDlg.h"

#include <QPixmap>
#include <QTimer>
#include <cstdio>

int CStatusApp::Run(const AppOptions &options) {
    CStatusDlg dlg;
    dlg.m_startScale = options.scale;
    dlg.m_timeRule = options.time;
    dlg.m_layoutChoice = options.layout;
    dlg.m_strOpenFailure = options.noReceiver;
    dlg.m_otherReceivers = options.otherReceivers;
    dlg.OnInitDialog();
    if (options.size.isValid())
        dlg.resize(options.size);

    int exitCode = 0;
    if (!options.screenshotPath.isEmpty()) {
        const int ms =
            options.screenshotAfter > 0 ? static_cast<int>(options.screenshotAfter * 1000) : 0;
        QTimer::singleShot(ms, &dlg, [&dlg, &options, &exitCode] {
            const QPixmap shot = dlg.grab();
            if (shot.save(options.screenshotPath, "PNG")) {
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
