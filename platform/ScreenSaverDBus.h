#pragma once

namespace platform {

// Makes each user-activity notice ask the session's screen saver to reset its idle timer
// (org.freedesktop.ScreenSaver SimulateUserActivity on the session bus). Call it on the main
// thread after the QCoreApplication exists. Where there is no session bus or no screen saver on
// it, installs nothing and returns false. The calls go out from the main thread's event loop,
// so remove the hook or close the port before the application object goes away.
bool InstallScreenSaverActivityHook();

} // namespace platform
