#include "views/DisplayBitmap.h"

#include <algorithm>
#include <cstdint>

namespace views {
namespace {

bool IsStandardTrueColour(FIBITMAP* bitmap) {
  const unsigned bpp = FreeImage_GetBPP(bitmap);
  return FreeImage_GetImageType(bitmap) == FIT_BITMAP && (bpp == 24 || bpp == 32);
}

uint8_t ClampToByte(float v) {
  // NaN and values outside [0, 1] are held at the ends.
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

// Floating-point colour shown as is within [0, 1], as most such files hold.
FIBITMAP* FloatColourToBytes(FIBITMAP* bitmap, int channels) {
  const unsigned w = FreeImage_GetWidth(bitmap);
  const unsigned h = FreeImage_GetHeight(bitmap);
  FIBITMAP* out = FreeImage_Allocate(w, h, channels * 8);
  if (!out) return nullptr;
  for (unsigned y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const float*>(FreeImage_GetScanLine(bitmap, y));
    BYTE* dst = FreeImage_GetScanLine(out, y);
    for (unsigned x = 0; x < w; ++x, in += channels, dst += channels) {
      dst[FI_RGBA_RED] = ClampToByte(in[0]);
      dst[FI_RGBA_GREEN] = ClampToByte(in[1]);
      dst[FI_RGBA_BLUE] = ClampToByte(in[2]);
      if (channels == 4) dst[FI_RGBA_ALPHA] = ClampToByte(in[3]);
    }
  }
  return out;
}

FIBITMAP* ConvertThrough(FIBITMAP* intermediate) {
  if (!intermediate) return nullptr;
  FIBITMAP* out = FreeImage_ConvertTo32Bits(intermediate);
  FreeImage_Unload(intermediate);
  return out;
}

enum class Alpha { Unused0, Opaque, Varying };

Alpha ClassifyAlpha(FIBITMAP* bitmap) {
  const unsigned w = FreeImage_GetWidth(bitmap);
  const unsigned h = FreeImage_GetHeight(bitmap);
  const BYTE first = FreeImage_GetScanLine(bitmap, 0)[FI_RGBA_ALPHA];
  if (first != 0 && first != 255) return Alpha::Varying;
  for (unsigned y = 0; y < h; ++y) {
    const BYTE* p = FreeImage_GetScanLine(bitmap, y) + FI_RGBA_ALPHA;
    for (unsigned x = 0; x < w; ++x, p += 4) {
      if (*p != first) return Alpha::Varying;
    }
  }
  return first == 0 ? Alpha::Unused0 : Alpha::Opaque;
}

}  // namespace

FIBITMAP* StandardBitmap(FIBITMAP* bitmap, bool& owned) {
  owned = false;
  if (!bitmap || !FreeImage_HasPixels(bitmap)) return nullptr;
  if (IsStandardTrueColour(bitmap)) return bitmap;
  owned = true;
  switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP:
    case FIT_RGB16:
    case FIT_RGBA16:
      return FreeImage_ConvertTo32Bits(bitmap);
    case FIT_UINT16:
      // The high byte of each sample, the usual reading of 16-bit grey.
      return ConvertThrough(FreeImage_ConvertTo8Bits(bitmap));
    case FIT_RGBF:
      return FloatColourToBytes(bitmap, 3);
    case FIT_RGBAF:
      return FloatColourToBytes(bitmap, 4);
    default:
      // Signed, 32-bit, floating-point and complex samples have no fixed
      // range: they are stretched linearly over black to white.
      return ConvertThrough(FreeImage_ConvertToStandardType(bitmap, TRUE));
  }
}

QImage DrawableImage(FIBITMAP* standard) {
  if (!standard || FreeImage_GetWidth(standard) == 0 || FreeImage_GetHeight(standard) == 0) return {};
  const int w = static_cast<int>(FreeImage_GetWidth(standard));
  const int h = static_cast<int>(FreeImage_GetHeight(standard));
  const qsizetype pitch = FreeImage_GetPitch(standard);
  BYTE* bits = FreeImage_GetBits(standard);
  if (FreeImage_GetBPP(standard) == 24) return QImage(bits, w, h, pitch, QImage::Format_BGR888);
  switch (ClassifyAlpha(standard)) {
    case Alpha::Varying:
      return QImage(bits, w, h, pitch, QImage::Format_ARGB32);
    case Alpha::Opaque:
      return QImage(bits, w, h, pitch, QImage::Format_RGB32);
    case Alpha::Unused0:
      break;
  }
  // The painter relies on RGB32 pixels carrying 0xff in their top byte.
  QImage copy(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const uint32_t*>(bits + y * pitch);
    auto* out = reinterpret_cast<uint32_t*>(copy.scanLine(y));
    for (int x = 0; x < w; ++x) out[x] = in[x] | 0xff000000u;
  }
  return copy;
}

}  // namespace views
