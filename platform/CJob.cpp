#include "platform/CJob.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "platform/FrameMessages.h"

namespace platform {

namespace {
std::atomic<uint64_t> g_nextJobId{1};
std::atomic<int> g_refusedStarts{0};
}  // namespace

CJob::CJob() : m_id(g_nextJobId++), m_abandonFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CJob::~CJob() {
  if (m_abandonFd >= 0) ::close(m_abandonFd);
}

void CJob::RefuseNextStarts(int count) { g_refusedStarts = count; }

std::shared_ptr<CJob> CJob::Prepare(std::function<void(CJob&)> work) {
  if (g_refusedStarts > 0) {
    --g_refusedStarts;
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  std::shared_ptr<CJob> job(new CJob());
  std::thread([job, work = std::move(work)] {
    bool going = false;
    {
      std::unique_lock lock(job->m_mutex);
      job->m_changed.wait(lock, [&] { return job->m_going || job->m_abandoned; });
      going = job->m_going;
    }
    if (going) work(*job);
    std::lock_guard lock(job->m_mutex);
    job->m_ended = true;
    job->m_changed.notify_all();
  }).detach();
  return job;
}

std::shared_ptr<CJob> CJob::Start(std::function<void(CJob&)> work) {
  std::shared_ptr<CJob> job = Prepare(std::move(work));
  job->Go();
  return job;
}

void CJob::Go() {
  std::lock_guard lock(m_mutex);
  m_going = true;
  m_changed.notify_all();
}

bool CJob::Abandon() {
  std::lock_guard lock(m_mutex);
  if (m_donePosted) return false;
  m_abandoned = true;
  m_changed.notify_all();
  if (m_abandonFd >= 0) (void)!::eventfd_write(m_abandonFd, 1);
  return true;
}

void CJob::Pause() {
  std::lock_guard lock(m_mutex);
  m_paused = true;
}

void CJob::Resume() {
  std::lock_guard lock(m_mutex);
  m_paused = false;
  m_changed.notify_all();
}

bool CJob::IsPaused() const {
  std::lock_guard lock(m_mutex);
  return m_paused;
}

bool CJob::WaitForEnd(std::chrono::milliseconds bound) {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, bound, [this] { return m_ended; });
}

bool CJob::HasEnded() const {
  std::lock_guard lock(m_mutex);
  return m_ended;
}

bool CJob::IsAbandoned() const {
  std::lock_guard lock(m_mutex);
  return m_abandoned;
}

bool CJob::Checkpoint() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_paused || m_abandoned; });
  return m_abandoned;
}

bool CJob::AbandonedAfterSend(QObject* frame, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (Checkpoint()) return true;
  auto slot = std::make_shared<SendSlot>(shared_from_this());
  QCoreApplication::postEvent(
      frame, new FrameMessageEvent(message, wParam, lParam, shared_from_this(), slot));
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [&] { return slot->complete || m_abandoned; });
  return m_abandoned;
}

bool CJob::RunOnUiThread(QObject* context, std::function<void()> fn) {
  if (Checkpoint()) return false;
  auto slot = std::make_shared<SendSlot>(shared_from_this());
  auto ran = std::make_shared<std::atomic<bool>>(false);
  // Run or discarded, the functor's destruction completes the slot.
  struct Completer {
    std::shared_ptr<SendSlot> slot;
    ~Completer() { slot->Complete(); }
  };
  std::shared_ptr<Completer> completer(new Completer{slot});
  QMetaObject::invokeMethod(
      context,
      [completer, ran, fn = std::move(fn)] {
        fn();
        *ran = true;
      },
      Qt::QueuedConnection);
  completer.reset();
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [&] { return slot->complete || m_abandoned; });
  return *ran;
}

bool CJob::Commit(const std::function<void()>& write) {
  std::lock_guard lock(m_mutex);
  if (m_abandoned) return false;
  write();
  return true;
}

void CJob::PostDone(QObject* frame, unsigned message, intptr_t lParam) {
  {
    std::lock_guard lock(m_mutex);
    if (m_abandoned) return;
    m_donePosted = true;
  }
  PostFrameMessage(frame, message, 0, lParam, shared_from_this());
}

void SendSlot::Complete() {
  std::lock_guard lock(job->m_mutex);
  complete = true;
  job->m_changed.notify_all();
}

}  // namespace platform
