#include "views/ViewMath.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using namespace viewmath;

constexpr std::array<double, 15> kTable{0.1, 0.25, 0.5, 0.75, 1.0, 1.5,  2.0, 2.5,
                                        3.0, 3.5,  4.0, 4.5,  5.0, 10.0, 20.0};

std::string Name(const char* name) { return name; }

struct StepCase {
  const char* name;
  friend void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }
  double from;
  bool up;
  double expected;
};

class NextZoomStepTable : public testing::TestWithParam<StepCase> {};

TEST_P(NextZoomStepTable, StepsThroughTheLevels) {
  EXPECT_DOUBLE_EQ(NextZoomStep(kTable, GetParam().from, GetParam().up), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, NextZoomStepTable,
    testing::Values(
        StepCase{"InFrom100", 1.0, true, 1.5}, StepCase{"OutFrom100", 1.0, false, 0.75},
        StepCase{"InFrom1000", 10.0, true, 20.0}, StepCase{"InAt2000Stays", 20.0, true, 20.0},
        StepCase{"OutAt10Stays", 0.1, false, 0.1}, StepCase{"InBetweenLevels", 0.37, true, 0.5},
        StepCase{"OutBetweenLevels", 0.37, false, 0.25}, StepCase{"InOnTie", 0.375, true, 0.5},
        StepCase{"OutOnTie", 0.375, false, 0.25}, StepCase{"InOnWideTie", 7.5, true, 10.0},
        StepCase{"OutOnWideTie", 7.5, false, 5.0}, StepCase{"InNearAbove", 1.55, true, 2.0},
        StepCase{"OutNearBelow", 1.45, false, 1.0}, StepCase{"InBelowTable", 0.05, true, 0.1},
        StepCase{"OutBelowTable", 0.05, false, 0.1}, StepCase{"OutAboveTable", 25.0, false, 20.0}),
    [](const auto& info) { return Name(info.param.name); });

struct SizeCase {
  const char* name;
  friend void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }
  int width, height;
  double zoom;
  ISize expected;
};

class DisplayedSizeTable : public testing::TestWithParam<SizeCase> {};

TEST_P(DisplayedSizeTable, TruncatesAndNeverVanishes) {
  const SizeCase& c = GetParam();
  EXPECT_EQ(DisplayedSize(c.width, c.height, c.zoom), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DisplayedSizeTable,
                         testing::Values(SizeCase{"ExactAtOne", 4000, 3000, 1.0, {4000, 3000}},
                                         SizeCase{"HalfOfOdd", 101, 51, 0.5, {50, 25}},
                                         SizeCase{"TruncNotRound", 333, 10, 0.3, {99, 3}},
                                         SizeCase{"OnePixelAtTen", 1, 1, 0.1, {1, 1}},
                                         SizeCase{"ThinLineAtTen", 100, 5, 0.1, {1, 1}},
                                         SizeCase{"NoImage", 0, 0, 2.0, {1, 1}},
                                         SizeCase{"Enlarged", 300, 200, 20.0, {6000, 4000}},
                                         SizeCase{"OneAndAHalf", 7, 3, 1.5, {10, 4}}),
                         [](const auto& info) { return Name(info.param.name); });

TEST(ZoomClamp, HoldsZoomWithinLimitsAndFitModeAtOne) {
  EXPECT_DOUBLE_EQ(ClampZoom(0.05, false), 0.1);
  EXPECT_DOUBLE_EQ(ClampZoom(25.0, false), 20.0);
  EXPECT_DOUBLE_EQ(ClampZoom(1.5, true), 1.0);
  EXPECT_DOUBLE_EQ(ClampZoom(0.5, true), 0.5);
  EXPECT_DOUBLE_EQ(ClampZoom(3.0, false), 3.0);
  EXPECT_EQ(ZoomPercent(0.375), 37);
  EXPECT_EQ(ZoomPercent(2.6666), 266);
  for (int percent : {29, 57, 113, 1001}) EXPECT_EQ(ZoomPercent(percent / 100.0), percent);
}

struct ScrollCase {
  const char* name;
  friend void PrintTo(const ScrollCase& c, std::ostream* os) { *os << c.name; }
  int code, offset, size, client;
  std::optional<int> expected;
};

class ScrollOffsetTable : public testing::TestWithParam<ScrollCase> {};

// Size 1000 has a line of 10 and a page of 100; with a client of 300 the
// offset runs from 0 to 700.
TEST_P(ScrollOffsetTable, FollowsTheScrollCodes) {
  const ScrollCase& c = GetParam();
  EXPECT_EQ(
      ScrollOffset(c.code, c.offset, c.size, c.client, LineStep(c.size), PageStep(c.size), 123),
      c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ScrollOffsetTable,
    testing::Values(ScrollCase{"Top", SbTop, 500, 1000, 300, 0},
                    ScrollCase{"Bottom", SbBottom, 5, 1000, 300, 700},
                    ScrollCase{"LineUp", SbLineUp, 500, 1000, 300, 490},
                    ScrollCase{"LineUpNearTop", SbLineUp, 7, 1000, 300, 0},
                    ScrollCase{"LineDown", SbLineDown, 500, 1000, 300, 510},
                    ScrollCase{"LineDownNearEnd", SbLineDown, 695, 1000, 300, 700},
                    ScrollCase{"PageUp", SbPageUp, 500, 1000, 300, 400},
                    ScrollCase{"PageUpNearTop", SbPageUp, 99, 1000, 300, 0},
                    ScrollCase{"PageDownByTenthOfSize", SbPageDown, 0, 1000, 300, 100},
                    ScrollCase{"PageDownNearEnd", SbPageDown, 650, 1000, 300, 700},
                    ScrollCase{"ThumbTrack", SbThumbTrack, 0, 1000, 300, 123},
                    ScrollCase{"ThumbPosition", SbThumbPosition, 0, 1000, 300, 123},
                    ScrollCase{"UnknownCode", 8, 500, 1000, 300, std::nullopt},
                    ScrollCase{"ImageFits", SbLineDown, 0, 200, 300, std::nullopt},
                    ScrollCase{"ExactFitStillScrollsToZero", SbTop, 0, 300, 300, 0}),
    [](const auto& info) { return Name(info.param.name); });

TEST(ScrollSteps, LineIsOnePercentPageATenthAtLeastOnePixel) {
  EXPECT_EQ(LineStep(1000), 10);
  EXPECT_EQ(PageStep(1000), 100);
  EXPECT_EQ(LineStep(99), 1);
  EXPECT_EQ(PageStep(1), 1);
  EXPECT_EQ(LineStep(0), 1);
}

TEST(ScrollClamp, KeepsTheOffsetInsideTheRange) {
  EXPECT_EQ(ClampOffset(800, 1000, 300), 700);
  EXPECT_EQ(ClampOffset(-5, 1000, 300), 0);
  EXPECT_EQ(ClampOffset(50, 200, 300), 0);
  EXPECT_EQ(ClampOffset(400, 1000, 300), 400);
}

TEST(ScrollToView, MovesOnlyWhenTheRectangleLeavesTheWindow) {
  EXPECT_EQ(ScrollToViewOffset(100, 300, 50, 350), 50);    // left edge first
  EXPECT_EQ(ScrollToViewOffset(100, 300, 350, 500), 200);  // right edge into view
  EXPECT_EQ(ScrollToViewOffset(100, 300, 150, 300), 100);  // already inside
}

struct WheelCase {
  const char* name;
  friend void PrintTo(const WheelCase& c, std::ostream* os) { *os << c.name; }
  int remainder, delta, lines, scrollHeight;
  WheelSteps expected;
};

class WheelTable : public testing::TestWithParam<WheelCase> {};

// The client is 300 high; a scroll height above that scrolls vertically.
TEST_P(WheelTable, TurnsNotchesIntoSteps) {
  const WheelCase& c = GetParam();
  const WheelSteps got = Wheel(c.remainder, c.delta, c.lines, c.scrollHeight, 300);
  EXPECT_EQ(got.steps, c.expected.steps);
  EXPECT_EQ(got.code, c.expected.code);
  EXPECT_EQ(got.vertical, c.expected.vertical);
  EXPECT_EQ(got.remainder, c.expected.remainder);
}

INSTANTIATE_TEST_SUITE_P(
    Notches, WheelTable,
    testing::Values(
        WheelCase{"NotchUpThreeLines", 0, 120, 3, 1000, {3, SbLineUp, true, 0}},
        WheelCase{"NotchDownThreeLines", 0, -120, 3, 1000, {3, SbLineDown, true, 0}},
        WheelCase{"PageMode", 0, -120, kWheelPageScroll, 1000, {1, SbPageDown, true, 0}},
        WheelCase{"FitsVerticallyGoesSideways", 0, -120, 3, 300, {3, SbLineDown, false, 0}},
        WheelCase{"SmallDeltaWaits", 0, 30, 3, 1000, {0, SbLineUp, true, 90}},
        WheelCase{"SmallDeltasAddUp", 90, 30, 3, 1000, {1, SbLineUp, true, 60}},
        WheelCase{"ReversalCancels", 90, -30, 3, 1000, {0, SbLineDown, true, 0}},
        WheelCase{"OneLinePerNotch", 0, 240, 1, 1000, {2, SbLineUp, true, 0}}),
    [](const auto& info) { return Name(info.param.name); });

TEST(WheelAccumulation, EightSmallDeltasMoveAsFarAsOneNotch) {
  int remainder = 0;
  int steps = 0;
  for (int i = 0; i < 8; ++i) {
    const WheelSteps w = Wheel(remainder, -15, 3, 1000, 300);
    steps += w.steps;
    remainder = w.remainder;
  }
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(remainder, 0);
}

TEST(ZoomCentre, KeepsThePictureUnderTheCentre) {
  // Centre (200, 100) at 100 % is picture point (200, 100); at 200 % that
  // point is at (400, 200), so a 200 x 100 window starts at (300, 150).
  EXPECT_EQ(ZoomCentreTarget(200, 100, 1.0, 2.0, 200, 100), (IRect{300, 150, 500, 250}));
  EXPECT_EQ(ZoomCentreTarget(400, 200, 2.0, 1.0, 200, 100), (IRect{100, 50, 300, 150}));
  // Odd window sizes use the floor of the half.
  EXPECT_EQ(ZoomCentreTarget(100, 50, 1.0, 1.5, 201, 101), (IRect{50, 25, 251, 126}));
  // A window that shrank (scroll bars appeared) is centred all the same.
  EXPECT_EQ(ZoomCentreTarget(200, 100, 1.0, 2.0, 180, 80), (IRect{310, 160, 490, 240}));
}

struct IndexCase {
  const char* name;
  friend void PrintTo(const IndexCase& c, std::ostream* os) { *os << c.name; }
  int percent;
  int expected;
};

class ZoomTableIndexTable : public testing::TestWithParam<IndexCase> {};

TEST_P(ZoomTableIndexTable, MapsLevelsAndOther) {
  EXPECT_EQ(ZoomTableIndex(kTable, GetParam().percent), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Percents, ZoomTableIndexTable,
                         testing::Values(IndexCase{"Ten", 10, 0}, IndexCase{"Hundred", 100, 4},
                                         IndexCase{"OneFifty", 150, 5},
                                         IndexCase{"Thousand", 1000, 13},
                                         IndexCase{"TwoThousand", 2000, 14},
                                         IndexCase{"FitValue", 266, 15},
                                         IndexCase{"Thirty", 30, 15}),
                         [](const auto& info) { return Name(info.param.name); });

TEST(SyncMapping, ZoomsMapThroughTheScale) {
  EXPECT_DOUBLE_EQ(MapZoomToOther(1.5, 1, 2.0), 3.0);
  EXPECT_DOUBLE_EQ(MapZoomToOther(3.5, 0, 2.0), 1.75);
  EXPECT_DOUBLE_EQ(MapZoomToOther(0.25, 0, 2.0), 0.125);
}

TEST(SyncMapping, ScrollingTheResultMovesTheSourceByHalfAtScaleTwo) {
  // Both views at 100 %, client 200 x 100; the result's centre moves 100
  // pixels, the source's window centre must move 50.
  const IRect before = SyncScrollTarget(0, 0, 200, 100, 1.0, 1.0, 1, 2.0);
  const IRect after = SyncScrollTarget(100, 0, 200, 100, 1.0, 1.0, 1, 2.0);
  EXPECT_EQ((after.left + after.right) / 2 - (before.left + before.right) / 2, 50);
  EXPECT_EQ(after, (IRect{0, -25, 200, 75}));
  // From the source, the same point lies twice as far in the result.
  EXPECT_EQ(SyncScrollTarget(100, 0, 200, 100, 1.0, 1.0, 0, 2.0), (IRect{300, 50, 500, 150}));
  // Equal on-screen sizes (source 200 %, result 100 %) map centre to centre.
  EXPECT_EQ(SyncScrollTarget(100, 50, 200, 100, 1.0, 2.0, 1, 2.0), (IRect{100, 50, 300, 150}));
}

TEST(FitZoom, ShrinksLargeImagesAndGrowsSmallOnes) {
  EXPECT_DOUBLE_EQ(FitZoom(1.0, 800, 600, 4000, 3000), 0.2);
  EXPECT_NEAR(FitZoom(1.0, 800, 600, 300, 200), 2.6667, 1e-4);
  EXPECT_DOUBLE_EQ(FitZoom(0.5, 800, 600, 2000, 1500), 0.2);  // displayed size at 50 %
  EXPECT_DOUBLE_EQ(FitZoom(1.0, 800, 600, 1600, 600), 0.5);   // width decides
}

}  // namespace
