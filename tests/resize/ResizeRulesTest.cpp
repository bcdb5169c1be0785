#include <gtest/gtest.h>

#include <vector>

#include "resize/ResizeRules.h"

namespace resize {
namespace {

struct PercentCase {
  const char* name;
  const char* text;
  std::optional<int> expected;
};

class PercentTextTest : public testing::TestWithParam<PercentCase> {};

TEST_P(PercentTextTest, ReadsLikeAtoiWithinRange) {
  EXPECT_EQ(ReadPercentText(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PercentTextTest,
    testing::Values(
        PercentCase{"WithSign", "150%", 150}, PercentCase{"Plain", "150", 150},
        PercentCase{"TwoSigns", "150%%", 150}, PercentCase{"Letters", "abc", std::nullopt},
        PercentCase{"Empty", "", std::nullopt}, PercentCase{"LoneSign", "%", std::nullopt},
        PercentCase{"Zero", "0", std::nullopt}, PercentCase{"Above", "2001", std::nullopt},
        PercentCase{"Lowest", "1", 1}, PercentCase{"Highest", "2000%", 2000},
        PercentCase{"LeadingBlanks", "  75%", 75}, PercentCase{"TrailingText", "120abc", 120},
        PercentCase{"Negative", "-150", std::nullopt}, PercentCase{"PlusSign", "+300", 300},
        PercentCase{"WrapsTo150In32Bits", "4294967446", std::nullopt},
        PercentCase{"VeryLong", "99999999999999999999999999150", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct TargetCase {
  const char* name;
  uint64_t w, h;
  int percent;
  int64_t tw, th;
};

class TargetSizeTest : public testing::TestWithParam<TargetCase> {};

TEST_P(TargetSizeTest, TruncatesEachSide) {
  const TargetCase& c = GetParam();
  const Size64 size = TargetSize(c.w, c.h, c.percent / 100.0);
  EXPECT_EQ(size.width, c.tw);
  EXPECT_EQ(size.height, c.th);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TargetSizeTest,
    testing::Values(TargetCase{"OddAt150", 333, 333, 150, 499, 499},
                    TargetCase{"Same", 640, 480, 100, 640, 480},
                    TargetCase{"Half", 641, 481, 50, 320, 240},
                    TargetCase{"OnePercentOfTiny", 50, 3, 1, 0, 0},
                    // 100000 x 60000 at 2000 %: 2.4e12 pixels, far beyond 32 bits.
                    TargetCase{"Huge", 100000, 60000, 2000, 2000000, 1200000}),
    [](const auto& info) { return std::string(info.param.name); });

struct RequestCase {
  const char* name;
  uint64_t w, h;
  TargetRequest request;
  int64_t tw, th;
};

class TargetForTest : public testing::TestWithParam<RequestCase> {};

TEST_P(TargetForTest, MakesTheAskedSidesExactly) {
  const RequestCase& c = GetParam();
  const Size64 size = TargetFor(c.w, c.h, c.request);
  EXPECT_EQ(size.width, c.tw);
  EXPECT_EQ(size.height, c.th);
}

// Sides worked out by hand: the other side is asked x other / asked's source
// side, rounded, halves up.
INSTANTIATE_TEST_SUITE_P(
    Requests, TargetForTest,
    testing::Values(RequestCase{"PercentTruncates", 640, 480, {156, 0, 0}, 998, 748},
                    RequestCase{"Width1000", 640, 480, {156, 1000, 0}, 1000, 750},
                    RequestCase{"Height1000", 640, 480, {208, 0, 1000}, 1333, 1000},
                    RequestCase{"HeightRoundsUp", 640, 480, {156, 0, 749}, 999, 749},
                    RequestCase{"HalfRoundsUp", 4, 3, {50, 2, 0}, 2, 2},
                    RequestCase{"TwoThirdsRoundsUp", 3, 2, {133, 4, 0}, 4, 3},
                    RequestCase{"BothAsked", 640, 480, {150, 1000, 900}, 1000, 900},
                    RequestCase{"NeverBelowOne", 10000, 1, {2, 200, 0}, 200, 1},
                    RequestCase{"Reduction", 641, 481, {50, 0, 240}, 320, 240},
                    RequestCase{"NoWidthNoDivision", 0, 480, {150, 10, 0}, 10, 0},
                    // 2000000 x 1200000 = 2.4e12 pixels: no 64-bit product wraps.
                    RequestCase{"Huge", 100000, 60000, {2000, 2000000, 0}, 2000000, 1200000}),
    [](const auto& info) { return std::string(info.param.name); });

// Peak bytes counted by hand: destination buffer, working plane, 24-bit
// result, 32-bit region copy. 1000 x 800 at 200 %: 12.8 + 12.8 + 9.6 + 3.2 MB.
TEST(MemoryBudget, PeakCountsEverythingTheJobHolds) {
  EXPECT_EQ(EnlargementPeakBytes({2000, 1600}, 1000, 800), 38'400'000u);
  // At 150 % the engine's intermediate image makes the buffer larger.
  EXPECT_EQ(EnlargementPeakBytes({150, 150}, 100, 100),
            199u * 199 * 4 + 150 * 150 * 4 + 452 * 150 + 100 * 100 * 4);
  EXPECT_EQ(EnlargementPeakBytes({INT64_MAX, INT64_MAX}, 1, 1), UINT64_MAX);
}

struct PlanCase {
  const char* name;
  uint64_t srcW, srcH;
  int percent;
  uint64_t available, freeable;
  MemoryFit fit;
};

class MemoryPlanTable : public testing::TestWithParam<PlanCase> {};

TEST_P(MemoryPlanTable, WeighsThePeakAgainstWhatIsThere) {
  const PlanCase& c = GetParam();
  const Size64 target = TargetSize(c.srcW, c.srcH, c.percent / 100.0);
  const MemoryPlan plan = PlanMemory(c.percent, c.srcW, c.srcH, target, c.available, c.freeable);
  EXPECT_EQ(plan.fit, c.fit);
  if (plan.fit != MemoryFit::Cropped) return;
  // The crop chosen fits, and a larger one would not.
  const uint64_t usable = (c.available + c.freeable) - (c.available + c.freeable) / 8;
  const Region region = SourceRegion(c.srcW, c.srcH, target, true, plan.pixelBudget);
  const Region larger = SourceRegion(c.srcW, c.srcH, target, true, plan.pixelBudget + 1);
  EXPECT_LE(EnlargementPeakBytes(target, region.Width(), region.Height()), usable);
  EXPECT_GT(EnlargementPeakBytes(target, larger.Width(), larger.Height()), usable);
}

constexpr uint64_t kGiB = 1ull << 30;

INSTANTIATE_TEST_SUITE_P(
    Cases, MemoryPlanTable,
    testing::Values(
        // 80000 x 60000: 52.8 GB even with a one-pixel crop.
        PlanCase{"HugeTargetNever", 4000, 3000, 2000, 22 * kGiB, 0, MemoryFit::Never},
        PlanCase{"FourHundredPercentWhole", 4000, 3000, 400, 22 * kGiB, 0, MemoryFit::Whole},
        // Seven eighths of 43 885 715 bytes is just over the 38 400 000 needed.
        PlanCase{"JustEnough", 1000, 800, 200, 43'885'715, 0, MemoryFit::Whole},
        PlanCase{"JustShort", 1000, 800, 200, 43'885'712, 0, MemoryFit::Cropped},
        PlanCase{"PreviousResultGivesBack", 1000, 800, 200, 0, 43'885'715, MemoryFit::Whole},
        PlanCase{"ReductionNeverWeighed", 1000, 800, 50, 0, 0, MemoryFit::Whole},
        PlanCase{"HundredNeverWeighed", 1000, 800, 100, 0, 0, MemoryFit::Whole},
        PlanCase{"NoMemoryNever", 200, 100, 101, 0, 0, MemoryFit::Never},
        PlanCase{"CropFits", 200, 100, 101, 300'000, 0, MemoryFit::Cropped}),
    [](const auto& info) { return std::string(info.param.name); });

// The percent a refusal proposes, for 1000 x 800. Counted by hand as above:
// 200 % needs 38 400 000 bytes, 201 % 38 756 096, 199 % 38 052 064; seven
// eighths of 43 885 715 is 38 400 001, of 43 885 712 it is 38 399 998.
TEST(MemoryBudget, LargestWholePercentIsTheLastThatFits) {
  struct Case {
    uint64_t available, freeable;
    int below, largest;
  };
  for (const Case& c : {Case{43'885'715, 0, 250, 200}, Case{43'885'712, 0, 250, 199},
                        Case{0, 43'885'715, 2000, 200}, Case{43'885'715, 0, 150, 149},
                        Case{0, 0, 101, 100}, Case{0, 0, 2000, 100}}) {
    EXPECT_EQ(LargestWholePercent(1000, 800, c.available, c.freeable, c.below), c.largest)
        << c.available << " + " << c.freeable << " below " << c.below;
  }
}

TEST(MemoryBudget, JustShortCropsOnePixelOffEachSide) {
  const MemoryPlan plan = PlanMemory(200, 1000, 800, {2000, 1600}, 43'885'712, 0);
  // 35.2 MB fixed leaves 3 199 998 bytes: 999 x 799 pixels, not 1000 x 800.
  EXPECT_EQ(SourceRegion(1000, 800, {2000, 1600}, true, plan.pixelBudget),
            (Region{0, 0, 999, 799}));
}

TEST(MemoryBudget, ReadsMemAvailableFromMeminfo) {
  const char* meminfo =
      "MemTotal:       25165824 kB\n"
      "MemFree:         1000000 kB\n"
      "MemAvailable:   20971520 kB\n"
      "Buffers:          123456 kB\n";
  EXPECT_EQ(ParseMemAvailable(meminfo), 20971520ull * 1024);
  // 8 TiB, beyond a 32-bit count of kibibytes.
  EXPECT_EQ(ParseMemAvailable("MemAvailable: 8589934592 kB\n"), 8589934592ull * 1024);
  EXPECT_EQ(ParseMemAvailable("MemTotal: 1 kB\nXMemAvailable: 5 kB\n"), std::nullopt);
  EXPECT_EQ(ParseMemAvailable("MemAvailable: kB\n"), std::nullopt);
  ASSERT_TRUE(AvailableMemoryBytes().has_value());
  EXPECT_GT(*AvailableMemoryBytes(), 0u);
}

struct RegionCase {
  const char* name;
  uint64_t srcW, srcH;
  Size64 target;
  bool crop;
  uint64_t budget;
  Region expected;
};

class SourceRegionTest : public testing::TestWithParam<RegionCase> {};

TEST_P(SourceRegionTest, CentresTheCroppedPart) {
  const RegionCase& c = GetParam();
  EXPECT_EQ(SourceRegion(c.srcW, c.srcH, c.target, c.crop, c.budget), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, SourceRegionTest,
    testing::Values(
        RegionCase{"Whole", 1000, 800, {2000, 1600}, false, 0, {0, 0, 1000, 800}},
        RegionCase{"QuarterBudget", 1000, 800, {2000, 1600}, true, 800000, {250, 200, 750, 600}},
        RegionCase{"OddWidth", 1001, 800, {2002, 1600}, true, 800800, {250, 200, 750, 600}},
        RegionCase{"BudgetEnough", 100, 100, {200, 200}, true, 40000, {0, 0, 100, 100}},
        RegionCase{"NothingLeft", 100, 50, {2000, 1000}, true, 0, {49, 24, 50, 25}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompactStride, RoundsThreeBytesAPixelUpToFour) {
  EXPECT_EQ(CompactStride(1), 4u);
  EXPECT_EQ(CompactStride(2), 8u);
  EXPECT_EQ(CompactStride(3), 12u);
  EXPECT_EQ(CompactStride(4), 12u);
  EXPECT_EQ(CompactStride(5), 16u);
  EXPECT_EQ(CompactStride(100000), 300000u);
}

TEST(DestBuffer, HasRoomForTheIntermediateImage) {
  EXPECT_EQ(DestBufferBytes({2000, 1600}, 1000, 800), 2000ull * 1600 * 4);
  // At 100 % the intermediate (2w - 1) x (2h - 1) is the larger.
  EXPECT_EQ(DestBufferBytes({640, 480}, 640, 480), 1279ull * 959 * 4);
  // 60000 x 60000: beyond 32 bits, still counted exactly.
  EXPECT_EQ(DestBufferBytes({60000, 60000}, 3000, 3000), 60000ull * 60000 * 4);
  EXPECT_EQ(DestBufferBytes({INT64_MAX, INT64_MAX}, 1, 1), std::nullopt);
  EXPECT_EQ(DestBufferBytes({0, 10}, 1, 1), std::nullopt);
}

TEST(Compaction, PacksRowsInPlaceKeepingTheFirstThreeBytes) {
  const uint64_t width = 5, height = 3, stride = CompactStride(width);
  std::vector<uint8_t> buffer(width * height * 4);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> original = buffer;
  for (uint64_t row = 0; row < height; ++row) CompactRowTo24(buffer.data(), row, width, stride);
  for (uint64_t row = 0; row < height; ++row)
    for (uint64_t x = 0; x < width; ++x)
      for (int b = 0; b < 3; ++b)
        ASSERT_EQ(buffer[row * stride + x * 3 + b], original[(row * width + x) * 4 + b])
            << row << "," << x << "," << b;
}

TEST(Compaction, ReportsStayBelow255) {
  EXPECT_EQ(CompactionReport(0, 1), 0);
  EXPECT_EQ(CompactionReport(99, 100), 252);
  EXPECT_EQ(CompactionReport(1, 2), 127);
  // A tall result does not overflow the product.
  EXPECT_EQ(CompactionReport(3'999'999'999ull, 4'000'000'000ull), 254);
}

TEST(JobTitle, PercentRunsInFifteenthsAndStopsAt99) {
  std::vector<int> seen;
  for (int position = 0; position <= 15; ++position) seen.push_back(TitlePercent(position, 15));
  EXPECT_EQ(seen, (std::vector<int>{0, 6, 13, 20, 26, 33, 40, 46, 53, 60, 66, 73, 80, 86, 93, 99}));
}

TEST(JobTitle, DotMovesWithTheTickAndPauseShowsTwoBlanks) {
  EXPECT_EQ(JobTitle("Magnova", 6, false, 0), "Magnova [6%] .");
  EXPECT_EQ(JobTitle("Magnova", 13, false, 1), "Magnova [13%]  .");
  EXPECT_EQ(JobTitle("Magnova", 20, false, 2), "Magnova [20%]   .");
  EXPECT_EQ(JobTitle("Magnova", 26, false, 3), "Magnova [26%]     .");
  EXPECT_EQ(JobTitle("Magnova", 33, false, 4), "Magnova [33%] .");
  EXPECT_EQ(JobTitle("Magnova", 40, true, 2), "Magnova [40%]  - paused");
}

}  // namespace
}  // namespace resize
