#include "engine/WorkCrew.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace ampliscale {
namespace {

constexpr auto kReportEvery = std::chrono::milliseconds(4);
// A report that takes longer than this is held by the host (paused): the
// workers then wait for it too instead of taking new chunks.
constexpr std::int64_t kHeldAfterNs = 1'000'000;
// The job's stages: 2 ... 14, each an equal share of the work.
constexpr int kFirstStage = 2;
constexpr int kStages = 13;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

WorkCrew::WorkCrew(int threads, std::uint64_t totalCost, Report report)
    : m_threads(std::max(1, threads)), m_totalCost(totalCost), m_report(std::move(report)) {}

bool WorkCrew::RunPhase(const std::vector<std::uint64_t>& costs, const Task& task) {
  if (m_abandoned) return false;
  SendReport();
  m_nextChunk = 0;
  const int wanted = static_cast<int>(std::min<std::size_t>(m_threads, costs.size()));
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(m_mutex);
    m_running = wanted;
  }
  for (int i = 0; i < wanted; ++i) {
    try {
      threads.emplace_back(&WorkCrew::Work, this, std::cref(costs), std::cref(task), i, false);
    } catch (const std::system_error&) {
      std::lock_guard lock(m_mutex);
      m_running -= wanted - i;
      break;
    }
  }
  if (threads.empty() && wanted > 0) {
    // No thread to be had: work here, reporting between chunks.
    m_running = 1;
    Work(costs, task, 0, true);
  }
  std::unique_lock lock(m_mutex);
  while (m_running > 0) {
    if (m_phaseEnd.wait_for(lock, kReportEvery, [&] { return m_running == 0; })) break;
    lock.unlock();
    SendReport();
    lock.lock();
  }
  lock.unlock();
  for (std::thread& t : threads) t.join();
  if (m_failure) std::rethrow_exception(m_failure);
  SendReport();
  return !m_abandoned;
}

void WorkCrew::Finish() {
  if (m_enteredStage) SendReport();
}

void WorkCrew::Work(const std::vector<std::uint64_t>& costs, const Task& task, int worker,
                    bool reports) {
  const int count = static_cast<int>(costs.size());
  while (!m_abandoned) {
    if (!reports) WaitWhileReportHangs();
    const int index = m_nextChunk++;
    if (index >= count) break;
    try {
      task(index, worker);
    } catch (...) {
      std::lock_guard lock(m_mutex);
      if (!m_failure) m_failure = std::current_exception();
      m_abandoned = true;
      break;
    }
    m_doneCost += costs[index];
    if (reports && std::chrono::steady_clock::now() - m_lastReport >= kReportEvery) SendReport();
  }
  {
    std::lock_guard lock(m_mutex);
    --m_running;
  }
  m_phaseEnd.notify_all();
}

void WorkCrew::WaitWhileReportHangs() {
  const std::int64_t since = m_reportSince;
  if (since == 0 || Now() - since < kHeldAfterNs) return;
  std::unique_lock lock(m_mutex);
  m_reportEnd.wait(lock, [&] { return m_reportSince == 0 || m_abandoned; });
}

void WorkCrew::SendReport() {
  m_lastReport = std::chrono::steady_clock::now();
  if (m_abandoned || !m_report) return;
  const double done =
      m_totalCost ? std::min(1.0, static_cast<double>(m_doneCost) / m_totalCost) : 1.0;
  const int stage = std::min(kStages - 1, static_cast<int>(done * kStages));
  const int value = std::clamp(static_cast<int>((done * kStages - stage) * 255.0), 0, 255);
  m_enteredStage = kFirstStage + stage != m_lastStage;
  m_lastStage = kFirstStage + stage;
  m_reportSince = std::max<std::int64_t>(1, Now());
  const bool abandoned = m_report(kFirstStage + stage, value);
  {
    std::lock_guard lock(m_mutex);
    m_reportSince = 0;
    if (abandoned) m_abandoned = true;
  }
  m_reportEnd.notify_all();
}

}  // namespace ampliscale
