#pragma once

#include "QtTestApp.h"

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

// The window tests' one QApplication, on the offscreen platform unless the caller chose another.
class AppTest : public QtTest {};

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
