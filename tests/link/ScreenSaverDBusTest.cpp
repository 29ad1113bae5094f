// The user-activity notice reaches a screen saver on a real session bus, and nothing is
// installed where there is no bus.
#include "ScreenSaverDBus.h"
#include "UserActivity.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// Stands in for the desktop's screen saver: counts SimulateUserActivity calls.
class CFakeScreenSaver : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.ScreenSaver") ||
            message.member() != QLatin1String("SimulateUserActivity"))
            return false;
        ++calls;
        connection.send(message.createReply());
        return true;
    }
    std::atomic<int> calls{0};
};

// A private session bus for the test.
class CBusDaemon {
public:
    CBusDaemon() {
        FILE *out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                            "2>/dev/null",
                            "r");
        if (out == nullptr)
            return;
        char line[512] = {};
        if (std::fgets(line, sizeof line, out) != nullptr)
            m_address = Trim(line);
        if (std::fgets(line, sizeof line, out) != nullptr)
            m_pid = std::atoi(line);
        ::pclose(out);
    }
    ~CBusDaemon() {
        if (m_pid > 0)
            ::kill(m_pid, SIGTERM);
    }
    bool Running() const { return !m_address.empty() && m_pid > 0; }
    const std::string &Address() const { return m_address; }

private:
    static std::string Trim(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    std::string m_address;
    int m_pid = -1;
};

TEST(ScreenSaverDBus, NoticeAsksTheSessionScreenSaver) {
    if (::system("command -v dbus-daemon >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "dbus-daemon is not installed";
    CBusDaemon daemon;
    ASSERT_TRUE(daemon.Running());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", daemon.Address().c_str(), 1);
    int argc = 1;
    char name[] = "screensaver_tests";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QDBusConnection saverBus =
        QDBusConnection::connectToBus(QString::fromStdString(daemon.Address()), "fake-saver");
    ASSERT_TRUE(saverBus.isConnected());
    CFakeScreenSaver saver;
    ASSERT_TRUE(saverBus.registerVirtualObject("/org/freedesktop/ScreenSaver", &saver));
    ASSERT_TRUE(saverBus.registerService("org.freedesktop.ScreenSaver"));

    ASSERT_TRUE(platform::InstallScreenSaverActivityHook());
    // The reader thread gives the notice.
    std::thread reader([] {
        platform::NoteUserActivity();
        platform::NoteUserActivity();
    });
    reader.join();
    QElapsedTimer timer;
    timer.start();
    while (saver.calls < 2 && timer.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(saver.calls, 2);

    platform::SetUserActivityHook({});
    saverBus.unregisterObject("/org/freedesktop/ScreenSaver");
    QDBusConnection::disconnectFromBus("fake-saver");
}

// Runs in a child process, whose session bus address nothing has read yet.
[[noreturn]] void InstallWithoutABus() {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/skywatch-bus", 1);
    int argc = 1;
    char name[] = "screensaver_tests";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const bool installed = platform::InstallScreenSaverActivityHook();
    const bool hooked = static_cast<bool>(platform::SetUserActivityHook({}));
    std::_Exit(installed || hooked ? 1 : 0);
}

TEST(ScreenSaverDBus, NothingIsInstalledWithoutASessionBus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(InstallWithoutABus(), ::testing::ExitedWithCode(0), "");
}

} // namespace
