#pragma once

#include <mutex>
#include <set>
#include <string>

// The files a run writes: which names its jobs have claimed, and which
// temporary files exist while results are written. Ending the run (Ctrl+C)
// takes the lock for good and removes every temporary file, so that no
// partial result is ever left, whatever the jobs are doing. Any thread.
namespace cli {

class COutputs {
 public:
  // Claims path for one job; false when another job of this run has it.
  bool Claim(const std::string& path);

  // Runs step under the lock, unless the run is ending: then returns false
  // without running it. Temporary files are made, renamed and removed only
  // in such steps.
  template <class Step>
  bool Locked(Step&& step) {
    std::lock_guard lock(m_mutex);
    if (m_ending) return false;
    step();
    return true;
  }
  // Within a Locked step.
  void AddTemporary(const std::string& path);
  void RemoveTemporary(const std::string& path);

  // Ends the run: removes the temporary files of jobs still writing and
  // keeps the lock, so that no job makes, renames or removes a file after it.
  void End();

 private:
  std::mutex m_mutex;
  bool m_ending = false;
  std::set<std::string> m_claimed;
  std::set<std::string> m_temporaries;
};

// Removes from folder the temporary files that runs and saves of this
// program left when they were killed: those whose process is gone.
void RemoveStaleTemporaries(const std::string& folder);

}  // namespace cli
