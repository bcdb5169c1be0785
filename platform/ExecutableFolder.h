#pragma once

#include <string>

namespace platform {

// The running program's own folder, from /proc/self/exe at any length, with
// its final '/'; empty when the link cannot be read. The help file, the help
// viewer and the program's helpers are looked for here. Any thread.
std::string ExecutableFolder();

}  // namespace platform
