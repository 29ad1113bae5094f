#include "ScreenSaverDBus.h"

#include "UserActivity.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMetaObject>

namespace platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");

void SimulateUserActivity() {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                       QStringLiteral("SimulateUserActivity"));
    // Never start a screen saver just to poke it.
    call.setAutoStartService(false);
    // Fire and forget: nothing waits for the answer.
    QDBusConnection::sessionBus().send(call);
}

} // namespace

bool InstallScreenSaverActivityHook() {
    QCoreApplication *app = QCoreApplication::instance();
    if (app == nullptr)
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(kService).value())
        return false;
    // The notice comes from the reader thread; the connection is used from the main thread only.
    SetUserActivityHook(
        [app] { QMetaObject::invokeMethod(app, &SimulateUserActivity, Qt::QueuedConnection); });
    return true;
}

} // namespace platform
