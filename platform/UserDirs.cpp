#include "UserDirs.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace platform {

namespace {

// The base directory spec: a relative path in the variable is ignored.
std::string XdgDir(const char *variable, const char *fallback) {
    if (const char *dir = std::getenv(variable); dir != nullptr && dir[0] == '/')
        return std::string(dir) + "/skywatch";
    if (const char *home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::string(home) + "/" + fallback + "/skywatch";
    return {};
}

} // namespace

std::string StateDir() {
    return XdgDir("XDG_STATE_HOME", ".local/state");
}

std::string ConfigDir() {
    return XdgDir("XDG_CONFIG_HOME", ".config");
}

bool MakeDirs(const std::string &dir) {
    if (dir.empty()) {
        errno = ENOENT;
        return false;
    }
    for (std::size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
        const std::string part = dir.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace platform
