// The noise reading against noise of known deviation, and against texture
// that must not be taken for noise.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/Noise.h"

namespace {

struct Picture {
  int w, h;
  std::vector<float> luma, blue, red;
};

// Reads a picture of w x h pixels whose colour `rgb(x, y, r, g, b)` gives.
template <typename Rgb>
double Read(int w, int h, Rgb rgb) {
  Picture p{w, h, {}, {}, {}};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      float r, g, b;
      rgb(x, y, r, g, b);
      const float l = 0.299f * r + 0.587f * g + 0.114f * b;
      p.luma.push_back(l);
      p.blue.push_back(b - l);
      p.red.push_back(r - l);
    }
  }
  ampliscale::NoiseMeter meter(ampliscale::Plane{p.luma.data(), w, h},
                               [&](int row, float* blue, float* red) {
                                 std::copy_n(p.blue.data() + row * w, w, blue);
                                 std::copy_n(p.red.data() + row * w, w, red);
                               });
  for (int c = 0; c < meter.Chunks(); ++c) meter.Measure(c);
  return meter.Sigma();
}

class NoiseReading : public testing::TestWithParam<double> {};

// Independent noise of deviation s in each colour channel has deviation
// s * |(0.299, 0.587, 0.114)| in luma, on ground that is flat or a gentle ramp.
TEST_P(NoiseReading, TellsTheNoiseOfAFlatPicture) {
  const double s = GetParam();
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.0f, static_cast<float>(s));
  const double sigma = Read(300, 200, [&](int x, int y, float& r, float& g, float& b) {
    r = 120.0f + 0.1f * x + noise(random);
    g = 130.0f + 0.05f * y + noise(random);
    b = 140.0f + noise(random);
  });
  const double luma = s * std::sqrt(0.299 * 0.299 + 0.587 * 0.587 + 0.114 * 0.114);
  EXPECT_NEAR(sigma, luma, 0.12 * luma + 0.07) << s;
}

INSTANTIATE_TEST_SUITE_P(Deviations, NoiseReading, testing::Values(0.0, 1.0, 3.0, 6.0));

// Strong fine texture in luma alone, as grass or gravel show, and a picture
// without colour at all: their chroma carries no noise, so neither reads as noisy.
TEST(NoiseReading, TextureWithoutNoiseInItsColourIsClean) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> texture(-40.0f, 40.0f);
  const double coloured = Read(300, 200, [&](int, int, float& r, float& g, float& b) {
    const float t = texture(random);
    r = 100.0f + t;
    g = 120.0f + t;
    b = 90.0f + t;
  });
  const double grey = Read(300, 200, [&](int, int, float& r, float& g, float& b) {
    r = g = b = 128.0f + texture(random);
  });
  EXPECT_LT(coloured, 0.1);
  EXPECT_LT(grey, 0.1);
}

// A picture so small that colour detail fills every segment (a photograph
// enlarged from 64 pixels across) has no quiet ground to read: without noise
// it reads as clean, not as the noisy colour that its detail resembles.
TEST(NoiseReading, SmallPictureFullOfDetailIsClean) {
  std::mt19937 random(13);
  std::uniform_real_distribution<float> detail(-30.0f, 30.0f);
  const double sigma = Read(64, 48, [&](int, int, float& r, float& g, float& b) {
    r = 130.0f + detail(random);
    g = 120.0f + detail(random);
    b = 110.0f + detail(random);
  });
  EXPECT_EQ(sigma, 0.0);
}

}  // namespace
