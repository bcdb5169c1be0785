#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <cstring>
#include <random>

#include "WorkerHarness.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"

namespace {

class AppScope : public testing::Environment {
 public:
  void SetUp() override {
    FreeImage_Initialise(FALSE);
    static int argc = 1;
    static char name[] = "resize_worker_tests";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override {
    app.reset();
    FreeImage_DeInitialise();
  }
  std::unique_ptr<QCoreApplication> app;
};
const auto* const kApp = testing::AddGlobalTestEnvironment(new AppScope);

// Records every message box the worker shows and answers OK.
struct BoxRecorder {
  std::vector<platform::PromptRecord> boxes;
  platform::ScopedPromptResponder responder{[this](const platform::PromptRecord& record) {
    boxes.push_back(record);
    return platform::PromptAnswer{ids::IdOk, std::nullopt};
  }};
};

std::vector<std::pair<int, int>> ReportsWithStage(const FakeFrame& frame, bool stageZero) {
  std::vector<std::pair<int, int>> out;
  for (const auto& report : frame.reports)
    if ((report.first == 0) == stageZero) out.push_back(report);
  return out;
}

TEST(ResizeWorker, EnlargementDrivesTheEngineAndCompactsRowByRow) {
  FIBITMAP* source = MakePicture(40, 30);
  WorkerRig rig;
  BoxRecorder boxes;
  auto job = rig.Start(RequestFor(source, 200));
  ASSERT_TRUE(rig.WaitForEnd(job));
  EXPECT_EQ(rig.frame.done, std::vector<int>{1});
  ASSERT_NE(rig.result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(rig.result), 80u);
  EXPECT_EQ(FreeImage_GetHeight(rig.result), 60u);
  EXPECT_EQ(FreeImage_GetBPP(rig.result), 24u);
  EXPECT_TRUE(rig.LockIsFree());
  EXPECT_TRUE(boxes.boxes.empty());
  // The engine reports stages; the compaction one report per row, after them.
  const auto engine = ReportsWithStage(rig.frame, false);
  ASSERT_FALSE(engine.empty());
  for (const auto& report : engine) {
    EXPECT_GE(report.first, 1);
    EXPECT_LE(report.first, 15);
  }
  std::vector<std::pair<int, int>> compaction(rig.frame.reports.end() - 60,
                                              rig.frame.reports.end());
  for (int row = 0; row < 60; ++row) EXPECT_EQ(compaction[row], std::make_pair(0, 255 * row / 60));
  FreeImage_Unload(source);
}

TEST(ResizeWorker, HundredPercentKeepsEveryPixelAndItsRowOrder) {
  // Rows differ from top to bottom, so a flipped result would show.
  FIBITMAP* source = MakePicture(17, 11);
  WorkerRig rig;
  auto job = rig.Start(RequestFor(source, 100));
  ASSERT_TRUE(rig.WaitForEnd(job));
  ASSERT_NE(rig.result, nullptr);
  ASSERT_EQ(FreeImage_GetWidth(rig.result), 17u);
  ASSERT_EQ(FreeImage_GetHeight(rig.result), 11u);
  for (int y = 0; y < 11; ++y)
    EXPECT_EQ(
        std::memcmp(FreeImage_GetScanLine(rig.result, y), FreeImage_GetScanLine(source, y), 17 * 3),
        0)
        << "scan line " << y;
  FreeImage_Unload(source);
}

TEST(ResizeWorker, ReductionReportsHalfAndFullWithoutTheEngine) {
  FIBITMAP* source = MakePicture(64, 48);
  WorkerRig rig;
  auto job = rig.Start(RequestFor(source, 50));
  ASSERT_TRUE(rig.WaitForEnd(job));
  EXPECT_EQ(rig.frame.reports, (std::vector<std::pair<int, int>>{{0, 128}, {0, 255}}));
  EXPECT_EQ(rig.frame.done, std::vector<int>{1});
  ASSERT_NE(rig.result, nullptr);
  FIBITMAP* expected = FreeImage_Rescale(source, 32, 24, FILTER_LANCZOS3);
  for (int y = 0; y < 24; ++y)
    EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(rig.result, y), FreeImage_GetScanLine(expected, y),
                          32 * 3),
              0);
  FreeImage_Unload(expected);
  FreeImage_Unload(source);
}

TEST(ResizeWorker, ResultOfOneRowGivesOneCompactionReportOfZero) {
  FIBITMAP* source = MakePicture(9, 1);
  WorkerRig rig;
  auto job = rig.Start(RequestFor(source, 100));
  ASSERT_TRUE(rig.WaitForEnd(job));
  ASSERT_FALSE(rig.frame.reports.empty());
  EXPECT_EQ(rig.frame.reports.back(), std::make_pair(0, 0));
  EXPECT_EQ(rig.frame.done, std::vector<int>{1});
  FreeImage_Unload(source);
}

TEST(ResizeWorker, CropEnlargesTheCentredPartToTheWholeTarget) {
  FIBITMAP* source = MakePicture(100, 80);
  ResizeRequest cropped = RequestFor(source, 200);
  cropped.cropToBudget = true;
  cropped.pixelBudget = 200 * 160 / 4;  // ratio 0.5: the 50 x 40 part at 25, 20
  WorkerRig rig;
  ASSERT_TRUE(rig.WaitForEnd(rig.Start(cropped)));
  ASSERT_NE(rig.result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(rig.result), 200u);
  EXPECT_EQ(FreeImage_GetHeight(rig.result), 160u);

  // The same part cut out beforehand and enlarged 4 times over.
  FIBITMAP* part = FreeImage_Copy(source, 25, 20, 75, 60);
  ResizeRequest whole = RequestFor(part, 400);
  WorkerRig reference;
  ASSERT_TRUE(reference.WaitForEnd(reference.Start(whole)));
  ASSERT_NE(reference.result, nullptr);
  for (int y = 0; y < 160; ++y)
    ASSERT_EQ(std::memcmp(FreeImage_GetScanLine(rig.result, y),
                          FreeImage_GetScanLine(reference.result, y), 600),
              0)
        << "scan line " << y;
  FreeImage_Unload(part);
  FreeImage_Unload(source);
}

TEST(ResizeWorker, DestinationBeyondMemoryFailsCleanlyWithOneBox) {
  FIBITMAP* source = MakePicture(8, 8);
  ResizeRequest request = RequestFor(source, 200);
  request.width = 500'000'000;  // 10^18 bytes: no mapping that large
  request.height = 500'000'000;
  WorkerRig rig;
  BoxRecorder boxes;
  ASSERT_TRUE(rig.WaitForEnd(rig.Start(request)));
  EXPECT_EQ(rig.frame.done, std::vector<int>{0});
  EXPECT_EQ(rig.result, nullptr);
  EXPECT_TRUE(rig.LockIsFree());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].caption, "Memory allocation error");
  EXPECT_EQ(boxes.boxes[0].owner, nullptr);
  EXPECT_EQ(boxes.boxes[0].icon, platform::MbIcon::Error);
  // The program goes on: the next job succeeds.
  auto job = rig.Start(RequestFor(source, 150));
  ASSERT_TRUE(rig.WaitForEnd(job));
  EXPECT_EQ(rig.frame.done, (std::vector<int>{0, 1}));
  FreeImage_Unload(source);
}

TEST(ResizeWorker, ResultFreeImageCannotHoldEndsWithTheCreateError) {
  FIBITMAP* source = MakePicture(8, 8);
  ResizeRequest request = RequestFor(source, 200);
  request.width = 1'000'000'000;  // a 24-bit row beyond 2^31 bytes
  WorkerRig rig;
  BoxRecorder boxes;
  ASSERT_TRUE(rig.WaitForEnd(rig.Start(request)));
  EXPECT_EQ(rig.frame.done, std::vector<int>{0});
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Error. Can't create FIBITMAP.");
  EXPECT_EQ(boxes.boxes[0].caption, "Error");
  EXPECT_EQ(boxes.boxes[0].icon, platform::MbIcon::None);
  EXPECT_TRUE(rig.frame.reports.empty()) << "the engine never ran";
  FreeImage_Unload(source);
}

TEST(ResizeWorker, SourceThatCannotBeCopiedShowsTheSourceBoxOnly) {
  // A bitmap read without its pixels: there is nothing to copy.
  const std::string path = testing::TempDir() + "resize_worker_header_only.png";
  FIBITMAP* written = MakePicture(6, 4);
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, written, path.c_str(), 0));
  FreeImage_Unload(written);
  FIBITMAP* source = FreeImage_Load(FIF_PNG, path.c_str(), FIF_LOAD_NOPIXELS);
  ASSERT_NE(source, nullptr);
  ASSERT_FALSE(FreeImage_HasPixels(source));
  WorkerRig rig;
  BoxRecorder boxes;
  ASSERT_TRUE(rig.WaitForEnd(rig.Start(RequestFor(source, 200))));
  EXPECT_EQ(rig.frame.done, std::vector<int>{0});
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Source bitmap hasn't been created");
  EXPECT_EQ(boxes.boxes[0].caption, "Memory allocation error");
  FreeImage_Unload(source);
}

TEST(ResizeWorker, PauseHoldsTheNextReportUntilResume) {
  FIBITMAP* source = MakePicture(120, 90);
  WorkerRig rig;
  size_t pausedAt = 0;
  rig.frame.onReport = [&](const std::shared_ptr<platform::CJob>& job) {
    // Paused while the third report is being handled: the worker is still waiting for it.
    if (rig.frame.reports.size() == 3) {
      job->Pause();
      pausedAt = rig.frame.reports.size();
    }
  };
  auto job = rig.Start(RequestFor(source, 300));
  QElapsedTimer timer;
  timer.start();
  while (pausedAt == 0 && timer.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  ASSERT_EQ(pausedAt, 3u);
  timer.restart();
  while (timer.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(rig.frame.reports.size(), 3u) << "no report passes the pause";
  EXPECT_FALSE(job->HasEnded());
  job->Resume();
  ASSERT_TRUE(rig.WaitForEnd(job));
  EXPECT_EQ(rig.frame.done, std::vector<int>{1});
  FreeImage_Unload(source);
}

// Abandons jobs at random reports, also while paused: each stops early, frees
// what it made, posts nothing and leaves the lock; the next job succeeds.
TEST(ResizeWorker, AbandonAtRandomMomentsLeavesNothingBehind) {
  FIBITMAP* source = MakePicture(160, 120);
  std::mt19937 random(20261207);
  for (int round = 0; round < 50; ++round) {
    WorkerRig rig;
    const size_t abandonAt = 1 + random() % 40;
    const bool pauseFirst = round % 3 == 0;
    rig.frame.onReport = [&](const std::shared_ptr<platform::CJob>& job) {
      if (rig.frame.reports.size() != abandonAt) return;
      if (pauseFirst) job->Pause();
      job->Abandon();
    };
    auto job = rig.Start(RequestFor(source, 250));
    ASSERT_TRUE(rig.WaitForEnd(job)) << "round " << round;
    EXPECT_TRUE(rig.frame.done.empty()) << "round " << round;
    EXPECT_EQ(rig.result, nullptr) << "round " << round;
    EXPECT_TRUE(rig.LockIsFree()) << "round " << round;
    EXPECT_EQ(rig.frame.reports.size(), abandonAt)
        << "no report after abandonment, round " << round;
  }
  WorkerRig rig;
  ASSERT_TRUE(rig.WaitForEnd(rig.Start(RequestFor(source, 250))));
  EXPECT_EQ(rig.frame.done, std::vector<int>{1});
  FreeImage_Unload(source);
}

TEST(ResizeWorker, StaleJobWaitingForTheLockDoesNothing) {
  FIBITMAP* source = MakePicture(10, 10);
  WorkerRig rig;
  std::unique_lock held(rig.imageLock);
  auto job = rig.Start(RequestFor(source, 200));
  job->Abandon();
  held.unlock();
  ASSERT_TRUE(rig.WaitForEnd(job));
  EXPECT_TRUE(rig.frame.reports.empty());
  EXPECT_TRUE(rig.frame.done.empty());
  EXPECT_EQ(rig.result, nullptr);
  FreeImage_Unload(source);
}

}  // namespace
