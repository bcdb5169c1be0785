#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/CJob.h"
#include "platform/FrameMessages.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Stands in for the frame: records the messages it handles.
class Receiver : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != FrameMessageEvent::kType) return QObject::event(e);
    auto* m = static_cast<FrameMessageEvent*>(e);
    messages.push_back({m->message, m->wParam, m->lParam});
    uiThreadHandled = QThread::currentThread() == thread();
    return true;
  }
  struct Message {
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::vector<Message> messages;
  bool uiThreadHandled = false;
};

// Handles the UI thread's events until done() holds, for at most five seconds.
template <typename Done>
bool PumpUntil(Done done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 5000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

}  // namespace

TEST(CJobTest, SendWaitsUntilTheUiThreadHasHandledTheMessage) {
  Receiver frame;
  std::atomic<int> sendResult{-1};
  auto job = CJob::Start([&](CJob& self) {
    sendResult = self.AbandonedAfterSend(&frame, WM_RESIZE_PROGRESS, 3, 128) ? 1 : 0;
  });
  // The worker is blocked in its send until the UI thread handles it.
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(job->HasEnded());
  ASSERT_TRUE(PumpUntil([&] { return job->HasEnded(); }));
  EXPECT_EQ(sendResult, 0);
  ASSERT_EQ(frame.messages.size(), 1u);
  EXPECT_EQ(frame.messages[0].message, WM_RESIZE_PROGRESS);
  EXPECT_EQ(frame.messages[0].wParam, 3u);
  EXPECT_EQ(frame.messages[0].lParam, 128);
  EXPECT_TRUE(frame.uiThreadHandled);
}

TEST(CJobTest, ASendWakesWhenTheJobIsAbandonedOrItsReceiverGoes) {
  Receiver frame;
  std::atomic<int> sendResult{-1};
  auto job = CJob::Start([&](CJob& self) {
    sendResult = self.AbandonedAfterSend(&frame, WM_RESIZE_PROGRESS, 0, 1) ? 1 : 0;
  });
  // The UI thread never handles the message, as when it waits for the worker.
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(job->Abandon());
  EXPECT_TRUE(job->WaitForEnd(5s));
  EXPECT_EQ(sendResult, 1);
  // A message dropped unhandled, as when its receiver goes, also releases its sender.
  Receiver receiver;
  auto second = CJob::Start(
      [&](CJob& self) { self.AbandonedAfterSend(&receiver, WM_RESIZE_PROGRESS, 0, 2); });
  QElapsedTimer timer;
  timer.start();
  while (!second->HasEnded() && timer.elapsed() < 5000) {
    QCoreApplication::removePostedEvents(&receiver, FrameMessageEvent::kType);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_TRUE(second->HasEnded());
  EXPECT_FALSE(second->IsAbandoned());
  EXPECT_TRUE(receiver.messages.empty());
}

TEST(CJobTest, APausedWorkerWaitsAtItsNextCheckpoint) {
  std::promise<void> go;
  std::shared_future<void> started = go.get_future().share();
  std::atomic<bool> passed{false};
  std::atomic<bool> abandonedSeen{false};
  auto job = CJob::Start([&](CJob& self) {
    started.wait();
    abandonedSeen = self.Checkpoint();
    passed = true;
  });
  job->Pause();
  EXPECT_TRUE(job->IsPaused());
  go.set_value();
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(passed) << "the pause gate let the worker through";
  job->Resume();
  EXPECT_TRUE(job->WaitForEnd(5s));
  EXPECT_TRUE(passed);
  EXPECT_FALSE(abandonedSeen);

  // Abandoning a paused job releases it, and the checkpoint says so. The
  // worker reaches its checkpoint only once the job is paused: started at
  // once, it could pass it before the pause and see nothing to report.
  std::promise<void> pausedFirst;
  std::shared_future<void> gate = pausedFirst.get_future().share();
  auto paused = CJob::Start([&](CJob& self) {
    gate.wait();
    abandonedSeen = self.Checkpoint();
  });
  paused->Pause();
  pausedFirst.set_value();
  std::this_thread::sleep_for(20ms);  // most often it now waits at the gate
  paused->Abandon();
  EXPECT_TRUE(paused->WaitForEnd(5s));
  EXPECT_TRUE(abandonedSeen);
}

TEST(CJobTest, AStaleJobWritesNothing) {
  std::promise<void> abandoned;
  std::shared_future<void> gate = abandoned.get_future().share();
  int written = 0;
  std::atomic<bool> firstCommit{false}, secondCommit{true};
  auto job = CJob::Start([&](CJob& self) {
    firstCommit = self.Commit([&] { written = 1; });
    gate.wait();
    secondCommit = self.Commit([&] { written = 2; });
  });
  std::this_thread::sleep_for(20ms);
  job->Abandon();
  abandoned.set_value();
  ASSERT_TRUE(job->WaitForEnd(5s));
  EXPECT_TRUE(firstCommit);
  EXPECT_FALSE(secondCommit);
  EXPECT_EQ(written, 1);
}

TEST(CJobTest, APostedDoneMessageMakesTheJobCountAsCompleted) {
  Receiver frame;
  auto job = CJob::Start([&](CJob& self) { self.PostDone(&frame, WM_LOAD_DONE, 1); });
  ASSERT_TRUE(job->WaitForEnd(5s));
  EXPECT_FALSE(job->Abandon()) << "a job whose done message is on its way was abandoned";
  ASSERT_TRUE(PumpUntil([&] { return !frame.messages.empty(); }));
  EXPECT_EQ(frame.messages[0].message, WM_LOAD_DONE);
  EXPECT_EQ(frame.messages[0].lParam, 1);

  // Once abandoned, a job posts no done message at all.
  Receiver other;
  std::promise<void> abandoned;
  std::shared_future<void> gate = abandoned.get_future().share();
  auto stale = CJob::Start([&](CJob& self) {
    gate.wait();
    self.PostDone(&other, WM_LOAD_DONE, 1);
  });
  EXPECT_TRUE(stale->Abandon());
  abandoned.set_value();
  ASSERT_TRUE(stale->WaitForEnd(5s));
  QCoreApplication::processEvents();
  EXPECT_TRUE(other.messages.empty());
}

TEST(CJobTest, RunOnUiThreadRunsOnTheUiThreadUnlessAbandoned) {
  QObject context;
  std::atomic<int> ran{-1};
  bool onUiThread = false;
  auto job = CJob::Start([&](CJob& self) {
    ran = self.RunOnUiThread(&context,
                             [&] { onUiThread = QThread::currentThread() == context.thread(); })
              ? 1
              : 0;
  });
  ASSERT_TRUE(PumpUntil([&] { return job->HasEnded(); }));
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(onUiThread);

  bool called = false;
  auto abandoned = CJob::Start(
      [&](CJob& self) { ran = self.RunOnUiThread(&context, [&] { called = true; }) ? 1 : 0; });
  std::this_thread::sleep_for(20ms);
  abandoned->Abandon();
  ASSERT_TRUE(abandoned->WaitForEnd(5s));
  EXPECT_EQ(ran, 0);
  // The queued call may still run later; it is harmless because its worker gave up on it.
  QCoreApplication::processEvents();
}

TEST(CJobTest, EveryJobHasItsOwnIdentity) {
  auto a = CJob::Start([](CJob&) {});
  auto b = CJob::Start([](CJob&) {});
  EXPECT_NE(a->Id(), b->Id());
  EXPECT_TRUE(a->WaitForEnd(5s));
  EXPECT_TRUE(b->WaitForEnd(5s));
}
