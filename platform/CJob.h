#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace platform {

// One worker thread and its control. Created and steered by the UI thread
// (go, pause, resume, abandon); the worker checks in at every progress report.
// No thread is ever suspended or killed from outside: pausing and abandoning
// act only where the worker calls Checkpoint, AbandonedAfterSend or Commit.
class CJob : public std::enable_shared_from_this<CJob> {
 public:
  // Creates the worker thread, held before work until Go (or Abandon, which
  // ends it without running work); the thread keeps the job alive. Throws
  // std::system_error when no thread can be had, having started nothing.
  static std::shared_ptr<CJob> Prepare(std::function<void(CJob&)> work);
  // Makes the next count Prepare calls fail as when the system has no thread
  // to give, so that tests can see what the frame does then.
  static void RefuseNextStarts(int count);
  // Prepare, then Go.
  static std::shared_ptr<CJob> Start(std::function<void(CJob&)> work);
  ~CJob();

  uint64_t Id() const { return m_id; }

  // --- UI thread ---
  // Lets a prepared worker run its work.
  void Go();
  // Abandons the job unless its worker has already posted its done message,
  // in which case the job counts as completed and false is returned.
  bool Abandon();
  void Pause();
  void Resume();
  bool IsPaused() const;
  // Waits at most bound for the worker to return; true when it has.
  bool WaitForEnd(std::chrono::milliseconds bound);
  bool HasEnded() const;

  // --- worker thread ---
  bool IsAbandoned() const;
  // A descriptor that becomes readable once the job is abandoned, for a
  // worker that waits in poll() rather than at a checkpoint.
  int AbandonFd() const { return m_abandonFd; }
  // Waits while paused; true once the job is abandoned.
  bool Checkpoint();
  // Sends a message to the frame and waits until the UI thread has handled
  // it or the job is abandoned; true once abandoned.
  bool AbandonedAfterSend(QObject* frame, unsigned message, uintptr_t wParam, intptr_t lParam);
  // Runs fn on the UI thread (context's thread) and waits for it; returns
  // false without running it when the job is abandoned first.
  bool RunOnUiThread(QObject* context, std::function<void()> fn);
  // Runs write atomically with respect to Abandon: a stale job writes nothing.
  bool Commit(const std::function<void()>& write);
  // Posts the done message unless the job was abandoned; a posted done
  // message makes a later Abandon return false.
  void PostDone(QObject* frame, unsigned message, intptr_t lParam);

 private:
  friend struct SendSlot;
  CJob();

  const uint64_t m_id;
  const int m_abandonFd;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_going = false;
  bool m_abandoned = false;
  bool m_paused = false;
  bool m_donePosted = false;
  bool m_ended = false;
};

// Completion of one synchronous send. The event carrying it completes it when
// destroyed, so a send never waits for an event that will not be handled.
struct SendSlot {
  explicit SendSlot(std::shared_ptr<CJob> owner) : job(std::move(owner)) {}
  void Complete();

  std::shared_ptr<CJob> job;
  bool complete = false;  // guarded by job->m_mutex
};

}  // namespace platform
