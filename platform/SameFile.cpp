#include "SameFile.h"

#include <sys/stat.h>

namespace platform {

FileKey KeyOfPath(const std::string &path) {
    FileKey key;
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0)
        return FileKey{true, true, st.st_dev, st.st_ino, {}};
    // Not there yet: its folder and its last name say where it would be made.
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::size_t slash = folder.rfind('/');
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    if (path.empty() || name.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        key.name = path;
        return key;
    }
    return FileKey{true, false, st.st_dev, st.st_ino, name};
}

FileKey KeyOfDescriptor(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return FileKey{false, false, 0, 0, "/dev/fd/" + std::to_string(fd)};
    return FileKey{true, true, st.st_dev, st.st_ino, {}};
}

bool SameFile(const std::string &a, const std::string &b) {
    return KeyOfPath(a) == KeyOfPath(b);
}

} // namespace platform
