#include "QtTestSupport.h"

#include "SimProcess.h"

#include <QCoreApplication>
#include <QProcess>

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
    QProcess sim;
    sim.setStandardOutputFile(path);
    sim.start(QString::fromStdString(CSimProcess::Binary()),
              QStringList{QStringLiteral("--write"), QString::number(seconds)} + args);
    return sim.waitForFinished(120000) && sim.exitStatus() == QProcess::NormalExit &&
           sim.exitCode() == 0;
}
