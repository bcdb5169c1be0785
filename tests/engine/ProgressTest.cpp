// Progress reports and the early stop, through the five calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "tests/engine/EngineHarness.h"

namespace {

using enginetest::Enlarge;
using enginetest::MakeSource;
using enginetest::RecordingWindow;

std::vector<std::uint8_t> Texture(int w, int h) {
  return MakeSource(w, h, [](int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.7) * std::cos(y * 0.3));
    p[1] = static_cast<std::uint8_t>((x * 7 + y * 13) & 255);
    p[2] = static_cast<std::uint8_t>(x * y & 255);
    p[3] = 0;
  });
}

// The progress bar's stage counting: a higher stage moves the bar to stage - 1,
// a fall of the value advances it by one.
struct StageCounter {
  int stage = 1;
  int lastValue = 0;
  int bar = 1;
  void Update(int reportedStage, int value) {
    if (reportedStage > stage) {
      bar = reportedStage - 1;
      stage = reportedStage;
      lastValue = 0;
      return;
    }
    if (value < lastValue) bar = stage++;
    lastValue = value;
  }
};

TEST(EngineProgress, ReportsRiseThroughTheStagesAndLeaveTheLastOne) {
  for (const double factor : {1.0, 1.2, 2.0, 3.0, 5.0}) {
    RecordingWindow window;
    const int w = 90, h = 70;
    const int W = static_cast<int>(w * factor), H = static_cast<int>(h * factor);
    const auto start = std::chrono::steady_clock::now();
    Enlarge(Texture(w, h), w, h, W, H, &window.window);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();

    ASSERT_FALSE(window.reports.empty()) << factor;
    StageCounter counter;
    int previousStage = 0, previousValue = 0;
    for (std::size_t i = 0; i < window.reports.size(); ++i) {
      const auto [stage, value] = window.reports[i];
      EXPECT_EQ(window.messages[i], 1135u);
      ASSERT_GE(stage, 2u) << factor;
      ASSERT_LE(stage, 14u) << factor;
      ASSERT_GE(value, 0) << factor;
      ASSERT_LE(value, 255) << factor;
      const int s = static_cast<int>(stage);
      const int v = static_cast<int>(value);
      ASSERT_TRUE(s > previousStage || (s == previousStage && v >= previousValue))
          << "progress went back at " << i;
      previousStage = s;
      previousValue = v;
      counter.Update(s, v);
    }
    EXPECT_EQ(window.reports.back().stage, 14u) << factor;
    EXPECT_EQ(window.reports.back().value, 255) << factor;
    // The caller's own work afterwards starts with a fall of the value and
    // must still find the last step of the bar free.
    counter.Update(0, 0);
    EXPECT_EQ(counter.bar, 14) << factor;
    // Never more than a thousand reports a second, plus those at phase boundaries.
    EXPECT_LE(static_cast<long long>(window.reports.size()), ms + 16) << factor;
  }
}

TEST(EngineProgress, AbandonedJobStopsAndLaterCallsReturnAtOnce) {
  const int w = 64, h = 48, W = 128, H = 96;
  const auto source = Texture(w, h);
  std::vector<std::uint8_t> dest(static_cast<std::size_t>(W) * H * 4, 0x5A);
  RecordingWindow window;
  window.abandonAfter = 1;
  DllInit(&window.window);
  DllSetSourceImage(w, h, const_cast<std::uint8_t*>(source.data()));
  DllSetDestImage(W, H, dest.data());
  DllFilter();
  DllNextStage();
  DllNextStage();
  // The first report comes before any work: abandoning there leaves the
  // destination as it was, and nothing is reported afterwards.
  EXPECT_EQ(window.reports.size(), 1u);
  std::size_t untouched = 0;
  for (std::uint8_t b : dest) untouched += b == 0x5A;
  EXPECT_EQ(untouched, dest.size());

  // The next job starts afresh and runs to its end.
  RecordingWindow second;
  Enlarge(source, w, h, W, H, &second.window);
  ASSERT_FALSE(second.reports.empty());
  EXPECT_EQ(second.reports.back().stage, 14u);
  EXPECT_EQ(second.reports.back().value, 255);
}

TEST(EngineProgress, AbandonedMidwayReportsNoMore) {
  const int w = 160, h = 120;
  for (const int after : {2, 3}) {
    RecordingWindow window;
    window.abandonAfter = after;
    Enlarge(Texture(w, h), w, h, 5 * w, 5 * h, &window.window);
    EXPECT_EQ(window.reports.size(), static_cast<std::size_t>(after));
  }
}

}  // namespace
