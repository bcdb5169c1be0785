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

TEST(MemoryBudget, UsesSixtyFourBitsThroughout) {
  // 24 GiB free: a 32-bit budget would wrap.
  const uint64_t available = 24ull << 30;
  EXPECT_EQ(PixelBudget(available, 0), 6ull << 30);
  EXPECT_EQ(PixelBudget(available, 1000 * 1000), (6ull << 30) + 32'000'000);
  EXPECT_EQ(PixelBudget(UINT64_MAX, UINT64_MAX), UINT64_MAX);
  // A 5-gigapixel target exceeds a 4 GiB budget only when counted in 64 bits.
  const uint64_t fiveGigapixels = 5ull << 30;
  EXPECT_TRUE(AsksAboutMemory(200, fiveGigapixels, PixelBudget(16ull << 30, 0)));
  EXPECT_FALSE(AsksAboutMemory(200, fiveGigapixels, PixelBudget(24ull << 30, 0)));
}

TEST(MemoryBudget, NeverAsksAtOrBelowHundredPercent) {
  for (int percent : {1, 50, 99, 100})
    EXPECT_FALSE(AsksAboutMemory(percent, UINT64_MAX, 0)) << percent;
  EXPECT_TRUE(AsksAboutMemory(101, 2, 1));
  EXPECT_FALSE(AsksAboutMemory(101, 1, 1));
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
