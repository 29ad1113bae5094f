#include "QtTestSupport.h"

#include "SimProcess.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

void QtTest::SetUpTestSuite() {
    if (QApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    static int argc = 1;
    static char name[] = "skywatch_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *app = new QApplication(argc, argv);
    (void)app;
}

void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

bool PumpUntil(const std::function<bool()> &cond, int ms, const std::function<void()> &each) {
    const auto pump = [&] {
        if (each)
            each();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    return WaitUntil(cond, std::chrono::milliseconds(ms), pump);
}

int CountColour(const QImage &img, const QRect &area, const QColor &c) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += QColor(img.pixel(x, y)) == c ? 1 : 0;
    return n;
}

bool WriteSimRecording(const QString &path, int seconds, const QStringList &args) {
    // Spawned rather than forked: the test process runs threads, and a fork of it (QProcess's)
    // is refused under ThreadSanitizer.
    std::vector<std::string> words = {CSimProcess::Binary(), "--write", std::to_string(seconds)};
    for (const QString &arg : args)
        words.push_back(arg.toStdString());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, QFile::encodeName(path).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
