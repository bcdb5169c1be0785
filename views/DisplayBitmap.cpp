#include "views/DisplayBitmap.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

// Blue, green, red in memory is 0x..RRGGBB read as a little-endian word.
void Bgr24ToRgb32Plain(const uchar* p, uint32_t* dst, int width) {
  for (int x = 0; x < width; ++x, p += 3) {
    dst[x] = 0xff000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per shuffle; each 16-byte load uses 12 bytes, so the loop stops
// early enough that no load passes the end of the row.
__attribute__((target("ssse3"))) void Bgr24ToRgb32Ssse3(const uchar* p, uint32_t* dst, int width) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
  int x = 0;
  for (; x + 6 <= width; x += 4, p += 12) {
    const __m128i bgr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x),
                     _mm_or_si128(_mm_shuffle_epi8(bgr, spread), opaque));
  }
  Bgr24ToRgb32Plain(p, dst + x, width - x);
}

void Bgr24ToRgb32(const uchar* p, uint32_t* dst, int width) {
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) {
    Bgr24ToRgb32Ssse3(p, dst, width);
  } else {
    Bgr24ToRgb32Plain(p, dst, width);
  }
}
#else
void Bgr24ToRgb32(const uchar* p, uint32_t* dst, int width) { Bgr24ToRgb32Plain(p, dst, width); }
#endif

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
  if (!standard || FreeImage_GetWidth(standard) == 0 || FreeImage_GetHeight(standard) == 0)
    return {};
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

namespace {

QImage::Format ShownFormat(const QImage& picture) {
  return picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
}

// Pixels [left, left + width) of one stored row as RGB32, or premultiplied
// ARGB32 for a picture with alpha.
void ConvertRow(const QImage& picture, int storedRow, int left, int width, uint32_t* dst) {
  const uchar* in = picture.constScanLine(storedRow);
  switch (picture.format()) {
    case QImage::Format_BGR888:
      Bgr24ToRgb32(in + 3 * left, dst, width);
      break;
    case QImage::Format_ARGB32: {
      const auto* p = reinterpret_cast<const QRgb*>(in) + left;
      for (int x = 0; x < width; ++x) dst[x] = qPremultiply(p[x]);
      break;
    }
    default:  // RGB32
      std::copy_n(reinterpret_cast<const uint32_t*>(in) + left, width, dst);
      break;
  }
}

// Single pixels of one stored row, by column, in ConvertRow's formats.
void PickPixels(const QImage& picture, int storedRow, std::span<const int> columns, uint32_t* dst) {
  const uchar* in = picture.constScanLine(storedRow);
  const auto* words = reinterpret_cast<const QRgb*>(in);
  const size_t n = columns.size();
  switch (picture.format()) {
    case QImage::Format_BGR888:
      for (size_t i = 0; i < n; ++i) {
        const uchar* p = in + 3 * columns[i];
        dst[i] = 0xff000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
      }
      break;
    case QImage::Format_ARGB32:
      for (size_t i = 0; i < n; ++i) dst[i] = qPremultiply(words[columns[i]]);
      break;
    default:  // RGB32
      for (size_t i = 0; i < n; ++i) dst[i] = words[columns[i]];
      break;
  }
}

}  // namespace

void Sample(const QImage& picture, bool bottomUp, std::span<const int> columns,
            std::span<const int> rows, QImage& out) {
  const QSize size(static_cast<int>(columns.size()), static_cast<int>(rows.size()));
  const QImage::Format format = ShownFormat(picture);
  if (out.size() != size || out.format() != format) out = QImage(size, format);
  if (out.isNull() || size.isEmpty()) return;
  const int left = columns.front();
  const int span = columns.back() - left + 1;
  // Consecutive columns (a picture shown 1:1) are converted straight into
  // place; columns that repeat (a picture enlarged) are converted once and
  // then picked from; columns far apart (a picture reduced) are picked alone.
  const bool consecutive = span == size.width();
  const bool sparse = span > size.width();
  std::vector<uint32_t> converted(consecutive || sparse ? 0 : span);
  for (int j = 0; j < size.height(); ++j) {
    auto* dst = reinterpret_cast<uint32_t*>(out.scanLine(j));
    if (j > 0 && rows[j] == rows[j - 1]) {
      std::copy_n(reinterpret_cast<const uint32_t*>(out.constScanLine(j - 1)), size.width(), dst);
      continue;
    }
    const int stored = bottomUp ? picture.height() - 1 - rows[j] : rows[j];
    if (consecutive) {
      ConvertRow(picture, stored, left, span, dst);
      continue;
    }
    if (sparse) {
      PickPixels(picture, stored, columns, dst);
      continue;
    }
    ConvertRow(picture, stored, left, span, converted.data());
    for (int i = 0; i < size.width(); ++i) dst[i] = converted[columns[i] - left];
  }
}

}  // namespace views
