#include "cli/Outputs.h"

#include <unistd.h>

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

}  // namespace cli
