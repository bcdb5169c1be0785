#include "views/DisplayBitmap.h"

#include <QColor>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#include "views/DisplayMemory.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace views {
namespace {

struct BitmapDeleter {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

template <class T>
T Load(const uint8_t* row, int index) {
  T value;
  std::memcpy(&value, row + static_cast<ptrdiff_t>(index) * sizeof(T), sizeof(T));
  return value;
}

// The colours of a converted one-row bitmap, as ARGB words.
std::vector<uint32_t> ColoursOf(Bitmap converted) {
  if (!converted || FreeImage_GetBPP(converted.get()) != 32) return {};
  const unsigned width = FreeImage_GetWidth(converted.get());
  const BYTE* p = FreeImage_GetScanLine(converted.get(), 0);
  std::vector<uint32_t> colours(width);
  for (unsigned x = 0; x < width; ++x, p += 4) {
    colours[x] = qRgba(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE], p[FI_RGBA_ALPHA]);
  }
  return colours;
}

// Every colour of a palette picture, by index, as FreeImage converts it to
// 32 bits: its palette and transparency on a row of all the indices.
std::vector<uint32_t> PaletteColours(FIBITMAP* bitmap) {
  const unsigned bpp = FreeImage_GetBPP(bitmap);
  const unsigned count = 1u << bpp;
  Bitmap row(FreeImage_Allocate(static_cast<int>(count), 1, static_cast<int>(bpp)));
  const RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  if (!row || !palette || !FreeImage_GetPalette(row.get())) return {};
  std::memcpy(FreeImage_GetPalette(row.get()), palette,
              std::min(count, FreeImage_GetColorsUsed(bitmap)) * sizeof(RGBQUAD));
  FreeImage_SetTransparencyTable(row.get(), FreeImage_GetTransparencyTable(bitmap),
                                 FreeImage_GetTransparencyCount(bitmap));
  FreeImage_SetTransparent(row.get(), FreeImage_IsTransparent(bitmap));
  for (unsigned i = 0; i < count; ++i) {
    BYTE index = static_cast<BYTE>(i);
    FreeImage_SetPixelIndex(row.get(), i, 0, &index);
  }
  return ColoursOf(Bitmap(FreeImage_ConvertTo32Bits(row.get())));
}

// A row of every 16-bit value (every channel of a pixel holding it), made
// like bitmap.
Bitmap AllWords(FIBITMAP* bitmap) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  Bitmap row(FreeImage_AllocateT(type, 65536, 1, static_cast<int>(FreeImage_GetBPP(bitmap)),
                                 FreeImage_GetRedMask(bitmap), FreeImage_GetGreenMask(bitmap),
                                 FreeImage_GetBlueMask(bitmap)));
  if (!row) return row;
  const unsigned channels = FreeImage_GetBPP(bitmap) / 16;
  auto* words = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(row.get(), 0));
  for (unsigned v = 0; v < 65536; ++v) {
    for (unsigned c = 0; c < channels; ++c) words[v * channels + c] = static_cast<uint16_t>(v);
  }
  return row;
}

// The colour FreeImage gives every value of a 16-bit colour or grey bitmap.
std::vector<uint32_t> WordColours(FIBITMAP* bitmap) {
  Bitmap row = AllWords(bitmap);
  if (!row) return {};
  if (FreeImage_GetImageType(bitmap) == FIT_BITMAP) {
    return ColoursOf(Bitmap(FreeImage_ConvertTo32Bits(row.get())));
  }
  // 16-bit grey through FreeImage's 8-bit reading: the high byte of each sample.
  Bitmap grey(FreeImage_ConvertTo8Bits(row.get()));
  return grey ? ColoursOf(Bitmap(FreeImage_ConvertTo32Bits(grey.get()))) : std::vector<uint32_t>{};
}

// The byte FreeImage gives every value of a channel of 16-bit RGB(A).
std::vector<uint8_t> ChannelBytes(FIBITMAP* bitmap) {
  Bitmap row = AllWords(bitmap);
  const std::vector<uint32_t> colours =
      row ? ColoursOf(Bitmap(FreeImage_ConvertTo32Bits(row.get()))) : std::vector<uint32_t>{};
  std::vector<uint8_t> bytes(colours.size());
  for (size_t v = 0; v < colours.size(); ++v) bytes[v] = static_cast<uint8_t>(qRed(colours[v]));
  return bytes;
}

std::vector<uint32_t> GreyRamp() {
  std::vector<uint32_t> ramp(256);
  for (int i = 0; i < 256; ++i) ramp[i] = qRgb(i, i, i);
  return ramp;
}

uint8_t FloatByte(float v) {
  // NaN and values outside [0, 1] are held at the ends.
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

// Blue, green, red in memory is 0x..RRGGBB read as a little-endian word.
void Bgr24ToRgb32Plain(const uint8_t* p, uint32_t* dst, int width) {
  for (int x = 0; x < width; ++x, p += 3) {
    dst[x] = 0xff000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per shuffle; each 16-byte load uses 12 bytes, so the loop stops
// early enough that no load passes the end of the row.
__attribute__((target("ssse3"))) void Bgr24ToRgb32Ssse3(const uint8_t* p, uint32_t* dst,
                                                        int width) {
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

void Bgr24ToRgb32(const uint8_t* p, uint32_t* dst, int width) {
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) {
    Bgr24ToRgb32Ssse3(p, dst, width);
  } else {
    Bgr24ToRgb32Plain(p, dst, width);
  }
}
#else
void Bgr24ToRgb32(const uint8_t* p, uint32_t* dst, int width) { Bgr24ToRgb32Plain(p, dst, width); }
#endif

}  // namespace

std::shared_ptr<DisplayBitmap> DisplayBitmap::Of(FIBITMAP* bitmap) {
  if (!bitmap || !FreeImage_HasPixels(bitmap)) return nullptr;
  std::shared_ptr<DisplayBitmap> display(new DisplayBitmap);
  display->m_width = static_cast<int>(FreeImage_GetWidth(bitmap));
  display->m_height = static_cast<int>(FreeImage_GetHeight(bitmap));
  if (display->m_width <= 0 || display->m_height <= 0) return nullptr;
  display->m_top = FreeImage_GetScanLine(bitmap, display->m_height - 1);
  display->m_pitch = -static_cast<ptrdiff_t>(FreeImage_GetPitch(bitmap));
  display->m_reducedBytes = ReducedBytesPerPixel(bitmap);
  if (!display->Describe(bitmap)) return nullptr;
  return display;
}

bool DisplayBitmap::Describe(FIBITMAP* bitmap) {
  const unsigned bpp = FreeImage_GetBPP(bitmap);
  switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP:
      switch (bpp) {
        case 24:
          m_layout = Layout::Bgr24;
          m_direct = true;
          return true;
        case 32:
          m_layout = Layout::Bgra32;
          m_direct = true;
          m_needsSurvey = true;
          return true;
        case 16:
          m_layout = Layout::Word16;
          m_table = WordColours(bitmap);
          return m_table.size() == 65536;
        case 8:
        case 4:
        case 1:
          m_layout = bpp == 8 ? Layout::Index8 : bpp == 4 ? Layout::Index4 : Layout::Index1;
          m_table = PaletteColours(bitmap);
          if (m_table.size() != (1u << bpp)) return false;
          // Whether transparency is used depends on the indices used.
          m_needsSurvey = std::any_of(m_table.begin(), m_table.end(),
                                      [](uint32_t c) { return qAlpha(c) != 255; });
          m_direct = bpp == 8 && m_reducedBytes == 1 && m_table == GreyRamp();
          return true;
        default:
          return false;
      }
    case FIT_UINT16:
      m_layout = Layout::Word16;
      m_table = WordColours(bitmap);
      return m_table.size() == 65536;
    case FIT_RGB16:
    case FIT_RGBA16:
      m_layout = bpp == 64 ? Layout::Rgba16 : Layout::Rgb16;
      m_needsSurvey = bpp == 64;
      m_channel = ChannelBytes(bitmap);
      return m_channel.size() == 65536;
    case FIT_RGBF:
      m_layout = Layout::RgbF;
      return true;
    case FIT_RGBAF:
      m_layout = Layout::RgbaF;
      m_needsSurvey = true;
      return true;
    case FIT_INT16:
      m_layout = Layout::Int16;
      break;
    case FIT_UINT32:
      m_layout = Layout::Uint32;
      break;
    case FIT_INT32:
      m_layout = Layout::Int32;
      break;
    case FIT_FLOAT:
      m_layout = Layout::Float;
      break;
    case FIT_DOUBLE:
      m_layout = Layout::Double;
      break;
    case FIT_COMPLEX:
      m_layout = Layout::Complex;
      break;
    default:
      return false;
  }
  m_needsSurvey = true;  // the range to stretch
  return true;
}

std::shared_ptr<DisplayBitmap> DisplayBitmap::OfCopy(QImage copy, const DisplayBitmap& source) {
  std::shared_ptr<DisplayBitmap> display(new DisplayBitmap);
  display->m_copy = std::move(copy);
  const QImage& pixels = display->m_copy;
  display->m_width = pixels.width();
  display->m_height = pixels.height();
  display->m_top = pixels.constBits();
  display->m_pitch = static_cast<ptrdiff_t>(pixels.bytesPerLine());
  display->m_reducedBytes = source.m_reducedBytes;
  display->m_direct = true;
  display->m_survey = source.m_survey;
  switch (pixels.format()) {
    case QImage::Format_Grayscale8:
      display->m_layout = Layout::Index8;
      display->m_table = GreyRamp();
      break;
    case QImage::Format_BGR888:
      display->m_layout = Layout::Bgr24;
      break;
    default:
      display->m_layout = Layout::Bgra32;
      break;
  }
  return display;
}

template <class Fn>
void DisplayBitmap::Dispatch(Fn&& fn) const {
  switch (m_layout) {
    case Layout::Bgr24:
      return fn(Tag<Layout::Bgr24>{});
    case Layout::Bgra32:
      return fn(Tag<Layout::Bgra32>{});
    case Layout::Index8:
      return fn(Tag<Layout::Index8>{});
    case Layout::Index4:
      return fn(Tag<Layout::Index4>{});
    case Layout::Index1:
      return fn(Tag<Layout::Index1>{});
    case Layout::Word16:
      return fn(Tag<Layout::Word16>{});
    case Layout::Rgb16:
      return fn(Tag<Layout::Rgb16>{});
    case Layout::Rgba16:
      return fn(Tag<Layout::Rgba16>{});
    case Layout::RgbF:
      return fn(Tag<Layout::RgbF>{});
    case Layout::RgbaF:
      return fn(Tag<Layout::RgbaF>{});
    case Layout::Int16:
      return fn(Tag<Layout::Int16>{});
    case Layout::Uint32:
      return fn(Tag<Layout::Uint32>{});
    case Layout::Int32:
      return fn(Tag<Layout::Int32>{});
    case Layout::Float:
      return fn(Tag<Layout::Float>{});
    case Layout::Double:
      return fn(Tag<Layout::Double>{});
    case Layout::Complex:
      return fn(Tag<Layout::Complex>{});
  }
}

// The sample of a kind stretched over a range, in its own arithmetic.
template <DisplayBitmap::Layout L>
auto DisplayBitmap::SampleAt(const uint8_t* row, int x) const {
  if constexpr (L == Layout::Int16) return Load<int16_t>(row, x);
  if constexpr (L == Layout::Uint32) return Load<uint32_t>(row, x);
  if constexpr (L == Layout::Int32) return Load<int32_t>(row, x);
  if constexpr (L == Layout::Float) return Load<float>(row, x);
  if constexpr (L == Layout::Double) return Load<double>(row, x);
  if constexpr (L == Layout::Complex) {
    const double re = Load<double>(row, 2 * x);
    const double im = Load<double>(row, 2 * x + 1);
    return std::sqrt(re * re + im * im);
  }
}

template <class T>
uint8_t DisplayBitmap::Stretched(T sample) const {
  const T low = static_cast<T>(m_survey.low);
  // The difference in the sample's own type, as FreeImage takes it; signed
  // 32-bit samples in 64 bits, where FreeImage's would overflow.
  double above = 0;
  if constexpr (std::is_same_v<T, int32_t>) {
    above = static_cast<double>(int64_t{sample} - low);
  } else {
    above = static_cast<double>(sample - low);
  }
  const double value = m_survey.scale * above + 0.5;
  if (!(value > 0.0)) return 0;
  return value >= 255.0 ? 255 : static_cast<uint8_t>(value);
}

// Pixel x of row as an ARGB word, not premultiplied.
template <DisplayBitmap::Layout L>
uint32_t DisplayBitmap::PixelAt(const uint8_t* row, int x) const {
  if constexpr (L == Layout::Bgr24) {
    const uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x);
    return qRgb(p[2], p[1], p[0]);
  } else if constexpr (L == Layout::Bgra32) {
    return Load<uint32_t>(row, x);
  } else if constexpr (L == Layout::Index8) {
    return m_table[row[x]];
  } else if constexpr (L == Layout::Index4) {
    return m_table[(row[x >> 1] >> (x & 1 ? 0 : 4)) & 15];
  } else if constexpr (L == Layout::Index1) {
    return m_table[(row[x >> 3] >> (7 - (x & 7))) & 1];
  } else if constexpr (L == Layout::Word16) {
    return m_table[Load<uint16_t>(row, x)];
  } else if constexpr (L == Layout::Rgb16) {
    return qRgb(m_channel[Load<uint16_t>(row, 3 * x)], m_channel[Load<uint16_t>(row, 3 * x + 1)],
                m_channel[Load<uint16_t>(row, 3 * x + 2)]);
  } else if constexpr (L == Layout::Rgba16) {
    return qRgba(m_channel[Load<uint16_t>(row, 4 * x)], m_channel[Load<uint16_t>(row, 4 * x + 1)],
                 m_channel[Load<uint16_t>(row, 4 * x + 2)],
                 m_channel[Load<uint16_t>(row, 4 * x + 3)]);
  } else if constexpr (L == Layout::RgbF) {
    return qRgb(FloatByte(Load<float>(row, 3 * x)), FloatByte(Load<float>(row, 3 * x + 1)),
                FloatByte(Load<float>(row, 3 * x + 2)));
  } else if constexpr (L == Layout::RgbaF) {
    return qRgba(FloatByte(Load<float>(row, 4 * x)), FloatByte(Load<float>(row, 4 * x + 1)),
                 FloatByte(Load<float>(row, 4 * x + 2)), FloatByte(Load<float>(row, 4 * x + 3)));
  } else {
    const uint8_t grey = Stretched(SampleAt<L>(row, x));
    return qRgb(grey, grey, grey);
  }
}

template <DisplayBitmap::Layout L>
bool DisplayBitmap::SurveyAlpha(Survey& survey, const std::atomic<bool>& cancel) const {
  const int first = qAlpha(PixelAt<L>(Row(0), 0));
  survey.alpha = Survey::Alpha::Varying;
  if (first != 0 && first != 255) return true;
  for (int y = 0; y < m_height; ++y) {
    if (cancel.load(std::memory_order_relaxed)) return false;
    const uint8_t* row = Row(y);
    for (int x = 0; x < m_width; ++x) {
      if (qAlpha(PixelAt<L>(row, x)) != first) return true;
    }
  }
  survey.alpha = first == 0 ? Survey::Alpha::Unused : Survey::Alpha::Opaque;
  return true;
}

// FreeImage's linear stretch: the lowest sample is black, the highest white,
// except that the range always reaches from 255 or below to 0 or above, and
// that a picture of one value is shown as is.
template <DisplayBitmap::Layout L>
bool DisplayBitmap::SurveyRange(Survey& survey, const std::atomic<bool>& cancel) const {
  using T = decltype(SampleAt<L>(m_top, 0));
  T high = 0;
  T low = 255;
  for (int y = 0; y < m_height; ++y) {
    if (cancel.load(std::memory_order_relaxed)) return false;
    const uint8_t* row = Row(y);
    T rowHigh = SampleAt<L>(row, 0);
    T rowLow = rowHigh;
    for (int x = 1; x < m_width; ++x) {
      const T v = SampleAt<L>(row, x);
      if (v > rowHigh) rowHigh = v;
      if (v < rowLow) rowLow = v;
    }
    if (rowHigh > high) high = rowHigh;
    if (rowLow < low) low = rowLow;
  }
  if (high == low) {
    high = 255;
    low = 0;
  }
  survey.low = static_cast<double>(low);
  survey.scale = 255 / static_cast<double>(high - low);
  return true;
}

std::optional<Survey> DisplayBitmap::RunSurvey(const std::atomic<bool>& cancel) const {
  Survey survey;
  bool done = true;
  Dispatch([&](auto tag) {
    constexpr Layout L = decltype(tag)::value;
    if constexpr (L >= Layout::Int16) {
      done = SurveyRange<L>(survey, cancel);
    } else {
      done = SurveyAlpha<L>(survey, cancel);
    }
  });
  if (!done) return std::nullopt;
  return survey;
}

void DisplayBitmap::Apply(const Survey& survey) {
  m_survey = survey;
  m_needsSurvey = false;
}

void DisplayBitmap::Finish(uint32_t* dst, size_t count) const {
  if (Translucent()) {
    for (size_t i = 0; i < count; ++i) dst[i] = qPremultiply(dst[i]);
  } else {
    // The painter relies on RGB32 pixels carrying 0xff in their top byte.
    for (size_t i = 0; i < count; ++i) dst[i] |= 0xff000000u;
  }
}

void DisplayBitmap::ConvertRow(int row, int left, int width, uint32_t* dst) const {
  const uint8_t* in = Row(row);
  if (m_layout == Layout::Bgr24) {
    Bgr24ToRgb32(in + 3 * static_cast<ptrdiff_t>(left), dst, width);
    return;
  }
  Dispatch([&](auto tag) {
    for (int x = 0; x < width; ++x) dst[x] = PixelAt<decltype(tag)::value>(in, left + x);
  });
  Finish(dst, static_cast<size_t>(width));
}

void DisplayBitmap::PickPixels(int row, std::span<const int> columns, uint32_t* dst) const {
  const uint8_t* in = Row(row);
  Dispatch([&](auto tag) {
    for (size_t i = 0; i < columns.size(); ++i) {
      dst[i] = PixelAt<decltype(tag)::value>(in, columns[i]);
    }
  });
  Finish(dst, columns.size());
}

QImage::Format DisplayBitmap::ReducedFormat() const {
  switch (m_reducedBytes) {
    case 1:
      return QImage::Format_Grayscale8;
    case 3:
      return QImage::Format_BGR888;
    default:
      return QImage::Format_ARGB32;
  }
}

PixelRows DisplayBitmap::ReductionRows() const {
  PixelRows rows{nullptr, 0, m_width, m_height, m_reducedBytes, nullptr};
  if (m_direct) {
    rows.bits = const_cast<uint8_t*>(m_top);
    rows.pitch = m_pitch;
  } else {
    rows.maker = this;
  }
  return rows;
}

void DisplayBitmap::MakeRow(int y, uint8_t* out) const {
  const uint8_t* in = Row(y);
  Dispatch([&](auto tag) {
    constexpr Layout L = decltype(tag)::value;
    switch (m_reducedBytes) {
      case 1:  // a grey kind: its three channels are equal
        for (int x = 0; x < m_width; ++x) out[x] = static_cast<uint8_t>(qBlue(PixelAt<L>(in, x)));
        break;
      case 3:
        for (int x = 0; x < m_width; ++x, out += 3) {
          const uint32_t c = PixelAt<L>(in, x);
          out[0] = static_cast<uint8_t>(qBlue(c));
          out[1] = static_cast<uint8_t>(qGreen(c));
          out[2] = static_cast<uint8_t>(qRed(c));
        }
        break;
      default:  // blue, green, red, alpha in memory
        for (int x = 0; x < m_width; ++x, out += 4) {
          const uint32_t c = PixelAt<L>(in, x);
          std::memcpy(out, &c, 4);
        }
        break;
    }
  });
}

void Sample(const DisplayBitmap& picture, std::span<const int> columns, std::span<const int> rows,
            QImage& out) {
  const QSize size(static_cast<int>(columns.size()), static_cast<int>(rows.size()));
  const QImage::Format format =
      picture.Translucent() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
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
    if (consecutive) {
      picture.ConvertRow(rows[j], left, span, dst);
    } else if (sparse) {
      picture.PickPixels(rows[j], columns, dst);
    } else {
      picture.ConvertRow(rows[j], left, span, converted.data());
      for (int i = 0; i < size.width(); ++i) dst[i] = converted[columns[i] - left];
    }
  }
}

}  // namespace views
