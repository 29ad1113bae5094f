#pragma once

#include <QApplication>
#include <QByteArray>
#include <gtest/gtest.h>

// One QApplication for the whole test program, on the offscreen platform unless the caller
// chose another; created by the first fixture that needs it.
class QtTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        if (QApplication::instance())
            return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        static int argc = 1;
        static char name[] = "skywatch_tests";
        static char* argv[] = {name, nullptr};
        static QApplication* app = new QApplication(argc, argv);
        (void)app;
    }
};
