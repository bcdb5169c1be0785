// What the enlargement does to pictures: position, contrast, smoothness and
// independence from the number of threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/Enlarger.h"
#include "tests/engine/EngineHarness.h"

namespace {

using enginetest::Enlarge;
using enginetest::MakeSource;
using enginetest::Pixel;

std::uint8_t Grey(double v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

void SetGrey(std::uint8_t* p, std::uint8_t v) {
  p[0] = p[1] = p[2] = v;
  p[3] = 0;
}

// A dark Gaussian blob off the centre must land where the pixel-centre mapping
// puts it: x' = (x + 0.5) * W / w - 0.5, for every factor.
TEST(EnginePicture, BlobKeepsItsPlace) {
  const int w = 40, h = 34;
  const double cx = 17.3, cy = 15.6, sigma = 3.0;
  const auto source = MakeSource(w, h, [&](int x, int y, std::uint8_t* p) {
    SetGrey(p, Grey(230.0 - 180.0 * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) /
                                             (2 * sigma * sigma))));
  });
  for (const double factor : {1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0}) {
    const int W = static_cast<int>(w * factor), H = static_cast<int>(h * factor);
    const auto result = Enlarge(source, w, h, W, H);
    double mass = 0, mx = 0, my = 0;
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const double weight = 230.0 - Pixel(result, W, x, y)[1];
        mass += weight;
        mx += weight * x;
        my += weight * y;
      }
    }
    const double sx = static_cast<double>(W) / w, sy = static_cast<double>(H) / h;
    EXPECT_NEAR(mx / mass, (cx + 0.5) * sx - 0.5, 0.05) << factor;
    EXPECT_NEAR(my / mass, (cy + 0.5) * sy - 0.5, 0.05) << factor;
  }
}

// A smooth picture enlarged by two stays close to the same picture sampled
// twice as densely.
TEST(EnginePicture, SmoothPictureIsReproduced) {
  const int w = 48, h = 40;
  auto field = [](double x, double y) {
    return 128.0 + 60.0 * std::sin(0.21 * x + 0.1 * y) + 40.0 * std::cos(0.17 * y - 0.05 * x);
  };
  const auto source =
      MakeSource(w, h, [&](int x, int y, std::uint8_t* p) { SetGrey(p, Grey(field(x, y))); });
  const auto result = Enlarge(source, w, h, 2 * w, 2 * h);
  double squared = 0;
  int count = 0;
  for (int y = 8; y < 2 * h - 8; ++y) {
    for (int x = 8; x < 2 * w - 8; ++x) {
      const double expected = field((x + 0.5) / 2 - 0.5, (y + 0.5) / 2 - 0.5);
      const double d = Pixel(result, 2 * w, x, y)[1] - expected;
      squared += d * d;
      ++count;
    }
  }
  EXPECT_LT(std::sqrt(squared / count), 1.5);
}

// Black against white: the flat sides stay exactly flat, and across the edge
// the values rise without ripples.
TEST(EnginePicture, HardEdgeHasNoRipples) {
  const int w = 24, h = 16;
  const auto source =
      MakeSource(w, h, [&](int x, int, std::uint8_t* p) { SetGrey(p, x < w / 2 ? 0 : 255); });
  for (const double factor : {1.2, 1.5, 2.0, 3.0, 4.0, 7.5}) {
    const int W = static_cast<int>(w * factor), H = static_cast<int>(h * factor);
    const auto result = Enlarge(source, w, h, W, H);
    for (int y = 0; y < H; ++y) {
      ASSERT_EQ(Pixel(result, W, 0, y)[1], 0) << factor;
      ASSERT_EQ(Pixel(result, W, W - 1, y)[1], 255) << factor;
      for (int x = 1; x < W; ++x) {
        ASSERT_GE(Pixel(result, W, x, y)[1] + 2, Pixel(result, W, x - 1, y)[1])
            << factor << " at " << x << "," << y;
      }
    }
  }
}

// A picture drawn at four times its size and box-averaged down, as a
// photograph's edges are: the share of each pixel on the dark side of a line
// at 30 degrees, with `width` (in the drawing's pixels) of it dark when width
// is positive, or all of one side when it is not.
std::vector<std::uint8_t> DrawnLedge(int w, int h, double width, double dark, double light) {
  constexpr int kSuper = 4;
  const double nx = -0.5, ny = 0.8660254;  // unit normal of the line
  return MakeSource(w, h, [&](int x, int y, std::uint8_t* p) {
    int inside = 0;
    for (int sy = 0; sy < kSuper; ++sy) {
      for (int sx = 0; sx < kSuper; ++sx) {
        const double d = ((x * kSuper + sx + 0.5) - w * kSuper / 2.0) * nx +
                         ((y * kSuper + sy + 0.5) - h * kSuper / 2.0) * ny;
        inside += width > 0 ? std::fabs(d) < width / 2 : d < 0;
      }
    }
    const double share = inside / double(kSuper * kSuper);
    SetGrey(p, Grey(light + (dark - light) * share));
  });
}

// Enlarged four times or more, a strong ledge between two greys gains no
// bright or dark line along it: nothing in the drawing leaves the two greys.
// A thin dark line, which the reduction paled, is drawn darker again, not
// held at its pale grey.
TEST(EnginePicture, StrongEdgesGainNoHalo) {
  const int w = 40, h = 32;
  const auto ledge = DrawnLedge(w, h, 0, 60, 190);
  const auto line = DrawnLedge(w, h, 1.5, 20, 200);
  int palest = 255;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) palest = std::min<int>(palest, line[(y * w + x) * 4 + 1]);
  }
  for (const double factor : {4.0, 6.0, 12.0}) {
    const int W = static_cast<int>(w * factor), H = static_cast<int>(h * factor);
    const auto edge = Enlarge(ledge, w, h, W, H);
    const auto thin = Enlarge(line, w, h, W, H);
    int least = 255, most = 0, darkest = 255;
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        least = std::min<int>(least, Pixel(edge, W, x, y)[1]);
        most = std::max<int>(most, Pixel(edge, W, x, y)[1]);
        darkest = std::min<int>(darkest, Pixel(thin, W, x, y)[1]);
      }
    }
    EXPECT_GE(least, 60 - 2) << factor;
    EXPECT_LE(most, 190 + 2) << factor;
    EXPECT_LE(darkest, palest - 10) << factor;
  }
}

// Two thin dark lines on light ground, drawn as a drawing program draws them
// (sixteen samples a pixel): enlarged four times, the ground 4 to 8 pixels
// beside them (one to two source pixels, past those the lines cover in part)
// keeps its grey, with no faint copy of either line.
TEST(EnginePicture, ThinLinesCastNoGhosts) {
  constexpr int w = 48, h = 40, kFactor = 4, kSuper = 4;
  constexpr double kLight = 230, kDark = 30, kSlope = 0.25, kWidth = 1.2;
  constexpr double kStarts[2] = {14.3, 30.6};  // where each line crosses y = 0
  // Distance of a point (in source pixels) from the nearer line's edge.
  const double across = 1.0 / std::sqrt(1.0 + kSlope * kSlope);
  auto fromEdge = [&](double x, double y) {
    double nearest = 1e9;
    for (const double a : kStarts)
      nearest = std::min(nearest, std::fabs(x - a - kSlope * y) * across);
    return nearest - kWidth / 2;
  };
  const auto source = MakeSource(w, h, [&](int x, int y, std::uint8_t* p) {
    int inside = 0;
    for (int sy = 0; sy < kSuper; ++sy) {
      for (int sx = 0; sx < kSuper; ++sx)
        inside += fromEdge(x + (sx + 0.5) / kSuper - 0.5, y + (sy + 0.5) / kSuper - 0.5) < 0;
    }
    SetGrey(p, Grey(kLight + (kDark - kLight) * inside / (kSuper * kSuper)));
  });
  const int W = kFactor * w, H = kFactor * h;
  const auto result = Enlarge(source, w, h, W, H);
  int checked = 0, worst = 0;
  for (int y = 8; y < H - 8; ++y) {
    for (int x = 8; x < W - 8; ++x) {
      const double d = kFactor * fromEdge((x + 0.5) / kFactor - 0.5, (y + 0.5) / kFactor - 0.5);
      if (d < 4 || d > 8) continue;
      ++checked;
      worst = std::max(worst, std::abs(Pixel(result, W, x, y)[1] - static_cast<int>(kLight)));
    }
  }
  ASSERT_GT(checked, 1000);
  EXPECT_LE(worst, 3);
}

// Learned doublings from 110 % on, a 110 % target rounded down included; a
// second one once the first leaves a factor of 1.6 or more to go.
TEST(EnginePicture, FactorDecidesTheDoublings) {
  struct Case {
    int w, h, W, H, doublings;
  };
  for (const Case c :
       {Case{100, 100, 105, 105, 0}, Case{451, 300, 496, 330, 1}, Case{100, 100, 129, 129, 1},
        Case{300, 200, 900, 300, 1}, Case{100, 100, 319, 319, 1}, Case{100, 100, 320, 320, 2},
        Case{10, 10, 200, 200, 2}}) {
    EXPECT_EQ(ampliscale::Enlarger::Doublings(c.w, c.h, c.W, c.H), c.doublings)
        << c.w << " x " << c.h << " -> " << c.W << " x " << c.H;
  }
}

// The same bytes whatever the number of threads.
TEST(EnginePicture, ThreadCountChangesNothing) {
  const int w = 53, h = 47;
  const auto source = MakeSource(w, h, [](int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((x * x + 3 * y) & 255);
    p[1] = static_cast<std::uint8_t>(128 + 120 * std::sin(x * 0.9 + y * 0.4));
    p[2] = static_cast<std::uint8_t>((x ^ y) * 9);
    p[3] = 0;
  });
  for (const double factor : {1.2, 2.0, 3.0, 5.0}) {
    const int W = static_cast<int>(w * factor), H = static_cast<int>(h * factor);
    const std::size_t size =
        static_cast<std::size_t>(std::max(W, 2 * w - 1)) * std::max(H, 2 * h - 1) * 4;
    std::vector<std::uint8_t> reference;
    for (const int threads : {1, 2, 3}) {
      std::vector<std::uint8_t> dest(size);
      ASSERT_TRUE(
          ampliscale::Enlarger(source.data(), w, h, dest.data(), W, H).Run(threads, nullptr));
      dest.resize(static_cast<std::size_t>(W) * H * 4);
      if (reference.empty()) {
        reference = dest;
      } else {
        ASSERT_EQ(dest, reference) << factor << " with " << threads << " threads";
      }
    }
  }
}

}  // namespace
