// What a view shows of every kind of picture, read in place: at 100 % each
// pixel exactly as FreeImage converts the picture to 32 bits, and at 50 % the
// mean of the four pixels each screen pixel covers.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <cstring>

#include "TestImages.h"
#include "views/CEnlargerView.h"

namespace {

using testimages::Bitmap;

const QColor kGrey(192, 192, 192);

enum class Kind {
  Palette1,
  Palette4,
  Palette8,
  Palette8Transparent,
  Grey8,
  Rgb565,
  Grey16,
  Rgb16,
  Rgba16,
  RgbFloat,
  RgbaFloat,
  Float,
};

const char* const kKindNames[] = {"Palette1", "Palette4", "Palette8",  "Palette8Transparent",
                                  "Grey8",    "Rgb565",   "Grey16",    "Rgb16",
                                  "Rgba16",   "RgbFloat", "RgbaFloat", "Float"};

void PrintTo(Kind kind, std::ostream* os) { *os << kKindNames[static_cast<int>(kind)]; }

// Values that reach over each kind's whole range, differently per channel.
uint32_t Noise(int x, int y, int channel) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
               static_cast<uint32_t>(channel + 1) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return h ^ (h >> 15);
}

// Floating-point colour from below 0 to above 1, to show the clamping too.
float FloatNoise(int x, int y, int channel) {
  return static_cast<float>(Noise(x, y, channel) % 1401) / 1000.0f - 0.2f;
}

template <class T>
T* Pixels(FIBITMAP* bitmap, int y) {
  return reinterpret_cast<T*>(FreeImage_GetScanLine(bitmap, y));
}

Bitmap Make(Kind kind, int w, int h) {
  Bitmap b;
  switch (kind) {
    case Kind::Palette1:
    case Kind::Palette4:
    case Kind::Palette8:
    case Kind::Palette8Transparent:
    case Kind::Grey8: {
      const int bpp = kind == Kind::Palette1 ? 1 : kind == Kind::Palette4 ? 4 : 8;
      b.reset(FreeImage_Allocate(w, h, bpp));
      RGBQUAD* palette = FreeImage_GetPalette(b.get());
      BYTE alpha[256];
      for (int i = 0; i < (1 << bpp); ++i) {
        const bool grey = kind == Kind::Grey8;
        palette[i].rgbRed = static_cast<BYTE>(grey ? i : Noise(i, 0, 7));
        palette[i].rgbGreen = static_cast<BYTE>(grey ? i : Noise(i, 0, 8));
        palette[i].rgbBlue = static_cast<BYTE>(grey ? i : Noise(i, 0, 9));
        alpha[i] = static_cast<BYTE>(i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : Noise(i, 1, 1));
      }
      if (kind == Kind::Palette8Transparent) FreeImage_SetTransparencyTable(b.get(), alpha, 256);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          BYTE index = static_cast<BYTE>(Noise(x, y, 0) % (1u << bpp));
          FreeImage_SetPixelIndex(b.get(), x, y, &index);
        }
      }
      break;
    }
    case Kind::Rgb565:
      b.reset(
          FreeImage_Allocate(w, h, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK));
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) Pixels<WORD>(b.get(), y)[x] = static_cast<WORD>(Noise(x, y, 0));
      }
      break;
    case Kind::Grey16:
    case Kind::Rgb16:
    case Kind::Rgba16: {
      const int channels = kind == Kind::Grey16 ? 1 : kind == Kind::Rgb16 ? 3 : 4;
      const FREE_IMAGE_TYPE type = channels == 1   ? FIT_UINT16
                                   : channels == 3 ? FIT_RGB16
                                                   : FIT_RGBA16;
      b.reset(FreeImage_AllocateT(type, w, h, 16 * channels));
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w * channels; ++x) {
          Pixels<WORD>(b.get(), y)[x] = static_cast<WORD>(Noise(x, y, 1));
        }
      }
      break;
    }
    case Kind::RgbFloat:
    case Kind::RgbaFloat: {
      const int channels = kind == Kind::RgbFloat ? 3 : 4;
      b.reset(FreeImage_AllocateT(channels == 3 ? FIT_RGBF : FIT_RGBAF, w, h, 32 * channels));
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w * channels; ++x) Pixels<float>(b.get(), y)[x] = FloatNoise(x, y, 2);
      }
      break;
    }
    case Kind::Float:
      b.reset(FreeImage_AllocateT(FIT_FLOAT, w, h, 32));
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          Pixels<float>(b.get(), y)[x] = static_cast<float>(Noise(x, y, 3) % 100000) / 37.0f - 500;
        }
      }
      break;
  }
  return b;
}

uint8_t ClampedByte(float v) {
  if (v <= 0.0f) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

// FreeImage's 32-bit reading of picture, as the views have always shown it.
Bitmap Oracle(Kind kind, FIBITMAP* picture) {
  switch (kind) {
    case Kind::Grey16: {
      Bitmap grey(FreeImage_ConvertTo8Bits(picture));
      return Bitmap(FreeImage_ConvertTo32Bits(grey.get()));
    }
    case Kind::Float: {
      Bitmap grey(FreeImage_ConvertToStandardType(picture, TRUE));
      return Bitmap(FreeImage_ConvertTo32Bits(grey.get()));
    }
    case Kind::RgbFloat:
    case Kind::RgbaFloat: {
      // This FreeImage release converts no floating-point colour to bytes;
      // the views show each channel clamped to [0, 1], scaled and rounded,
      // as later releases of FreeImage do.
      const int w = static_cast<int>(FreeImage_GetWidth(picture));
      const int h = static_cast<int>(FreeImage_GetHeight(picture));
      const int channels = kind == Kind::RgbFloat ? 3 : 4;
      Bitmap out(FreeImage_Allocate(w, h, 32));
      for (int y = 0; y < h; ++y) {
        const float* in = Pixels<float>(picture, y);
        BYTE* p = FreeImage_GetScanLine(out.get(), y);
        for (int x = 0; x < w; ++x, in += channels, p += 4) {
          p[FI_RGBA_RED] = ClampedByte(in[0]);
          p[FI_RGBA_GREEN] = ClampedByte(in[1]);
          p[FI_RGBA_BLUE] = ClampedByte(in[2]);
          p[FI_RGBA_ALPHA] = channels == 4 ? ClampedByte(in[3]) : 255;
        }
      }
      return out;
    }
    default:
      return Bitmap(FreeImage_ConvertTo32Bits(picture));
  }
}

// What the screen shows of 32-bit colours, reduced by factor (1 or 2, the
// mean of each factor x factor block), drawn over the light grey.
QImage OnScreen(FIBITMAP* colours, int factor) {
  const int w = static_cast<int>(FreeImage_GetWidth(colours)) / factor;
  const int h = static_cast<int>(FreeImage_GetHeight(colours)) / factor;
  QImage image(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int sum[4] = {};
      for (int dy = 0; dy < factor; ++dy) {
        const int row = static_cast<int>(FreeImage_GetHeight(colours)) - 1 - (y * factor + dy);
        const BYTE* p = FreeImage_GetScanLine(colours, row) + 4 * x * factor;
        for (int dx = 0; dx < factor; ++dx, p += 4) {
          for (int c = 0; c < 4; ++c) sum[c] += p[c];
        }
      }
      const int n = factor * factor;
      const auto mean = [&](int c) { return (sum[c] + n / 2) / n; };
      image.setPixel(
          x, y,
          qRgba(mean(FI_RGBA_RED), mean(FI_RGBA_GREEN), mean(FI_RGBA_BLUE), mean(FI_RGBA_ALPHA)));
    }
  }
  // Transparent parts show a checkerboard of 8-pixel squares, light grey
  // (204) where the square's column and row add up to an even number,
  // white elsewhere.
  QImage screen(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      screen.setPixel(x, y, (x / 8 + y / 8) % 2 == 0 ? qRgb(204, 204, 204) : qRgb(255, 255, 255));
  QPainter(&screen).drawImage(0, 0, image);
  return screen;
}

bool WaitUntilReady(CEnlargerView& view) {
  for (int i = 0; i < 400 && !view.DisplayReady(); ++i) QTest::qWait(25);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  return view.DisplayReady();
}

// The number of pixels of the shown picture further than tolerance from
// want, in any channel; the first few are reported.
int Differences(const QImage& shot, const QImage& want, int tolerance) {
  int wrong = 0;
  for (int y = 0; y < want.height(); ++y) {
    for (int x = 0; x < want.width(); ++x) {
      const QRgb got = shot.pixel(x, y);
      const QRgb expected = want.pixel(x, y);
      if (std::abs(qRed(got) - qRed(expected)) > tolerance ||
          std::abs(qGreen(got) - qGreen(expected)) > tolerance ||
          std::abs(qBlue(got) - qBlue(expected)) > tolerance) {
        if (wrong++ < 3) {
          ADD_FAILURE() << "at " << x << "," << y << ": got " << QColor(got).name().toStdString()
                        << ", want " << QColor(expected).name().toStdString();
        }
      }
    }
  }
  return wrong;
}

class ShowsEveryKind : public testing::TestWithParam<Kind> {};

TEST_P(ShowsEveryKind, AsFreeImageConvertsItAtFullSizeAndHalved) {
  Bitmap picture = Make(GetParam(), 64, 48);
  ASSERT_TRUE(picture);
  Bitmap oracle = Oracle(GetParam(), picture.get());
  ASSERT_TRUE(oracle);
  CEnlargerView view;
  view.resize(200, 160);
  view.show();
  view.SetImage(picture.get());
  view.SetZoom(1.0);
  ASSERT_TRUE(WaitUntilReady(view));
  QImage shot = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(Differences(shot, OnScreen(oracle.get(), 1), 0), 0) << "at 100 %";
  EXPECT_EQ(QColor(shot.pixel(64, 10)), kGrey);

  view.SetZoom(0.5);
  ASSERT_TRUE(WaitUntilReady(view));
  shot = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(Differences(shot, OnScreen(oracle.get(), 2), 1), 0) << "at 50 %";
  EXPECT_EQ(QColor(shot.pixel(32, 10)), kGrey);
  view.SetImage(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ShowsEveryKind,
                         testing::Values(Kind::Palette1, Kind::Palette4, Kind::Palette8,
                                         Kind::Palette8Transparent, Kind::Grey8, Kind::Rgb565,
                                         Kind::Grey16, Kind::Rgb16, Kind::Rgba16, Kind::RgbFloat,
                                         Kind::RgbaFloat, Kind::Float),
                         [](const auto& info) {
                           return std::string(kKindNames[static_cast<int>(info.param)]);
                         });

// A picture whose alpha must be looked at first shows the light grey with a
// word that it is coming, at once, and the picture once it is known.
TEST(ViewPreparation, ShowsThatThePictureIsComingUntilItCanBeDrawn) {
  Bitmap picture(FreeImage_Allocate(400, 300, 32));
  for (int y = 0; y < 300; ++y) {
    BYTE* p = FreeImage_GetScanLine(picture.get(), y);
    for (int x = 0; x < 400; ++x, p += 4) {
      p[FI_RGBA_RED] = 20;
      p[FI_RGBA_GREEN] = 200;
      p[FI_RGBA_BLUE] = 90;
      p[FI_RGBA_ALPHA] = 255;
    }
  }
  CEnlargerView view;
  view.resize(300, 200);
  view.show();
  view.SetImage(picture.get());
  view.SetZoom(1.0);
  QImage canvas(view.viewport()->size(), QImage::Format_RGB32);
  canvas.fill(Qt::white);
  {
    QPainter painter(&canvas);
    view.Render(painter, canvas.rect());
  }
  EXPECT_FALSE(view.DisplayReady());
  EXPECT_EQ(QColor(canvas.pixel(0, 0)), kGrey);
  int dark = 0;
  for (int y = 0; y < canvas.height(); ++y) {
    for (int x = 0; x < canvas.width(); ++x) dark += qGray(canvas.pixel(x, y)) < 96;
  }
  EXPECT_GT(dark, 20) << "no text in the middle";

  ASSERT_TRUE(WaitUntilReady(view));
  {
    QPainter painter(&canvas);
    view.Render(painter, canvas.rect());
  }
  EXPECT_EQ(QColor(canvas.pixel(0, 0)), QColor(20, 200, 90));
  EXPECT_EQ(QColor(canvas.pixel(150, 100)), QColor(20, 200, 90));
  view.SetImage(nullptr);
}

}  // namespace
