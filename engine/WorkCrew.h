#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

namespace ampliscale {

// Runs a job's chunks on worker threads while the calling thread reports progress.
// Created, run and destroyed on the calling thread; the workers only take
// chunks, run them and count their cost. Reports go out from the calling
// thread alone, every few milliseconds; a report that says the job is
// abandoned stops the workers before their next chunk.
class WorkCrew {
 public:
  // Called with stage 2 ... 14 and value 0 ... 255; returns true once the job is abandoned.
  using Report = std::function<bool(int stage, int value)>;
  // Runs chunk `index` on worker `worker` (0 ... threads - 1).
  using Task = std::function<void(int index, int worker)>;

  WorkCrew(int threads, std::uint64_t totalCost, Report report);

  int Threads() const { return m_threads; }
  // Runs every chunk of one phase; chunks of a phase may run in any order and
  // at once. Returns false, leaving chunks undone, once the job is abandoned.
  // An exception thrown by a chunk stops the phase and is rethrown here.
  bool RunPhase(const std::vector<std::uint64_t>& costs, const Task& task);
  // Ends the job's reports. A report that enters a stage has its value
  // ignored by a stage-counting bar; the last one is then repeated, so that
  // the caller's next fall of the value counts as the next step.
  void Finish();

 private:
  void Work(const std::vector<std::uint64_t>& costs, const Task& task, int worker, bool reports);
  void WaitWhileReportHangs();
  void SendReport();

  const int m_threads;
  const std::uint64_t m_totalCost;
  const Report m_report;
  std::atomic<std::uint64_t> m_doneCost{0};
  std::atomic<int> m_nextChunk{0};
  std::atomic<bool> m_abandoned{false};
  // Steady-clock nanoseconds at which the report under way began, 0 when none is.
  std::atomic<std::int64_t> m_reportSince{0};
  std::chrono::steady_clock::time_point m_lastReport;
  int m_lastStage = 0;
  bool m_enteredStage = false;
  std::mutex m_mutex;
  std::condition_variable m_phaseEnd;
  std::condition_variable m_reportEnd;
  int m_running = 0;             // workers still in the phase; guarded by m_mutex
  std::exception_ptr m_failure;  // guarded by m_mutex
};

}  // namespace ampliscale
