#include "platform/ExecutableFolder.h"

#include <unistd.h>

namespace platform {

namespace {

std::string ExecutablePath() {
  // readlink does not say whether it truncated, so grow until the result fits.
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace platform
