#pragma once

#include <string>

namespace platform {

// The folder for what the program learns and keeps across runs: $XDG_STATE_HOME/skywatch, or
// ~/.local/state/skywatch; "" when neither variable names an absolute path.
std::string StateDir();
// The folder of the user's own settings files: $XDG_CONFIG_HOME/skywatch, or ~/.config/skywatch.
std::string ConfigDir();
// Makes dir and its missing parents (private to the user); false with errno when it cannot.
bool MakeDirs(const std::string &dir);

} // namespace platform
