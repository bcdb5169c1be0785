// The compression measure against pictures quantised here on an 8 x 8 grid,
// the way a JPEG coder does, at several grid offsets and step sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/Degradation.h"

namespace {

constexpr int kW = 200;
constexpr int kH = 152;

// A photograph-like luma plane: smooth shading plus fine texture of every orientation.
std::vector<float> Texture() {
  std::vector<float> y(static_cast<std::size_t>(kW) * kH);
  for (int r = 0; r < kH; ++r) {
    for (int c = 0; c < kW; ++c) {
      y[static_cast<std::size_t>(r) * kW + c] = static_cast<float>(
          120 + 50 * std::sin(0.031 * c + 0.017 * r) + 14 * std::sin(1.3 * c + 0.7 * r) +
          11 * std::sin(0.45 * c - 1.9 * r) + 9 * std::cos(2.6 * c + 0.2 * r * r / kH));
    }
  }
  return y;
}

// Each 8 x 8 block whose corner lies at (ox + 8i, oy + 8j) goes through an
// orthonormal 2-D DCT, coefficient (u, v) is rounded to a multiple of
// step * (1 + u + v) (coarser for higher frequencies, as JPEG's tables are),
// and the block is transformed back. Pixels outside whole blocks stay.
std::vector<float> Quantised(std::vector<float> y, int ox, int oy, double step) {
  double basis[8][8];
  for (int u = 0; u < 8; ++u) {
    for (int x = 0; x < 8; ++x)
      basis[u][x] =
          (u ? std::sqrt(0.25) : std::sqrt(0.125)) * std::cos(M_PI * (2 * x + 1) * u / 16);
  }
  for (int by = oy; by + 8 <= kH; by += 8) {
    for (int bx = ox; bx + 8 <= kW; bx += 8) {
      double coefficient[8][8] = {};
      for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
          for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 8; ++c)
              coefficient[v][u] += basis[v][r] * basis[u][c] * y[(by + r) * kW + bx + c];
          }
          const double q = step * (1 + u + v);
          coefficient[v][u] = q * std::round(coefficient[v][u] / q);
        }
      }
      for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
          double sum = 0;
          for (int v = 0; v < 8; ++v) {
            for (int u = 0; u < 8; ++u) sum += basis[v][r] * basis[u][c] * coefficient[v][u];
          }
          y[(by + r) * kW + bx + c] = static_cast<float>(std::round(sum));
        }
      }
    }
  }
  return y;
}

double Measure(std::vector<float>& y, int w, int h) {
  ampliscale::DegradationMeter meter(ampliscale::Plane{y.data(), w, h});
  // Chunks in reverse order: the result must not depend on it.
  for (int c = meter.Chunks() - 1; c >= 0; --c) meter.Measure(c);
  return meter.Result();
}

struct Case {
  int ox, oy;
  double step;
  double least, most;  // bounds of the measure
};

class CompressionMeasure : public testing::TestWithParam<Case> {};

TEST_P(CompressionMeasure, RisesWithTheStepAtAnyGridOffset) {
  const Case& k = GetParam();
  std::vector<float> y = k.step > 0 ? Quantised(Texture(), k.ox, k.oy, k.step) : Texture();
  const double measure = Measure(y, kW, kH);
  EXPECT_GE(measure, k.least);
  EXPECT_LE(measure, k.most);
}

INSTANTIATE_TEST_SUITE_P(Grids, CompressionMeasure,
                         testing::Values(Case{0, 0, 0.0, 0.0, 0.03},  // no grid at all
                                         Case{0, 0, 1.0, 0.05, 1.0},  // fine steps: a faint grid
                                         Case{3, 5, 1.0, 0.05, 1.0},
                                         Case{0, 0, 4.0, 0.15, 1.0},  // coarse steps
                                         Case{7, 1, 4.0, 0.15, 1.0}, Case{4, 4, 4.0, 0.15, 1.0}));

// Coarser quantisation never reads as milder.
TEST(CompressionMeasure, OrderedBySteps) {
  double previous = -1;
  for (const double step : {0.0, 0.5, 1.0, 2.0, 4.0, 8.0}) {
    std::vector<float> y = step > 0 ? Quantised(Texture(), 2, 6, step) : Texture();
    const double measure = Measure(y, kW, kH);
    EXPECT_GT(measure, previous) << step;
    previous = measure;
  }
}

// A picture too small both ways to show a grid, or a flat one: nothing
// measured. One whose short side is too small is read along its long side:
// a strip of coarse blocks 40 x 12 or 12 x 40 reads as the whole picture of
// them does, the same strip uncompressed as clean.
TEST(CompressionMeasure, SmallOrFlatPictures) {
  auto crop = [](const std::vector<float>& y, int w, int h) {
    std::vector<float> part;
    for (int r = 0; r < h; ++r) part.insert(part.end(), &y[r * kW], &y[r * kW] + w);
    return part;
  };
  const std::vector<float> blocks = Quantised(Texture(), 0, 0, 4.0);
  struct Strip {
    bool compressed;
    int w, h;
    double least, most;
  };
  for (const Strip& s : {Strip{true, 12, 12, 0.0, 0.0}, Strip{true, 15, 15, 0.0, 0.0},
                         Strip{true, 40, 12, 0.15, 1.0}, Strip{true, 12, 40, 0.15, 1.0},
                         Strip{false, 40, 12, 0.0, 0.03}, Strip{false, 12, 40, 0.0, 0.03}}) {
    std::vector<float> y = crop(s.compressed ? blocks : Texture(), s.w, s.h);
    const double measure = Measure(y, s.w, s.h);
    EXPECT_GE(measure, s.least) << s.w << " x " << s.h << (s.compressed ? " compressed" : "");
    EXPECT_LE(measure, s.most) << s.w << " x " << s.h << (s.compressed ? " compressed" : "");
  }
  std::vector<float> flat(static_cast<std::size_t>(kW) * kH, 77.0f);
  EXPECT_EQ(Measure(flat, kW, kH), 0.0);
}

}  // namespace
