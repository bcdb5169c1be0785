#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resize/ProgressStages.h"
#include "resize/ResizeParams.h"

namespace resize {
namespace {

struct BoxCase {
  const char* name;
  const char* text;
  int maximum;
  BoxReading expected;
};

class ReadBoxTest : public testing::TestWithParam<BoxCase> {};

TEST_P(ReadBoxTest, ZeroesOrClampsAtOnce) {
  EXPECT_EQ(ReadBox(GetParam().text, GetParam().maximum), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ReadBoxTest,
                         testing::Values(BoxCase{"InRange", "150", 2000, {150, false}},
                                         BoxCase{"Empty", "", 2000, {0, true}},
                                         BoxCase{"Letters", "abc", 2000, {0, true}},
                                         BoxCase{"PercentSign", "150%", 2000, {0, true}},
                                         BoxCase{"Above", "2500", 2000, {2000, true}},
                                         BoxCase{"Negative", "-5", 2000, {0, true}},
                                         BoxCase{"Beyond32Bits", "99999999999", 2000, {0, true}},
                                         BoxCase{"WidthMaximum", "12801", 12800, {12800, true}},
                                         BoxCase{"Zero", "0", 2000, {0, false}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ResizeArithmetic, BoxesFollowEachOther) {
  // 640 x 480 at 200 %.
  EXPECT_EQ(SideForPercent(200, 640), 1280);
  EXPECT_EQ(SideForPercent(200, 480), 960);
  // A width of 1000: 156 %, height 748 from the whole percent.
  EXPECT_EQ(PercentForSide(1000, 640), 156);
  EXPECT_EQ(SideForPercent(156, 480), 748);
  // The quotient comes first: 23 / 20 x 100 is just below 115.
  EXPECT_EQ(PercentForSide(23, 20), 114);
  // 333 at 150 % gives 499; 499 back gives 149.
  EXPECT_EQ(SideForPercent(150, 333), 499);
  EXPECT_EQ(PercentForSide(499, 333), 149);
  EXPECT_EQ(MaxSide(640), 12800);
  EXPECT_EQ(MaxSide(200'000'000), INT32_MAX);
  EXPECT_EQ(SideForPercent(2000, 200'000'000), INT32_MAX);
}

TEST(ResizeArithmetic, SourceSideOfZeroGivesZeroPercent) {
  EXPECT_EQ(PercentForSide(500, 0), 0);
  EXPECT_EQ(SideForPercent(150, 0), 0);
}

TEST(ResizeArithmetic, OkRuleAndUpDown) {
  for (int p : {100, 1, 0, 2001}) EXPECT_FALSE(AcceptsPercent(p)) << p;
  for (int p : {2, 99, 101, 2000}) EXPECT_TRUE(AcceptsPercent(p)) << p;
  // The inverted range: up proposes -1 and raises the percent.
  EXPECT_EQ(PercentAfterUpDown(200, -1), 201);
  EXPECT_EQ(PercentAfterUpDown(200, 1), 199);
  EXPECT_EQ(PercentAfterUpDown(2000, -1), 2000);
  EXPECT_EQ(PercentAfterUpDown(0, 1), 0);
}

// Records what the stage counter does to the bars, in order.
class RecordingBars : public ProgressBars {
 public:
  bool HasBars() const override { return alive; }
  void SetOverall(int position) override {
    calls.push_back("overall " + std::to_string(position));
    overall = position;
  }
  void SetStep(int position) override {
    calls.push_back("step " + std::to_string(position));
    step = position;
  }
  void Pump() override {
    calls.push_back("pump");
    if (closeOnPump && --closeOnPump == 0) alive = false;
  }

  bool alive = true;
  int closeOnPump = 0;  // closes the bars at that pump
  int overall = 1;
  int step = 0;
  std::vector<std::string> calls;
};

TEST(ProgressStages, ReductionReportsMoveOnlyTheStepBar) {
  ProgressStages stages;
  RecordingBars bars;
  stages.Open();
  stages.Update(0, 128, bars);
  EXPECT_EQ(bars.step, 128);
  stages.Update(0, 255, bars);
  EXPECT_EQ(bars.step, 255);
  EXPECT_EQ(bars.overall, 1);
  EXPECT_EQ(stages.Stage(), 1);
  EXPECT_EQ(bars.calls, (std::vector<std::string>{"step 128", "pump", "pump", "pump", "step 255",
                                                  "pump", "pump", "pump"}));
}

TEST(ProgressStages, StageReportPassesEachEarlierStage) {
  ProgressStages stages;
  RecordingBars bars;
  stages.Open();
  stages.Update(3, 40, bars);
  EXPECT_EQ(bars.calls, (std::vector<std::string>{"overall 1", "pump", "overall 2", "pump",
                                                  "step 0", "pump", "pump"}));
  EXPECT_EQ(stages.Stage(), 3);
  EXPECT_EQ(stages.LastValue(), 0);
}

TEST(ProgressStages, FallOfTheStepValueCompletesAStep) {
  ProgressStages stages;
  RecordingBars bars;
  stages.Open();
  stages.Update(0, 200, bars);
  stages.Update(0, 10, bars);
  EXPECT_EQ(bars.step, 0);
  EXPECT_EQ(bars.overall, 1);
  EXPECT_EQ(stages.Stage(), 2);
  EXPECT_EQ(stages.LastValue(), 10);
  stages.Update(0, 5, bars);
  EXPECT_EQ(bars.overall, 2);
  EXPECT_EQ(stages.Stage(), 3);
}

TEST(ProgressStages, StopsWhenTheBarsGoAway) {
  ProgressStages stages;
  RecordingBars bars;
  stages.Open();
  bars.closeOnPump = 1;  // the dialog closes during the first pump
  stages.Update(5, 0, bars);
  EXPECT_EQ(bars.calls, (std::vector<std::string>{"overall 1", "pump"}));
  const size_t before = bars.calls.size();
  stages.Update(0, 100, bars);
  EXPECT_EQ(bars.calls.size(), before);
}

}  // namespace
}  // namespace resize
