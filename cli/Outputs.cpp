#include "cli/Outputs.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

bool COutputs::Claim(const std::string& path) {
  std::lock_guard lock(m_mutex);
  return m_claimed.insert(path).second;
}

void COutputs::AddTemporary(const std::string& path) {
  if (!path.empty()) m_temporaries.insert(path);
}

void COutputs::RemoveTemporary(const std::string& path) { m_temporaries.erase(path); }

void COutputs::End() {
  m_mutex.lock();
  m_ending = true;
  for (const std::string& path : m_temporaries) ::unlink(path.c_str());
  m_temporaries.clear();
  // The lock stays taken: the process ends next.
}

void RemoveStaleTemporaries(const std::string& folder) {
  const std::string at = folder.empty() ? "./" : folder.back() == '/' ? folder : folder + "/";
  DIR* dir = ::opendir(at.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    // .magnova-<process>-<random>-<count>.part, as every save names them.
    int pid = 0, end = 0;
    unsigned long random = 0, count = 0;
    if (std::sscanf(entry->d_name, ".magnova-%d-%lu-%lu.part%n", &pid, &random, &count, &end) !=
            3 ||
        end <= 0 || entry->d_name[end] != '\0' || pid <= 0) {
      continue;
    }
    if (::kill(pid, 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

}  // namespace cli
