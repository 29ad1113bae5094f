#pragma once

#include <string>
#include <sys/types.h>

namespace platform {

// Which file a name leads to: an existing file by its device and inode, one not there yet by its
// folder's device and inode and its own last name, so "o", "./o" and "d/../o" come out equal.
struct FileKey {
    bool known = false; // false: not even the folder could be looked at
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name; // the last name of a file not there yet; the whole path when not known
    bool operator==(const FileKey &) const = default;
};

FileKey KeyOfPath(const std::string &path);
// The file open on fd (standard input, a replay).
FileKey KeyOfDescriptor(int fd);
// True when a and b name one file, or one place for a file not there yet.
bool SameFile(const std::string &a, const std::string &b);

} // namespace platform
