#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/CMainFrame.h"
#include "files/CWaitDlg.h"
#include "platform/CJob.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"

// What the file tests need around a running frame: answers for its
// prompts, bounded waits, and a way to hold a worker up.
namespace harness {

// Answers prompts from a queue and keeps every prompt shown. A prompt with
// no answer left is cancelled.
class Prompts {
 public:
  Prompts()
      : m_scope([this](const platform::PromptRecord& record) {
          shown.push_back(record);
          // The program's own options dialogs are accepted as they stand
          // unless the test answers them.
          if (record.kind == platform::PromptRecord::Dialog) {
            if (dialogAnswer) return dialogAnswer(record);
            return platform::PromptAnswer{ids::IdOk, std::nullopt};
          }
          platform::PromptAnswer answer{ids::IdCancel, std::nullopt};
          if (!m_answers.empty()) {
            answer = std::move(m_answers.front());
            m_answers.pop_front();
          }
          return answer;
        }) {}

  void Button(int id) { m_answers.push_back({id, std::nullopt}); }
  void File(const std::string& path, int filterIndex = 1) {
    m_answers.push_back({0, platform::FileChoice{QString::fromStdString(path), filterIndex}});
  }
  void CancelDialog() { m_answers.push_back({0, std::nullopt}); }
  size_t Pending() const { return m_answers.size(); }
  int Count(platform::PromptRecord::Kind kind) const {
    int n = 0;
    for (const auto& r : shown) n += r.kind == kind ? 1 : 0;
    return n;
  }

  std::vector<platform::PromptRecord> shown;
  std::function<platform::PromptAnswer(const platform::PromptRecord&)> dialogAnswer;

 private:
  std::deque<platform::PromptAnswer> m_answers;
  platform::ScopedPromptResponder m_scope;
};

// Handles events until done() holds or the bound passes; returns done().
inline bool PumpUntil(const std::function<bool()>& done, int boundMs = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < boundMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Runs a command that shows the wait dialog; a dialog still up after the
// bound is aborted so that a fault cannot hang the test. False on timeout.
inline bool RunBounded(CMainFrame& frame, const std::function<void()>& command,
                       int boundMs = 20000) {
  bool timedOut = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (frame.m_waitDlg && frame.m_waitDlg->isVisible()) {
      timedOut = true;
      frame.m_waitDlg->AbortButton()->click();
    }
  });
  watchdog.start(boundMs);
  command();
  return !timedOut;
}

// Holds the frame's image lock on a thread of its own, so that the next
// worker waits at its start, and lets go once that worker is abandoned.
class LockHolder {
 public:
  explicit LockHolder(std::mutex& lock) : m_lock(lock) {
    m_thread = std::thread([this] {
      std::lock_guard hold(m_lock);
      m_held = true;
      for (int i = 0; i < 20000 && !Abandoned(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    while (!m_held) std::this_thread::yield();
  }
  ~LockHolder() { m_thread.join(); }

  // The job to watch; the lock is let go when it is abandoned.
  void Watch(std::shared_ptr<platform::CJob> job) {
    std::lock_guard guard(m_jobMutex);
    m_job = std::move(job);
  }

 private:
  bool Abandoned() {
    std::lock_guard guard(m_jobMutex);
    return m_job && m_job->IsAbandoned();
  }

  std::mutex& m_lock;
  std::atomic<bool> m_held{false};
  std::mutex m_jobMutex;
  std::shared_ptr<platform::CJob> m_job;
  std::thread m_thread;
};

}  // namespace harness
