#include "TestImages.h"

namespace testimages {
namespace {

const QColor kColours[4] = {QColor(200, 30, 30), QColor(30, 200, 30), QColor(30, 30, 200),
                            QColor(220, 220, 40)};
const int kGreys[4] = {0x20, 0x60, 0xA0, 0xE0};

int QuadrantAt(int x, int y, int width, int height) {
  return (x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0);
}

// FreeImage keeps the bottom row first.
BYTE* Row(FIBITMAP* bitmap, int topDownY) {
  return FreeImage_GetScanLine(bitmap, FreeImage_GetHeight(bitmap) - 1 - topDownY);
}

void SetPalette(FIBITMAP* bitmap, int count) {
  RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  for (int i = 0; i < count; ++i) {
    palette[i].rgbRed = static_cast<BYTE>(kColours[i].red());
    palette[i].rgbGreen = static_cast<BYTE>(kColours[i].green());
    palette[i].rgbBlue = static_cast<BYTE>(kColours[i].blue());
  }
}

}  // namespace

std::string KindName(Kind kind) {
  static const char* const names[] = {"Rgb24",
                                      "Bgra32Opaque",
                                      "Bgra32Translucent",
                                      "Bgra32AlphaUnused",
                                      "Palette8",
                                      "Palette4",
                                      "Palette1",
                                      "Rgb565",
                                      "Grey16",
                                      "Rgb48",
                                      "Rgba64",
                                      "RgbFloat"};
  return names[static_cast<int>(kind)];
}

Bitmap Quadrants(Kind kind, int w, int h) {
  FIBITMAP* b = nullptr;
  switch (kind) {
    case Kind::Rgb24:
    case Kind::Bgra32Opaque:
    case Kind::Bgra32Translucent:
    case Kind::Bgra32AlphaUnused: {
      const int bpp = kind == Kind::Rgb24 ? 24 : 32;
      b = FreeImage_Allocate(w, h, bpp);
      for (int y = 0; y < h; ++y) {
        BYTE* p = Row(b, y);
        for (int x = 0; x < w; ++x, p += bpp / 8) {
          const int q = QuadrantAt(x, y, w, h);
          p[FI_RGBA_RED] = static_cast<BYTE>(kColours[q].red());
          p[FI_RGBA_GREEN] = static_cast<BYTE>(kColours[q].green());
          p[FI_RGBA_BLUE] = static_cast<BYTE>(kColours[q].blue());
          if (bpp == 32) {
            p[FI_RGBA_ALPHA] = kind == Kind::Bgra32AlphaUnused             ? 0
                               : kind == Kind::Bgra32Translucent && q == 0 ? 0
                                                                           : 255;
          }
        }
      }
      break;
    }
    case Kind::Palette8:
    case Kind::Palette4:
    case Kind::Palette1: {
      const int bpp = kind == Kind::Palette8 ? 8 : kind == Kind::Palette4 ? 4 : 1;
      b = FreeImage_Allocate(w, h, bpp);
      SetPalette(b, bpp == 1 ? 2 : 4);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const int q = QuadrantAt(x, y, w, h);
          BYTE index = static_cast<BYTE>(bpp == 1 ? q & 1 : q);
          FreeImage_SetPixelIndex(b, x, h - 1 - y, &index);
        }
      }
      break;
    }
    case Kind::Rgb565: {
      b = FreeImage_Allocate(w, h, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK);
      for (int y = 0; y < h; ++y) {
        auto* p = reinterpret_cast<WORD*>(Row(b, y));
        for (int x = 0; x < w; ++x) {
          const QColor& c = kColours[QuadrantAt(x, y, w, h)];
          p[x] = static_cast<WORD>(((c.red() >> 3) << FI16_565_RED_SHIFT) |
                                   ((c.green() >> 2) << FI16_565_GREEN_SHIFT) |
                                   ((c.blue() >> 3) << FI16_565_BLUE_SHIFT));
        }
      }
      break;
    }
    case Kind::Grey16: {
      b = FreeImage_AllocateT(FIT_UINT16, w, h, 16);
      for (int y = 0; y < h; ++y) {
        auto* p = reinterpret_cast<WORD*>(Row(b, y));
        for (int x = 0; x < w; ++x)
          p[x] = static_cast<WORD>(kGreys[QuadrantAt(x, y, w, h)] << 8 | 0x7f);
      }
      break;
    }
    case Kind::Rgb48:
    case Kind::Rgba64: {
      const bool alpha = kind == Kind::Rgba64;
      b = FreeImage_AllocateT(alpha ? FIT_RGBA16 : FIT_RGB16, w, h, alpha ? 64 : 48);
      for (int y = 0; y < h; ++y) {
        auto* p = reinterpret_cast<WORD*>(Row(b, y));
        for (int x = 0; x < w; ++x, p += alpha ? 4 : 3) {
          const QColor& c = kColours[QuadrantAt(x, y, w, h)];
          p[0] = static_cast<WORD>(c.red() * 257);
          p[1] = static_cast<WORD>(c.green() * 257);
          p[2] = static_cast<WORD>(c.blue() * 257);
          if (alpha) p[3] = 0xffff;
        }
      }
      break;
    }
    case Kind::RgbFloat: {
      b = FreeImage_AllocateT(FIT_RGBF, w, h, 96);
      for (int y = 0; y < h; ++y) {
        auto* p = reinterpret_cast<float*>(Row(b, y));
        for (int x = 0; x < w; ++x, p += 3) {
          const QColor& c = kColours[QuadrantAt(x, y, w, h)];
          p[0] = c.red() / 255.0f;
          p[1] = c.green() / 255.0f;
          p[2] = c.blue() / 255.0f;
        }
      }
      break;
    }
  }
  return Bitmap(b);
}

QColor ExpectedQuadrant(Kind kind, int q) {
  switch (kind) {
    case Kind::Bgra32Translucent:
      // The transparent quadrant shows the checkerboard's first square.
      return q == 0 ? QColor(204, 204, 204) : kColours[q];
    case Kind::Palette1:
      return kColours[q & 1];
    case Kind::Grey16:
      return QColor(kGreys[q], kGreys[q], kGreys[q]);
    default:
      return kColours[q];
  }
}

QColor ExpectedQuadrantAt(Kind kind, int q, int x, int y) {
  if (kind != Kind::Bgra32Translucent || q != 0) return ExpectedQuadrant(kind, q);
  return (x / 8 + y / 8) % 2 == 0 ? QColor(204, 204, 204) : QColor(255, 255, 255);
}

int Tolerance(Kind kind) { return kind == Kind::Rgb565 ? 8 : 2; }

Bitmap Coordinates(int width, int height) {
  FIBITMAP* b = FreeImage_Allocate(width, height, 24);
  for (int y = 0; y < height; ++y) {
    BYTE* p = Row(b, y);
    for (int x = 0; x < width; ++x, p += 3) {
      const QColor c = CoordinateColour(x, y);
      p[FI_RGBA_RED] = static_cast<BYTE>(c.red());
      p[FI_RGBA_GREEN] = static_cast<BYTE>(c.green());
      p[FI_RGBA_BLUE] = static_cast<BYTE>(c.blue());
    }
  }
  return Bitmap(b);
}

QColor CoordinateColour(int x, int y) { return QColor(x % 256, y % 256, 16 * (x / 256) + y / 256); }

}  // namespace testimages
