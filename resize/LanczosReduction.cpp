#include "resize/LanczosReduction.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace resize {

namespace {

constexpr double kPi = 3.1415926535897932384626433832795;
constexpr double kLanczosWidth = 3.0;
// Multiply-adds one thread does between two reports: a few milliseconds.
constexpr double kStripWork = 2e6;

double Sinc(double x) {
  x *= kPi;
  return x != 0 ? std::sin(x) / x : 1.0;
}

double Lanczos3(double x) {
  x = std::fabs(x);
  return x < kLanczosWidth ? Sinc(x) * Sinc(x / kLanczosWidth) : 0.0;
}

// For every result pixel along one axis, the source pixels it is made of and
// their weights: the filter widened by 1 / scale, normalised to a sum of 1.
class Weights {
 public:
  Weights(unsigned dst, unsigned src) : m_window(0) {
    const double scale = double(dst) / double(src);
    const double width = kLanczosWidth / scale;
    m_window = 2 * static_cast<int>(std::ceil(width)) + 1;
    m_first.resize(dst);
    m_end.resize(dst);
    m_weights.assign(size_t(dst) * m_window, 0.0);
    const double offset = 0.5 / scale;
    for (unsigned u = 0; u < dst; ++u) {
      const double centre = double(u) / scale + offset;
      const int first = std::max(0, static_cast<int>(centre - width + 0.5));
      const int end = std::min(static_cast<int>(centre + width + 0.5), static_cast<int>(src));
      double* w = &m_weights[size_t(u) * m_window];
      double total = 0;
      for (int i = first; i < end; ++i) {
        w[i - first] = scale * Lanczos3(scale * (double(i) + 0.5 - centre));
        total += w[i - first];
      }
      if (total > 0 && total != 1)
        for (int i = first; i < end; ++i) w[i - first] /= total;
      m_first[u] = first;
      m_end[u] = end;
    }
  }
  int First(unsigned u) const { return m_first[u]; }
  int End(unsigned u) const { return m_end[u]; }
  const double* Of(unsigned u) const { return &m_weights[size_t(u) * m_window]; }
  double Taps() const { return m_window; }

 private:
  int m_window;
  std::vector<int> m_first;
  std::vector<int> m_end;
  std::vector<double> m_weights;
};

enum class Sample { Byte, Word, Float };

// How the source's pixels are read as samples in the result's layout.
enum class Read { Direct, Index, PaletteGrey, PaletteRgb, PaletteRgba, Rgb565, Rgb555 };

struct Layout {
  FREE_IMAGE_TYPE type = FIT_UNKNOWN;
  unsigned bpp = 0;  // of the result
  int channels = 0;
  Sample sample = Sample::Byte;
  Read read = Read::Direct;
  bool whiteIsZero = false;  // an 8-bit grey result with a reversed palette
  RGBQUAD palette[256] = {};
};

// Grey palettes come in two orders; any other palette, or a grey one in no
// order, is read through its entries. grey tells whether every entry is grey.
FREE_IMAGE_COLOR_TYPE PaletteKind(FIBITMAP* dib, bool& grey) {
  const unsigned bpp = FreeImage_GetBPP(dib);
  const unsigned size = 1u << bpp;
  const RGBQUAD* pal = FreeImage_GetPalette(dib);
  FREE_IMAGE_COLOR_TYPE kind = FIC_MINISBLACK;
  grey = true;
  for (unsigned i = 0; i < size; ++i) {
    if (pal[i].rgbRed != pal[i].rgbGreen || pal[i].rgbRed != pal[i].rgbBlue) {
      grey = false;
      return FIC_PALETTE;
    }
  }
  if (bpp == 1) {
    if (pal[0].rgbBlue == 255 && pal[1].rgbBlue == 0) return FIC_MINISWHITE;
    return pal[0].rgbBlue != 0 || pal[1].rgbBlue != 255 ? FIC_PALETTE : FIC_MINISBLACK;
  }
  for (unsigned i = 0; i < size && kind != FIC_PALETTE; ++i) {
    if (pal[i].rgbBlue == i) continue;
    kind = size - i - 1 == pal[i].rgbBlue ? FIC_MINISWHITE : FIC_PALETTE;
  }
  return kind;
}

bool LayoutOf(FIBITMAP* src, Layout& out) {
  out.type = FreeImage_GetImageType(src);
  const unsigned bpp = FreeImage_GetBPP(src);
  switch (out.type) {
    case FIT_BITMAP:
      break;
    case FIT_UINT16:
      out = {out.type, bpp, 1, Sample::Word};
      return true;
    case FIT_RGB16:
      out = {out.type, bpp, 3, Sample::Word};
      return true;
    case FIT_RGBA16:
      out = {out.type, bpp, 4, Sample::Word};
      return true;
    case FIT_FLOAT:
      out = {out.type, bpp, 1, Sample::Float};
      return true;
    case FIT_RGBF:
      out = {out.type, bpp, 3, Sample::Float};
      return true;
    case FIT_RGBAF:
      out = {out.type, bpp, 4, Sample::Float};
      return true;
    default:
      return false;
  }
  if (bpp == 24 || bpp == 32) {
    out.bpp = bpp;
    out.channels = int(bpp / 8);
    return true;
  }
  if (bpp == 16) {
    out.bpp = 24;
    out.channels = 3;
    const bool is565 = FreeImage_GetRedMask(src) == FI16_565_RED_MASK &&
                       FreeImage_GetGreenMask(src) == FI16_565_GREEN_MASK &&
                       FreeImage_GetBlueMask(src) == FI16_565_BLUE_MASK;
    out.read = is565 ? Read::Rgb565 : Read::Rgb555;
    return true;
  }
  if (bpp != 1 && bpp != 4 && bpp != 8) return false;
  bool grey = false;
  const FREE_IMAGE_COLOR_TYPE kind = PaletteKind(src, grey);
  const bool transparent = FreeImage_IsTransparent(src);
  std::memcpy(out.palette, FreeImage_GetPalette(src), sizeof(RGBQUAD) << bpp);
  if (transparent) {
    // The transparency table becomes the palette's alpha.
    const unsigned count = std::min(1u << bpp, FreeImage_GetTransparencyCount(src));
    const BYTE* table = FreeImage_GetTransparencyTable(src);
    for (unsigned i = 0; i < (1u << bpp); ++i)
      out.palette[i].rgbReserved = i < count && table ? table[i] : 255;
  }
  if (transparent) {
    out.bpp = 32;
    out.channels = 4;
    out.read = Read::PaletteRgba;
  } else if (kind == FIC_PALETTE && !grey) {
    out.bpp = 24;
    out.channels = 3;
    out.read = Read::PaletteRgb;
  } else {
    out.bpp = 8;
    out.channels = 1;
    out.read = kind == FIC_PALETTE ? Read::PaletteGrey : Read::Index;
    out.whiteIsZero = kind == FIC_MINISWHITE;
  }
  return true;
}

unsigned IndexAt(const BYTE* bits, unsigned bpp, unsigned x) {
  if (bpp == 1) return (bits[x >> 3] & (0x80 >> (x & 7))) != 0;
  if (bpp == 4) return x & 1 ? bits[x >> 1] & 0x0F : bits[x >> 1] >> 4;
  return bits[x];
}

// One source scanline as samples of the result's layout, in memory order.
void ReadRow(FIBITMAP* src, const Layout& layout, unsigned scanline, double* out) {
  const unsigned width = FreeImage_GetWidth(src);
  const unsigned bpp = FreeImage_GetBPP(src);
  const BYTE* bits = FreeImage_GetScanLine(src, static_cast<int>(scanline));
  const size_t samples = size_t(width) * layout.channels;
  switch (layout.read) {
    case Read::Direct:
      if (layout.sample == Sample::Byte)
        for (size_t i = 0; i < samples; ++i) out[i] = bits[i];
      else if (layout.sample == Sample::Word)
        for (size_t i = 0; i < samples; ++i) out[i] = reinterpret_cast<const WORD*>(bits)[i];
      else
        for (size_t i = 0; i < samples; ++i) out[i] = reinterpret_cast<const float*>(bits)[i];
      return;
    case Read::Index:
      for (unsigned x = 0; x < width; ++x) {
        const unsigned index = IndexAt(bits, bpp, x);
        out[x] = bpp == 1 ? index * 255.0 : bpp == 4 ? index * 17.0 : index;
      }
      return;
    case Read::PaletteGrey:
      for (unsigned x = 0; x < width; ++x) out[x] = layout.palette[IndexAt(bits, bpp, x)].rgbBlue;
      return;
    case Read::PaletteRgb:
    case Read::PaletteRgba:
      for (unsigned x = 0; x < width; ++x) {
        const RGBQUAD& entry = layout.palette[IndexAt(bits, bpp, x)];
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&entry);
        for (int c = 0; c < layout.channels; ++c) out[size_t(x) * layout.channels + c] = bytes[c];
      }
      return;
    case Read::Rgb565:
    case Read::Rgb555: {
      const bool is565 = layout.read == Read::Rgb565;
      const WORD* words = reinterpret_cast<const WORD*>(bits);
      for (unsigned x = 0; x < width; ++x) {
        const unsigned p = words[x];
        double* px = out + size_t(x) * 3;
        px[FI_RGBA_BLUE] = (p & 0x1F) * 255.0 / 31.0;
        px[FI_RGBA_GREEN] =
            is565 ? ((p >> 5) & 0x3F) * 255.0 / 63.0 : ((p >> 5) & 0x1F) * 255.0 / 31.0;
        px[FI_RGBA_RED] =
            is565 ? ((p >> 11) & 0x1F) * 255.0 / 31.0 : ((p >> 10) & 0x1F) * 255.0 / 31.0;
      }
      return;
    }
  }
}

// A filtered value as the result's sample type holds it.
float Store(double value, Sample sample) {
  switch (sample) {
    case Sample::Byte:
      return float(std::clamp(static_cast<int>(value + 0.5), 0, 0xFF));
    case Sample::Word:
      return float(std::clamp(static_cast<int>(value + 0.5), 0, 0xFFFF));
    case Sample::Float:
      return float(value);
  }
  return 0;
}

void WriteRow(const float* samples, size_t count, Sample sample, BYTE* bits) {
  if (sample == Sample::Byte)
    for (size_t i = 0; i < count; ++i) bits[i] = static_cast<BYTE>(samples[i]);
  else if (sample == Sample::Word)
    for (size_t i = 0; i < count; ++i)
      reinterpret_cast<WORD*>(bits)[i] = static_cast<WORD>(samples[i]);
  else
    std::memcpy(bits, samples, count * sizeof(float));
}

struct Job {
  FIBITMAP* src;
  FIBITMAP* dst;
  const Layout& layout;
  const Weights& across;  // result column -> source columns
  const Weights& down;    // result scanline -> source scanlines
  unsigned srcWidth;
  unsigned dstWidth;
};

// One thread's band of result scanlines, made a strip at a time. The source
// scanlines filtered across are kept while later strips still need them.
class Band {
 public:
  Band(const Job& job, unsigned begin, unsigned end) : m_job(job), m_next(begin), m_end(end) {}

  bool Done() const { return m_next >= m_end; }

  // Makes up to rows more result scanlines; returns how many. Cut short,
  // between two scanlines, once cut() is true.
  unsigned Strip(unsigned rows, const std::function<bool()>& cut) {
    const unsigned begin = m_next;
    const unsigned end = std::min(m_end, begin + rows);
    const size_t samples = size_t(m_job.dstWidth) * m_job.layout.channels;
    std::vector<double> sum(samples);
    std::vector<float> out(samples);
    unsigned y = begin;
    for (; y < end; ++y) {
      const int first = m_job.down.First(y);
      const int last = m_job.down.End(y);
      if (!Keep(first, last, cut)) break;
      const double* w = m_job.down.Of(y);
      std::fill(sum.begin(), sum.end(), 0.0);
      for (int i = first; i < last; ++i) {
        const float* row = m_rows[size_t(i - m_firstRow)].data();
        const double weight = w[i - first];
        for (size_t s = 0; s < samples; ++s) sum[s] += weight * row[s];
      }
      for (size_t s = 0; s < samples; ++s) out[s] = Store(sum[s], m_job.layout.sample);
      WriteRow(out.data(), samples, m_job.layout.sample,
               FreeImage_GetScanLine(m_job.dst, static_cast<int>(y)));
    }
    m_next = y;
    return y - begin;
  }

 private:
  // Holds the source scanlines first .. last - 1, filtered across; false
  // when cut short on the way.
  bool Keep(int first, int last, const std::function<bool()>& cut) {
    while (!m_rows.empty() && m_firstRow < first) {
      m_spare.push_back(std::move(m_rows.front()));
      m_rows.pop_front();
      ++m_firstRow;
    }
    if (m_rows.empty()) m_firstRow = first;
    const int channels = m_job.layout.channels;
    for (int row = m_firstRow + int(m_rows.size()); row < last; ++row) {
      if (cut()) return false;
      m_source.resize(size_t(m_job.srcWidth) * channels);
      ReadRow(m_job.src, m_job.layout, unsigned(row), m_source.data());
      std::vector<float> across;
      if (!m_spare.empty()) {
        across = std::move(m_spare.back());
        m_spare.pop_back();
      }
      across.resize(size_t(m_job.dstWidth) * channels);
      for (unsigned x = 0; x < m_job.dstWidth; ++x) {
        const int first = m_job.across.First(x);
        const int end = m_job.across.End(x);
        const double* w = m_job.across.Of(x);
        for (int c = 0; c < channels; ++c) {
          double value = 0;
          for (int i = first; i < end; ++i)
            value += w[i - first] * m_source[size_t(i) * channels + c];
          across[size_t(x) * channels + c] = Store(value, m_job.layout.sample);
        }
      }
      m_rows.push_back(std::move(across));
    }
    return !cut();
  }

  const Job& m_job;
  unsigned m_next;
  unsigned m_end;
  int m_firstRow = 0;
  std::deque<std::vector<float>> m_rows;
  std::vector<std::vector<float>> m_spare;
  std::vector<double> m_source;
};

FIBITMAP* Allocate(const Layout& layout, int width, int height) {
  FIBITMAP* dst = FreeImage_AllocateT(layout.type, width, height, static_cast<int>(layout.bpp));
  if (dst && layout.bpp == 8 && layout.type == FIT_BITMAP) {
    RGBQUAD* pal = FreeImage_GetPalette(dst);
    for (int i = 0; i < 256; ++i) {
      const BYTE grey = static_cast<BYTE>(layout.whiteIsZero ? 255 - i : i);
      pal[i] = {grey, grey, grey, 0};
    }
  }
  return dst;
}

}  // namespace

FIBITMAP* LanczosReduce(FIBITMAP* source, int width, int height, const StripDone& stripDone,
                        const std::function<bool()>& interrupted) {
  if (!source || !FreeImage_HasPixels(source) || width <= 0 || height <= 0) return nullptr;
  const unsigned srcWidth = FreeImage_GetWidth(source);
  const unsigned srcHeight = FreeImage_GetHeight(source);
  Layout layout;
  // Whatever the filter cannot read is left to FreeImage, whole.
  if (!LayoutOf(source, layout) || unsigned(width) > srcWidth || unsigned(height) > srcHeight) {
    return stripDone(0) ? nullptr : FreeImage_Rescale(source, width, height, FILTER_LANCZOS3);
  }
  FIBITMAP* dst = Allocate(layout, width, height);
  if (!dst) return nullptr;

  try {
    const Weights across(unsigned(width), srcWidth);
    const Weights down(unsigned(height), srcHeight);
    const Job job{source, dst, layout, across, down, srcWidth, unsigned(width)};

    const double rowWork = double(width) * layout.channels *
                           (down.Taps() + across.Taps() * double(srcHeight) / height);
    const unsigned stripRows = unsigned(std::clamp(kStripWork / rowWork, 1.0, 4096.0));
    const unsigned threads =
        std::clamp(std::thread::hardware_concurrency(), 1u, std::max(1u, unsigned(height)));

    std::vector<std::unique_ptr<Band>> bands;
    for (unsigned t = 0; t < threads; ++t)
      bands.push_back(std::make_unique<Band>(job, unsigned(uint64_t(height) * t / threads),
                                             unsigned(uint64_t(height) * (t + 1) / threads)));

    std::atomic<unsigned> made{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> failed{false};
    std::barrier sync(static_cast<std::ptrdiff_t>(threads));
    // Every thread makes a strip of its bands, then all wait while the caller
    // hears how far the work has come and says whether to go on.
    auto run = [&](std::vector<Band*> mine, bool reports) {
      for (;;) {
        try {
          for (Band* band : mine) {
            if (band->Done()) continue;
            made += band->Strip(stripRows, interrupted);
            break;
          }
        } catch (const std::bad_alloc&) {
          failed = true;
        }
        sync.arrive_and_wait();
        if (reports && !failed && made < unsigned(height))
          stop = stripDone(static_cast<int>(uint64_t(made) * 255 / unsigned(height)));
        sync.arrive_and_wait();
        if (stop || failed || made >= unsigned(height)) return;
      }
    };
    std::vector<Band*> own{bands[0].get()};
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) {
      try {
        helpers.emplace_back(run, std::vector<Band*>{bands[t].get()}, false);
      } catch (const std::system_error&) {
        // No thread for this band: the calling thread makes it too.
        sync.arrive_and_drop();
        own.push_back(bands[t].get());
      }
    }
    run(own, true);
    for (std::thread& helper : helpers) helper.join();
    if (stop || failed) {
      FreeImage_Unload(dst);
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    FreeImage_Unload(dst);
    return nullptr;
  }
  FreeImage_CloneMetadata(dst, source);
  return dst;
}

}  // namespace resize
