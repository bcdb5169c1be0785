// The reduction against FreeImage's own Lanczos3 rescale, the oracle, on
// photo-like pictures in every bitmap type FreeImage rescales.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "resize/LanczosReduction.h"

namespace {

class FreeImageScope : public testing::Environment {
 public:
  void SetUp() override { FreeImage_Initialise(FALSE); }
  void TearDown() override { FreeImage_DeInitialise(); }
};
const auto* const kScope = testing::AddGlobalTestEnvironment(new FreeImageScope);

// Smooth shading, fine texture, sensor noise and hard edges: what a photo has.
FIBITMAP* MakePhoto(int width, int height) {
  FIBITMAP* dib = FreeImage_Allocate(width, height, 24);
  std::mt19937 noise(7);
  std::normal_distribution<double> grain(0, 6);
  for (int y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(dib, y);
    for (int x = 0; x < width; ++x) {
      const bool inBox = x > width / 4 && x < width / 2 && y > height / 3 && y < height * 3 / 4;
      for (int c = 0; c < 3; ++c) {
        double v = 128 + 90 * std::sin(x / (9.0 + 4 * c)) * std::cos(y / (13.0 - 3 * c)) +
                   25 * std::sin((x + y) / 2.1) + grain(noise);
        if (inBox) v = c == 1 ? 250 : 5;
        row[x * 3 + c] = static_cast<BYTE>(std::clamp(static_cast<int>(v), 0, 255));
      }
    }
  }
  return dib;
}

FIBITMAP* WithAlpha(FIBITMAP* photo) {
  FIBITMAP* dib = FreeImage_ConvertTo32Bits(photo);
  for (unsigned y = 0; y < FreeImage_GetHeight(dib); ++y) {
    BYTE* row = FreeImage_GetScanLine(dib, static_cast<int>(y));
    for (unsigned x = 0; x < FreeImage_GetWidth(dib); ++x)
      row[x * 4 + 3] = static_cast<BYTE>((x * 7 + y * 3) % 256 < 128 ? 255 : (x * y) % 256);
  }
  return dib;
}

FIBITMAP* Transparent8(FIBITMAP* photo) {
  FIBITMAP* dib = FreeImage_ColorQuantize(photo, FIQ_WUQUANT);
  BYTE table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<BYTE>(i * 5);
  FreeImage_SetTransparencyTable(dib, table, 256);
  return dib;
}

FIBITMAP* MinIsWhite(FIBITMAP* photo) {
  FIBITMAP* dib = FreeImage_ConvertToGreyscale(photo);
  RGBQUAD* pal = FreeImage_GetPalette(dib);
  for (int i = 0; i < 256; ++i) {
    const BYTE v = static_cast<BYTE>(255 - i);
    pal[i] = {v, v, v, 0};
  }
  return dib;
}

struct Case {
  const char* name;
  FIBITMAP* (*make)(FIBITMAP* photo);
  int width, height, percent;
  double tolerance;  // per sample, in the type's own units
};

// Compares the samples of two bitmaps of one type, memory order, bottom row first.
double LargestDifference(FIBITMAP* a, FIBITMAP* b) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(a);
  const unsigned samplesPerRow = FreeImage_GetWidth(a) *
                                 (type == FIT_BITMAP ? FreeImage_GetBPP(a) / 8 : 1) *
                                 (type == FIT_RGB16 || type == FIT_RGBF     ? 3
                                  : type == FIT_RGBA16 || type == FIT_RGBAF ? 4
                                                                            : 1);
  double largest = 0;
  for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y) {
    const BYTE* ra = FreeImage_GetScanLine(a, static_cast<int>(y));
    const BYTE* rb = FreeImage_GetScanLine(b, static_cast<int>(y));
    for (unsigned s = 0; s < samplesPerRow; ++s) {
      double va = 0;
      double vb = 0;
      if (type == FIT_BITMAP) {
        va = ra[s];
        vb = rb[s];
      } else if (type == FIT_UINT16 || type == FIT_RGB16 || type == FIT_RGBA16) {
        va = reinterpret_cast<const WORD*>(ra)[s];
        vb = reinterpret_cast<const WORD*>(rb)[s];
      } else {
        va = reinterpret_cast<const float*>(ra)[s];
        vb = reinterpret_cast<const float*>(rb)[s];
      }
      largest = std::max(largest, std::fabs(va - vb));
    }
  }
  return largest;
}

class LanczosReduction : public testing::TestWithParam<Case> {};

TEST_P(LanczosReduction, GivesFreeImagesPixels) {
  const Case& c = GetParam();
  FIBITMAP* photo = MakePhoto(c.width, c.height);
  FIBITMAP* source = c.make(photo);
  ASSERT_NE(source, nullptr);
  const int width = c.width * c.percent / 100;
  const int height = c.height * c.percent / 100;
  FIBITMAP* expected = FreeImage_Rescale(source, width, height, FILTER_LANCZOS3);
  int reports = 0;
  FIBITMAP* made = resize::LanczosReduce(source, width, height, [&](int share) {
    EXPECT_GE(share, 0);
    EXPECT_LE(share, 255);
    ++reports;
    return false;
  });
  ASSERT_NE(expected, nullptr);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(FreeImage_GetImageType(made), FreeImage_GetImageType(expected));
  EXPECT_EQ(FreeImage_GetBPP(made), FreeImage_GetBPP(expected));
  EXPECT_EQ(FreeImage_GetColorType(made), FreeImage_GetColorType(expected));
  ASSERT_EQ(FreeImage_GetWidth(made), FreeImage_GetWidth(expected));
  ASSERT_EQ(FreeImage_GetHeight(made), FreeImage_GetHeight(expected));
  EXPECT_LE(LargestDifference(made, expected), c.tolerance);
  if (FreeImage_GetBPP(made) == 8) {
    EXPECT_EQ(std::memcmp(FreeImage_GetPalette(made), FreeImage_GetPalette(expected), 1024), 0);
  }
  FreeImage_Unload(made);
  FreeImage_Unload(expected);
  if (source != photo) FreeImage_Unload(source);
  FreeImage_Unload(photo);
}

FIBITMAP* Same(FIBITMAP* p) { return p; }
FIBITMAP* Grey(FIBITMAP* p) { return FreeImage_ConvertToGreyscale(p); }
FIBITMAP* Palette8(FIBITMAP* p) { return FreeImage_ColorQuantize(p, FIQ_WUQUANT); }
FIBITMAP* Palette4(FIBITMAP* p) { return FreeImage_ConvertTo4Bits(p); }
FIBITMAP* Bits1(FIBITMAP* p) { return FreeImage_Threshold(p, 128); }
FIBITMAP* Rgb565(FIBITMAP* p) { return FreeImage_ConvertTo16Bits565(p); }
FIBITMAP* Rgb555(FIBITMAP* p) { return FreeImage_ConvertTo16Bits555(p); }
FIBITMAP* Uint16(FIBITMAP* p) { return FreeImage_ConvertToUINT16(p); }
FIBITMAP* Rgb16(FIBITMAP* p) { return FreeImage_ConvertToRGB16(p); }
FIBITMAP* Rgba16(FIBITMAP* p) {
  FIBITMAP* alpha = WithAlpha(p);
  FIBITMAP* out = FreeImage_ConvertToRGBA16(alpha);
  FreeImage_Unload(alpha);
  return out;
}
FIBITMAP* Float1(FIBITMAP* p) { return FreeImage_ConvertToFloat(p); }
FIBITMAP* RgbF(FIBITMAP* p) { return FreeImage_ConvertToRGBF(p); }
FIBITMAP* RgbaF(FIBITMAP* p) {
  FIBITMAP* alpha = WithAlpha(p);
  FIBITMAP* out = FreeImage_ConvertToRGBAF(alpha);
  FreeImage_Unload(alpha);
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, LanczosReduction,
    testing::Values(
        Case{"Rgb24At99", Same, 301, 203, 99, 1}, Case{"Rgb24At50", Same, 300, 200, 50, 1},
        Case{"Rgb24At33", Same, 257, 311, 33, 1}, Case{"Rgb24At1", Same, 640, 480, 1, 1},
        Case{"Rgba32At67", WithAlpha, 199, 151, 67, 1}, Case{"Grey8At75", Grey, 210, 170, 75, 1},
        Case{"MinIsWhite8At40", MinIsWhite, 210, 170, 40, 1},
        Case{"Palette8At50", Palette8, 220, 160, 50, 1},
        Case{"Transparent8At60", Transparent8, 220, 160, 60, 1},
        Case{"Palette4At50", Palette4, 200, 150, 50, 1}, Case{"Bits1At45", Bits1, 203, 149, 45, 1},
        Case{"Rgb565At50", Rgb565, 180, 120, 50, 1}, Case{"Rgb555At70", Rgb555, 180, 120, 70, 1},
        Case{"Uint16At50", Uint16, 160, 140, 50, 1}, Case{"Rgb16At80", Rgb16, 160, 140, 80, 1},
        Case{"Rgba16At50", Rgba16, 160, 140, 50, 1}, Case{"FloatAt50", Float1, 160, 140, 50, 1e-5},
        Case{"RgbFAt66", RgbF, 160, 140, 66, 1e-5}, Case{"RgbaFAt50", RgbaF, 160, 140, 50, 1e-5}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(LanczosReductionStop, StoppedAtTheFirstStripGivesNothing) {
  FIBITMAP* photo = MakePhoto(900, 900);
  int reports = 0;
  FIBITMAP* made = resize::LanczosReduce(photo, 891, 891, [&](int) {
    ++reports;
    return true;
  });
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(reports, 1);
  FreeImage_Unload(photo);
}

}  // namespace
