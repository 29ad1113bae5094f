#pragma once

#include <functional>

namespace platform {

// Keeps the screen from blanking while the receiver talks. The application installs what a
// notice does (on a desktop, a call to the session's screen saver); without a hook a notice does
// nothing. Tests install a counter.
using UserActivityHook = std::function<void()>;

// Installs hook (an empty one removes it) and returns the hook it replaces. The hook runs on the
// thread that calls NoteUserActivity and must not call SetUserActivityHook.
UserActivityHook SetUserActivityHook(UserActivityHook hook);

// Any thread.
void NoteUserActivity();

} // namespace platform
