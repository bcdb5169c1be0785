// The strength check's half-size copy of a picture against FreeImage's own
// Catmull-Rom halving, for even and odd sizes.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/StrengthCheck.h"

namespace {

struct Size {
  int w, h;
};

class StrengthCheckHalving : public testing::TestWithParam<Size> {};

// Away from the edges, where FreeImage drops the taps that fall outside and
// the check repeats the edge, the two agree to FreeImage's rounding: to bytes
// after each of its two passes, the first rounding carried by the second
// pass's taps (whose magnitudes sum to 1.1875), so at most 0.5 + 0.59.
TEST_P(StrengthCheckHalving, IsFreeImagesCatmullRomHalving) {
  const auto [w, h] = GetParam();
  std::vector<float> luma(static_cast<std::size_t>(w) * h);
  FIBITMAP* even = FreeImage_Allocate(w / 2 * 2, h / 2 * 2, 8);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int v = static_cast<int>(std::lround(
          128 + 90 * std::sin(0.9 * x + 0.3 * y) * std::cos(0.45 * y) + ((x * 7 + y * 3) % 11)));
      luma[static_cast<std::size_t>(y) * w + x] = static_cast<float>(v);
      if (x < w / 2 * 2 && y < h / 2 * 2)
        FreeImage_GetScanLine(even, h / 2 * 2 - 1 - y)[x] = static_cast<BYTE>(v);
    }
  }
  FIBITMAP* half = FreeImage_Rescale(even, w / 2, h / 2, FILTER_CATMULLROM);
  FreeImage_Unload(even);
  ASSERT_NE(half, nullptr);

  ampliscale::StrengthCheck check(ampliscale::Plane{luma.data(), w, h}, 3);
  ASSERT_TRUE(check.Possible());
  for (int c = 0; c < check.HalvingChunks(); ++c) check.Halve(c);
  const ampliscale::Plane& ours = check.Half();
  ASSERT_EQ(ours.width, w / 2);
  ASSERT_EQ(ours.height, h / 2);
  double largest = 0;
  for (int i = 3; i < h / 2 - 3; ++i) {
    const BYTE* row = FreeImage_GetScanLine(half, h / 2 - 1 - i);
    for (int j = 3; j < w / 2 - 3; ++j)
      largest = std::max(largest, std::abs(ours.Row(i)[j] - row[j] + 0.0));
  }
  FreeImage_Unload(half);
  EXPECT_LE(largest, 1.1) << w << " x " << h;
}

INSTANTIATE_TEST_SUITE_P(Sizes, StrengthCheckHalving,
                         testing::Values(Size{64, 40}, Size{65, 41}, Size{37, 90}));

}  // namespace
