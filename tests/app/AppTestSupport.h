#pragma once

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

// One QApplication for the test program, on the offscreen platform unless the caller chose
// another; created by the first fixture that needs it.
class AppTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        if (QApplication::instance())
            return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        static int argc = 1;
        static char name[] = "app_tests";
        static char *argv[] = {name, nullptr};
        static QApplication *app = new QApplication(argc, argv);
        (void)app;
    }
};

// Runs the event loop, calling each() every round, until cond holds or ms have passed.
inline bool PumpUntil(const std::function<bool()> &cond, int ms,
                      const std::function<void()> &each = {}) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (each)
            each();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (cond())
            return true;
        if (clock.elapsed() > ms)
            return false;
    }
}
