// The five calls' buffer layouts, sizes and orientation, through libampliscale.so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/engine/EngineHarness.h"

namespace {

using enginetest::Enlarge;
using enginetest::MakeSource;
using enginetest::Pixel;

struct Sizes {
  int w, h, W, H;
};

std::string Name(const testing::TestParamInfo<Sizes>& info) {
  const Sizes& s = info.param;
  return std::to_string(s.w) + "x" + std::to_string(s.h) + "_to_" + std::to_string(s.W) + "x" +
         std::to_string(s.H);
}

class EveryTargetSize : public testing::TestWithParam<Sizes> {};

// A flat source comes out flat at exactly W x H, whatever the sizes, without a
// byte read beyond the source or written beyond the destination's bufW x bufH.
TEST_P(EveryTargetSize, FlatSourceFillsExactlyTheTarget) {
  const Sizes s = GetParam();
  const auto source = MakeSource(s.w, s.h, [](int, int, std::uint8_t* p) {
    p[0] = 40;
    p[1] = 120;
    p[2] = 200;
    p[3] = 0;
  });
  const auto result = Enlarge(source, s.w, s.h, s.W, s.H);
  ASSERT_EQ(result.size(), static_cast<std::size_t>(s.W) * s.H * 4);
  for (int y = 0; y < s.H; ++y) {
    for (int x = 0; x < s.W; ++x) {
      const std::uint8_t* p = Pixel(result, s.W, x, y);
      ASSERT_NEAR(p[0], 40, 1) << x << "," << y;
      ASSERT_NEAR(p[1], 120, 1) << x << "," << y;
      ASSERT_NEAR(p[2], 200, 1) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Engine, EveryTargetSize,
    testing::Values(Sizes{1, 1, 1, 1}, Sizes{1, 1, 7, 5}, Sizes{1, 1, 20, 20}, Sizes{1, 9, 2, 18},
                    Sizes{1, 9, 20, 180}, Sizes{9, 1, 27, 3}, Sizes{13, 11, 1, 22},
                    Sizes{13, 11, 26, 1}, Sizes{13, 11, 1, 1}, Sizes{13, 11, 14, 12},
                    Sizes{13, 11, 16, 14}, Sizes{13, 11, 19, 16}, Sizes{13, 11, 26, 22},
                    Sizes{13, 11, 39, 33}, Sizes{13, 11, 52, 44}, Sizes{13, 11, 104, 88},
                    Sizes{6, 5, 120, 100}, Sizes{13, 11, 29, 13}, Sizes{30, 20, 7, 9},
                    Sizes{30, 20, 60, 10}, Sizes{2, 2, 3, 3}),
    Name);

// The source's bottom row arrives first and must come out at the bottom; its
// left column must stay on the left.
TEST(EngineLayout, BottomRowFirstInTopRowFirstOut) {
  const int w = 12, h = 10;
  const auto source = MakeSource(w, h, [&](int x, int y, std::uint8_t* p) {
    p[0] = p[1] = p[2] = 128;
    if (y == h - 1) p[2] = 255, p[0] = p[1] = 0;  // bottom row red
    if (x == 0) p[0] = 255, p[1] = p[2] = 0;      // left column blue
    p[3] = 0;
  });
  for (const int factor : {1, 2, 3}) {
    const int W = w * factor, H = h * factor;
    const auto result = Enlarge(source, w, h, W, H);
    const std::uint8_t* bottom = Pixel(result, W, W / 2, H - 1);
    const std::uint8_t* top = Pixel(result, W, W / 2, 0);
    const std::uint8_t* left = Pixel(result, W, 0, H / 2);
    const std::uint8_t* right = Pixel(result, W, W - 1, H / 2);
    EXPECT_GT(bottom[2], 200) << factor;
    EXPECT_LT(bottom[0], 60) << factor;
    EXPECT_NEAR(top[2], 128, 8) << factor;
    EXPECT_GT(left[0], 200) << factor;
    EXPECT_LT(left[2], 60) << factor;
    EXPECT_NEAR(right[0], 128, 8) << factor;
  }
}

// A target of the source's own size returns the source's bytes, all four of each pixel.
TEST(EngineLayout, SameSizeReturnsTheSourceUnchanged) {
  const int w = 17, h = 9;
  std::srand(7);
  const auto source = MakeSource(w, h, [](int, int, std::uint8_t* p) {
    for (int c = 0; c < 4; ++c) p[c] = static_cast<std::uint8_t>(std::rand() & 255);
  });
  const auto result = Enlarge(source, w, h, w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* expected = &source[(static_cast<std::size_t>(h - 1 - y) * w + x) * 4];
      const std::uint8_t* got = Pixel(result, w, x, y);
      ASSERT_EQ(0, std::memcmp(expected, got, 4)) << x << "," << y;
    }
  }
}

// Calls out of order or with nonsense must not crash or touch the buffers.
TEST(EngineLayout, IncompleteJobLeavesTheDestinationAlone) {
  std::vector<std::uint8_t> dest(64, 0xAB);
  DllInit(nullptr);
  DllSetDestImage(4, 4, dest.data());
  DllFilter();
  DllNextStage();
  DllSetSourceImage(0, 5, dest.data());
  DllNextStage();
  for (std::uint8_t b : dest) ASSERT_EQ(b, 0xAB);
}

}  // namespace
