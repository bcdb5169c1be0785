// Transparency through an enlargement: the worker with the real engine, on
// pictures whose right answer is known without the code under test.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "WorkerHarness.h"
#include "resize/AlphaEnlarge.h"

namespace {

constexpr int kSide = 48;

// Coverage of a disc by pixel (x, y) of a picture `side` pixels wide:
// hard edges by 8 x 8 supersampling, soft edges as a ramp `soft` pixels wide.
double Disc(double x, double y, int side, double soft) {
  const double d = std::hypot(x - side / 2.0, y - side / 2.0) - side * 0.3;
  if (soft > 0) return std::clamp(0.5 - d / soft, 0.0, 1.0);
  double covered = 0;
  for (int a = 0; a < 8; ++a)
    for (int b = 0; b < 8; ++b)
      covered += std::hypot(x - 0.5 + (a + 0.5) / 8 - side / 2.0,
                            y - 0.5 + (b + 0.5) / 8 - side / 2.0) < side * 0.3;
  return covered / 64;
}

struct FringeCase {
  const char* name;
  BYTE shape;       // grey of the shape
  BYTE underneath;  // grey under its transparent pixels
  double soft;      // edge width in source pixels, 0 for hard
  double opacity;   // the shape's own alpha
};

// A disc of one colour and `opacity` over fully transparent pixels of another.
FIBITMAP* MakeDisc(const FringeCase& c) {
  FIBITMAP* bitmap = FreeImage_Allocate(kSide, kSide, 32);
  for (int y = 0; y < kSide; ++y) {
    BYTE* p = FreeImage_GetScanLine(bitmap, y);
    for (int x = 0; x < kSide; ++x, p += 4) {
      const double cover = Disc(x + 0.5, y + 0.5, kSide, c.soft);
      const BYTE grey = cover > 0 ? c.shape : c.underneath;
      p[FI_RGBA_RED] = p[FI_RGBA_GREEN] = p[FI_RGBA_BLUE] = grey;
      p[FI_RGBA_ALPHA] = static_cast<BYTE>(std::lround(cover * c.opacity * 255));
    }
  }
  return bitmap;
}

class AlphaFringeTest : public testing::TestWithParam<FringeCase> {};

TEST_P(AlphaFringeTest, EnlargedAlphaKeepsItsMeaningAndNoFringeShows) {
  const FringeCase& c = GetParam();
  FIBITMAP* source = MakeDisc(c);
  WorkerRig rig;
  ASSERT_TRUE(rig.WaitForEnd(rig.Start(RequestFor(source, 200))));
  ASSERT_NE(rig.result, nullptr);
  ASSERT_EQ(FreeImage_GetBPP(rig.result), 32u);
  const int side = 2 * kSide;
  int visible = 0;
  for (int y = 0; y < side; ++y) {
    const BYTE* p = FreeImage_GetScanLine(rig.result, y);
    for (int x = 0; x < side; ++x, p += 4) {
      const int alpha = p[FI_RGBA_ALPHA];
      if (alpha < 8) continue;
      ++visible;
      // Whatever its alpha, a visible pixel has the shape's colour.
      ASSERT_NEAR(p[FI_RGBA_GREEN], c.shape, 12) << "at " << x << "," << y << " alpha " << alpha;
    }
  }
  EXPECT_GT(visible, side * side / 5);
  const BYTE* centre = FreeImage_GetScanLine(rig.result, side / 2) + side / 2 * 4;
  EXPECT_NEAR(centre[FI_RGBA_ALPHA], std::lround(c.opacity * 255), 3);
  EXPECT_EQ(FreeImage_GetScanLine(rig.result, 0)[FI_RGBA_ALPHA], 0);
  FreeImage_Unload(source);
}

INSTANTIATE_TEST_SUITE_P(Edges, AlphaFringeTest,
                         testing::Values(FringeCase{"WhiteOverBlackSoft", 255, 0, 6, 0.6},
                                         FringeCase{"WhiteOverBlackHard", 255, 0, 0, 1.0},
                                         FringeCase{"BlackOverWhiteSoft", 0, 255, 6, 1.0},
                                         FringeCase{"BlackOverWhiteHard", 0, 255, 0, 0.6}),
                         [](const testing::TestParamInfo<FringeCase>& info) {
                           return std::string(info.param.name);
                         });

// The alpha is enlarged through the engine rather than by Lanczos3 because
// it comes far closer to the truth on hard edges, the common case of cut-out
// pictures, and stays within a level of it on a feathered edge (where
// Lanczos3 is a little closer still): the truth is the disc drawn at the
// enlarged size, the source the same disc at half of it.
TEST(AlphaEnlarge, EngineComesCloserToTheTruthOnHardEdgesAndStaysCloseOnSoftOnes) {
  for (double soft : {0.0, 12.0}) {
    const int big = 2 * kSide;
    FIBITMAP* source = FreeImage_Allocate(kSide, kSide, 32);
    FIBITMAP* alphaOnly = FreeImage_Allocate(kSide, kSide, 8);
    for (int y = 0; y < kSide; ++y) {
      BYTE* p = FreeImage_GetScanLine(source, y);
      BYTE* a = FreeImage_GetScanLine(alphaOnly, y);
      for (int x = 0; x < kSide; ++x, p += 4) {
        // Each source pixel covers a 2 x 2 block of the truth.
        double cover = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx)
            cover += Disc(2 * x + dx + 0.5, 2 * y + dy + 0.5, big, soft * 2) / 4;
        p[0] = p[1] = p[2] = 128;
        a[x] = p[FI_RGBA_ALPHA] = static_cast<BYTE>(std::lround(cover * 255));
      }
    }
    WorkerRig rig;
    ASSERT_TRUE(rig.WaitForEnd(rig.Start(RequestFor(source, 200))));
    ASSERT_NE(rig.result, nullptr);
    FIBITMAP* lanczos = FreeImage_Rescale(alphaOnly, big, big, FILTER_LANCZOS3);
    double engineError = 0, lanczosError = 0;
    for (int y = 0; y < big; ++y) {
      for (int x = 0; x < big; ++x) {
        const double truth = Disc(x + 0.5, y + 0.5, big, soft * 2) * 255;
        const double e = FreeImage_GetScanLine(rig.result, y)[x * 4 + FI_RGBA_ALPHA] - truth;
        const double l = FreeImage_GetScanLine(lanczos, y)[x] - truth;
        engineError += e * e;
        lanczosError += l * l;
      }
    }
    if (soft == 0) {
      EXPECT_LT(engineError, lanczosError / 2);
    } else {
      EXPECT_LT(std::sqrt(engineError / (big * big)), 1.0) << "edge width " << soft;
    }
    FreeImage_Unload(lanczos);
    FreeImage_Unload(alphaOnly);
    FreeImage_Unload(source);
  }
}

TEST(AlphaEnlarge, OpaqueAndUnusedFourthBytesGiveNoAlpha) {
  const std::vector<uint8_t> opaque = {1, 2, 3, 255, 4, 5, 6, 255};
  const std::vector<uint8_t> unused = {1, 2, 3, 0, 4, 5, 6, 0};
  const std::vector<uint8_t> constant = {1, 2, 3, 128, 4, 5, 6, 128};
  const std::vector<uint8_t> varying = {1, 2, 3, 255, 4, 5, 6, 0};
  EXPECT_FALSE(resize::HasAlpha(opaque.data(), 2, 1));
  EXPECT_FALSE(resize::HasAlpha(unused.data(), 2, 1));
  EXPECT_TRUE(resize::HasAlpha(constant.data(), 2, 1));
  EXPECT_TRUE(resize::HasAlpha(varying.data(), 2, 1));
}

TEST(AlphaEnlarge, RunReportsRiseThroughTheFirstStageWithoutReachingTheEnd) {
  int last = -1;
  for (int stage = 2; stage <= 14; ++stage) {
    for (int value = 0; value <= 255; value += 15) {
      const int report = resize::AlphaRunReport(stage, value);
      ASSERT_GE(report, last) << stage << " " << value;
      ASSERT_LE(report, 254);
      last = report;
    }
  }
  EXPECT_GE(last, 250);
}

}  // namespace
