#pragma once

#include "Wait.h"

#include <QApplication>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

// One QApplication for the whole test program, on the offscreen platform unless the caller
// chose another; created by the first fixture that needs it.
class QtTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
};

// Readable QString values in failure messages.
void PrintTo(const QString &s, std::ostream *os);

// WaitUntil with the event loop run between looks (not before the first: a test that set the
// record by hand keeps it when it already holds), calling each() every round, for ms at most.
bool PumpUntil(const std::function<bool()> &cond, int ms, const std::function<void()> &each = {});

// How many pixels of area have exactly colour c.
int CountColour(const QImage &img, const QRect &area, const QColor &c);

// Writes seconds of the simulated receiver (skywatch-sim --write, with args) to path; false when
// it failed to run or to exit cleanly.
bool WriteSimRecording(const QString &path, int seconds, const QStringList &args = {});
