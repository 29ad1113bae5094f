#include "UserActivity.h"

#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex g_lock;
UserActivityHook g_hook;

} // namespace

UserActivityHook SetUserActivityHook(UserActivityHook hook) {
    std::lock_guard lock(g_lock);
    std::swap(g_hook, hook);
    return hook;
}

void NoteUserActivity() {
    // Held across the call so that a hook being removed is never running afterwards.
    std::lock_guard lock(g_lock);
    if (g_hook)
        g_hook();
}

} // namespace platform
