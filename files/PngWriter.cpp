#include "files/PngWriter.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace files {
namespace {

// Rows per strip make about this much filtered data: small enough that a
// stop is seen within a few tens of milliseconds, large enough that starting
// each strip without the previous one's history costs next to nothing.
constexpr size_t kStripBytes = size_t{1} << 20;
// libdeflate's level 4 is several times faster than zlib's default and
// makes photographs within a percent of its size. Drawings, flat colour and
// repeated patterns deflate to a small share of their size and need deeper
// match searches to stay as small as zlib makes them; on such data those
// cost little, so a strip that shrinks that far is deflated again deeper.
constexpr int kLevel = 4;
constexpr int kDeepLevel = 9;
constexpr size_t kDeepBelowShare = 10;  // deflated to less than a tenth
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void PutBigEndian32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

// How the bitmap's scanlines become PNG rows.
enum class RowKind { Bgr8, Bgra8, Index8, Samples16 };

struct Layout {
  RowKind kind;
  unsigned pixelBytes;   // in the PNG row: the filters' distance
  unsigned sourceBytes;  // in the scanline
  bool adaptive;         // palette rows stay unfiltered, as libpng leaves them
};

// The layout that stores bitmap as the frame's header says, if any.
std::optional<Layout> LayoutFor(FIBITMAP* bitmap, uint8_t colourType, uint8_t depth) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  const unsigned bpp = FreeImage_GetBPP(bitmap);
  if (type == FIT_BITMAP && depth == 8) {
    if (bpp == 24 && colourType == 2) return Layout{RowKind::Bgr8, 3, 3, true};
    if (bpp == 32 && colourType == 2) return Layout{RowKind::Bgr8, 3, 4, true};
    if (bpp == 32 && colourType == 6) return Layout{RowKind::Bgra8, 4, 4, true};
    if (bpp == 8 && colourType == 3) return Layout{RowKind::Index8, 1, 1, false};
    if (bpp == 8 && colourType == 0 && FreeImage_GetColorType(bitmap) == FIC_MINISBLACK)
      return Layout{RowKind::Index8, 1, 1, true};
  }
  if (depth == 16) {
    if (type == FIT_RGB16 && colourType == 2) return Layout{RowKind::Samples16, 6, 6, true};
    if (type == FIT_RGBA16 && colourType == 6) return Layout{RowKind::Samples16, 8, 8, true};
    if (type == FIT_UINT16 && colourType == 0) return Layout{RowKind::Samples16, 2, 2, true};
  }
  return std::nullopt;
}

// PNG row y (top first) of bitmap into out.
void PngRow(FIBITMAP* bitmap, const Layout& layout, unsigned y, uint8_t* out) {
  const unsigned width = FreeImage_GetWidth(bitmap);
  const uint8_t* in =
      FreeImage_GetScanLine(bitmap, static_cast<int>(FreeImage_GetHeight(bitmap) - 1 - y));
  switch (layout.kind) {
    case RowKind::Bgr8:
    case RowKind::Bgra8:
      for (unsigned x = 0; x < width; ++x, in += layout.sourceBytes, out += layout.pixelBytes) {
        out[0] = in[FI_RGBA_RED];
        out[1] = in[FI_RGBA_GREEN];
        out[2] = in[FI_RGBA_BLUE];
        if (layout.kind == RowKind::Bgra8) out[3] = in[FI_RGBA_ALPHA];
      }
      break;
    case RowKind::Index8:
      std::memcpy(out, in, width);
      break;
    case RowKind::Samples16: {
      // Native 16-bit samples, stored big-endian.
      const size_t samples = size_t{width} * layout.pixelBytes / 2;
      for (size_t i = 0; i < samples; ++i) {
        uint16_t sample;
        std::memcpy(&sample, in + 2 * i, 2);
        out[2 * i] = static_cast<uint8_t>(sample >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(sample);
      }
      break;
    }
  }
}

// libpng's measure of a filtered row: the sum of its bytes taken as signed.
inline unsigned Weight(uint8_t v) { return v < 128 ? v : 256u - v; }

inline int Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  // a when pa is least, else b when pb is, else c; written as selects.
  const int nearer = pa <= pb ? a : b;
  const int least = pa <= pb ? pa : pb;
  return least <= pc ? nearer : c;
}

template <uint8_t kFilter>
inline uint8_t FilteredByte(int x, int a, int b, int c) {
  int predicted = 0;
  if constexpr (kFilter == 1) predicted = a;
  if constexpr (kFilter == 2) predicted = b;
  if constexpr (kFilter == 3) predicted = (a + b) >> 1;
  if constexpr (kFilter == 4) predicted = Paeth(a, b, c);
  return static_cast<uint8_t>(x - predicted);
}

// One filter over a row, into out, returning its weight; the bytes with a
// left neighbour in a loop of their own, which the compiler vectorises.
template <uint8_t kFilter>
uint64_t Filtered(const uint8_t* row, const uint8_t* prior, size_t n, unsigned bpp, uint8_t* out) {
  uint64_t sum = 0;
  const size_t edge = std::min<size_t>(bpp, n);
  for (size_t i = 0; i < edge; ++i) {
    out[i] = FilteredByte<kFilter>(row[i], 0, prior[i], 0);
    sum += Weight(out[i]);
  }
  uint32_t part = 0;
  for (size_t i = edge; i < n; ++i) {
    const uint8_t v = FilteredByte<kFilter>(row[i], row[i - bpp], prior[i], prior[i - bpp]);
    out[i] = v;
    part += Weight(v);
    // A 32-bit sum vectorises better; it is emptied before it could overflow.
    if ((i & 0xffff) == 0) {
      sum += part;
      part = 0;
    }
  }
  return sum + part;
}

// Filters row against prior (the raw row above; zeros for the first) into
// out: the filter type byte, then the row. Chooses as libpng does: the
// filter whose output weighs least, the earlier one on a tie.
void FilterRow(const uint8_t* row, const uint8_t* prior, size_t n, unsigned bpp, bool adaptive,
               uint8_t* out, uint8_t* scratch) {
  uint64_t best = 0;
  for (size_t i = 0; i < n; ++i) best += Weight(row[i]);
  out[0] = 0;
  std::memcpy(out + 1, row, n);
  if (!adaptive) return;
  using Filter = uint64_t (*)(const uint8_t*, const uint8_t*, size_t, unsigned, uint8_t*);
  constexpr Filter kFilters[] = {Filtered<1>, Filtered<2>, Filtered<3>, Filtered<4>};
  for (uint8_t filter = 1; filter <= 4; ++filter) {
    const uint64_t sum = kFilters[filter - 1](row, prior, n, bpp, scratch);
    if (sum < best) {
      best = sum;
      out[0] = filter;
      std::memcpy(out + 1, scratch, n);
    }
  }
}

// Turns a complete raw deflate stream into one that the next strip can
// follow: its last block's final bit is cleared, and empty stored blocks
// bring it to a byte boundary. The blocks are found by inflating it, as
// zlib's gzjoin does.
bool ClearFinalBlock(std::vector<uint8_t>& deflated) {
  if (deflated.empty()) return false;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  struct End {
    z_stream& z;
    ~End() { inflateEnd(&z); }
  } end{z};
  uint8_t* data = deflated.data();
  bool last = (data[0] & 1) != 0;
  if (last) data[0] &= 0xfe;
  z.next_in = data;
  z.avail_in = static_cast<uInt>(deflated.size());
  uint8_t junk[1 << 15];
  for (;;) {
    z.next_out = junk;
    z.avail_out = sizeof junk;
    const int result = inflate(&z, Z_BLOCK);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
    if (z.data_type & 128) {
      if (last) break;
      const int unused = z.data_type & 7;
      if (unused != 0) {
        // The next block's final bit is in the last byte taken.
        const uint8_t mask = static_cast<uint8_t>(0x100 >> unused);
        last = (z.next_in[-1] & mask) != 0;
        if (last) z.next_in[-1] &= static_cast<uint8_t>(~mask);
      } else {
        if (z.avail_in == 0) return false;  // ended without a final block
        last = (z.next_in[0] & 1) != 0;
        if (last) z.next_in[0] &= 0xfe;
      }
    } else if (z.avail_in == 0 && result == Z_BUF_ERROR) {
      return false;
    }
  }
  const int unused = z.data_type & 7;
  deflated.resize(static_cast<size_t>(z.next_in - data));
  if (unused == 0) return true;
  // An empty stored block: three zero header bits, padding, then 0, 0xffff.
  deflated.back() &= static_cast<uint8_t>((0x100 >> unused) - 1);
  if (unused < 3) deflated.push_back(0);
  for (uint8_t byte : {0x00, 0x00, 0xff, 0xff}) deflated.push_back(byte);
  return true;
}

struct Strip {
  std::vector<uint8_t> deflated;
  uint32_t adler = 1;
  size_t length = 0;  // filtered bytes
};

struct Frame {
  size_t idatStart = 0;  // the first picture data chunk
  size_t idatEnd = 0;    // just past the last
  uint8_t colourType = 0;
  uint8_t depth = 0;
};

// Where the frame's picture data lies and what its header says; nullopt
// unless it is a plain PNG of one row width pixels wide, not interlaced.
std::optional<Frame> ReadFrame(const std::vector<uint8_t>& png, uint32_t width) {
  if (png.size() < 8 + 25 || std::memcmp(png.data(), kSignature, 8) != 0) return std::nullopt;
  const uint8_t* ihdr = png.data() + 8;
  if (BigEndian32(ihdr) != 13 || std::memcmp(ihdr + 4, "IHDR", 4) != 0) return std::nullopt;
  if (BigEndian32(ihdr + 8) != width || BigEndian32(ihdr + 12) != 1) return std::nullopt;
  if (ihdr[18] != 0 || ihdr[19] != 0 || ihdr[20] != 0) return std::nullopt;
  Frame frame{0, 0, ihdr[17], ihdr[16]};
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = BigEndian32(png.data() + at);
    if (length > png.size() - at - 12) return std::nullopt;
    const bool idat = std::memcmp(png.data() + at + 4, "IDAT", 4) == 0;
    if (idat && frame.idatStart == 0) frame.idatStart = at;
    if (idat && frame.idatEnd != 0 && frame.idatEnd != at) return std::nullopt;
    at += 12 + size_t{length};
    if (idat) frame.idatEnd = at;
  }
  if (frame.idatStart == 0) return std::nullopt;
  return frame;
}

bool PutChunk(const ByteSink& sink, const char* type, const uint8_t* data, size_t count) {
  uint8_t head[8];
  PutBigEndian32(head, static_cast<uint32_t>(count));
  std::memcpy(head + 4, type, 4);
  uint8_t tail[4];
  PutBigEndian32(tail, libdeflate_crc32(libdeflate_crc32(0, head + 4, 4), data, count));
  return sink(head, 8) && sink(data, count) && sink(tail, 4);
}

// The strips' work, shared by the threads that do it and the one that
// writes the strips out in order.
class CStripWork {
 public:
  CStripWork(FIBITMAP* bitmap, const Layout& layout)
      : m_bitmap(bitmap),
        m_layout(layout),
        m_height(FreeImage_GetHeight(bitmap)),
        m_rowBytes(size_t{FreeImage_GetWidth(bitmap)} * layout.pixelBytes),
        m_rowsPerStrip(static_cast<unsigned>(std::max<size_t>(1, kStripBytes / (m_rowBytes + 1)))),
        m_strips((m_height + m_rowsPerStrip - 1) / m_rowsPerStrip),
        m_done(m_strips) {}

  size_t Strips() const { return m_strips; }

  // A thread's loop: takes strips until none is left or the work ends.
  void Work(size_t window) {
    Compressor compressor(libdeflate_alloc_compressor(kLevel), &libdeflate_free_compressor);
    Compressor deep(libdeflate_alloc_compressor(kDeepLevel), &libdeflate_free_compressor);
    for (;;) {
      size_t index = 0;
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock,
                       [&] { return m_quit || m_next >= m_strips || m_next < m_written + window; });
        if (m_quit || m_next >= m_strips) return;
        index = m_next++;
      }
      std::optional<Strip> strip;
      if (compressor && deep) strip = Encode(index, compressor.get(), deep.get());
      std::lock_guard lock(m_mutex);
      if (!strip) {
        m_failed = m_quit = true;
      } else {
        m_done[index] = std::move(strip);
      }
      m_changed.notify_all();
    }
  }

  // The strip index once made (the caller's to take), or nullopt when the
  // work failed or stop said so; waits for it, asking stop now and then.
  std::optional<Strip> Take(size_t index, const std::function<bool()>& stop) {
    std::unique_lock lock(m_mutex);
    for (;;) {
      if (m_failed) return std::nullopt;
      if (m_done[index]) {
        Strip strip = std::move(*m_done[index]);
        m_done[index].reset();
        return strip;
      }
      lock.unlock();
      const bool stopped = stop && stop();
      lock.lock();
      if (stopped) return std::nullopt;
      m_changed.wait_for(lock, std::chrono::milliseconds(10));
    }
  }

  void Written() {
    std::lock_guard lock(m_mutex);
    ++m_written;
    m_changed.notify_all();
  }

  void Quit() {
    std::lock_guard lock(m_mutex);
    m_quit = true;
    m_changed.notify_all();
  }

 private:
  using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

  std::optional<Strip> Encode(size_t index, libdeflate_compressor* compressor,
                              libdeflate_compressor* deep) const {
    const unsigned first = static_cast<unsigned>(index) * m_rowsPerStrip;
    const unsigned end = std::min(m_height, first + m_rowsPerStrip);
    std::vector<uint8_t> prior(m_rowBytes, 0);
    std::vector<uint8_t> row(m_rowBytes);
    std::vector<uint8_t> scratch(m_rowBytes);
    std::vector<uint8_t> filtered(size_t{end - first} * (m_rowBytes + 1));
    if (first > 0) PngRow(m_bitmap, m_layout, first - 1, prior.data());
    for (unsigned y = first; y < end; ++y) {
      PngRow(m_bitmap, m_layout, y, row.data());
      FilterRow(row.data(), prior.data(), m_rowBytes, m_layout.pixelBytes, m_layout.adaptive,
                filtered.data() + size_t{y - first} * (m_rowBytes + 1), scratch.data());
      prior.swap(row);
    }
    Strip strip;
    strip.length = filtered.size();
    strip.adler = libdeflate_adler32(1, filtered.data(), filtered.size());
    strip.deflated.resize(libdeflate_deflate_compress_bound(compressor, filtered.size()));
    size_t size = libdeflate_deflate_compress(compressor, filtered.data(), filtered.size(),
                                              strip.deflated.data(), strip.deflated.size());
    if (size == 0) return std::nullopt;
    if (size < filtered.size() / kDeepBelowShare) {
      std::vector<uint8_t> deeper(size);
      const size_t deepSize = libdeflate_deflate_compress(deep, filtered.data(), filtered.size(),
                                                          deeper.data(), deeper.size());
      if (deepSize != 0) {
        strip.deflated.swap(deeper);
        size = deepSize;
      }
    }
    strip.deflated.resize(size);
    if (index + 1 < m_strips && !ClearFinalBlock(strip.deflated)) return std::nullopt;
    return strip;
  }

  FIBITMAP* const m_bitmap;
  const Layout m_layout;
  const unsigned m_height;
  const size_t m_rowBytes;
  const unsigned m_rowsPerStrip;
  const size_t m_strips;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::optional<Strip>> m_done;
  size_t m_next = 0;
  size_t m_written = 0;
  bool m_quit = false;
  bool m_failed = false;
};

// Writes the picture data: the zlib header, the strips in order, the
// Adler-32 of them all combined from the strips' own.
bool WriteStrips(CStripWork& work, const ByteSink& sink, const std::function<bool()>& stop,
                 const std::function<void(double)>& progress) {
  uint32_t adler = 1;
  const size_t strips = work.Strips();
  for (size_t index = 0; index < strips; ++index) {
    std::optional<Strip> strip = work.Take(index, stop);
    if (!strip) return false;
    std::vector<uint8_t>& data = strip->deflated;
    // Deflate with a 32 KiB window; the check bits make the pair a multiple of 31.
    if (index == 0) data.insert(data.begin(), {0x78, 0x9c});
    adler = static_cast<uint32_t>(
        adler32_combine64(adler, strip->adler, static_cast<z_off64_t>(strip->length)));
    if (index + 1 == strips) {
      uint8_t check[4];
      PutBigEndian32(check, adler);
      data.insert(data.end(), check, check + 4);
    }
    if (!PutChunk(sink, "IDAT", data.data(), data.size())) return false;
    data = {};
    work.Written();
    if (progress) progress(static_cast<double>(index + 1) / static_cast<double>(strips));
    if (stop && stop()) return false;
  }
  return true;
}

}  // namespace

FIBITMAP* PngFrameBitmap(FIBITMAP* bitmap) {
  const unsigned width = FreeImage_GetWidth(bitmap);
  const unsigned height = FreeImage_GetHeight(bitmap);
  if (width == 0 || height == 0) return nullptr;
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  const unsigned bpp = FreeImage_GetBPP(bitmap);
  const bool handled = (type == FIT_BITMAP && (bpp == 8 || bpp == 24 || bpp == 32)) ||
                       type == FIT_RGB16 || type == FIT_RGBA16 || type == FIT_UINT16;
  if (!handled) return nullptr;
  // FreeImage_Copy carries the palette, transparency, background,
  // resolution, profile and metadata.
  FIBITMAP* frame = FreeImage_Copy(bitmap, 0, 0, static_cast<int>(width), 1);
  if (!frame) return nullptr;
  if (type == FIT_BITMAP && bpp == 32) {
    // The writer keeps alpha when any pixel is not opaque: the one row is
    // made to say what the whole picture does.
    const bool alpha = FreeImage_GetColorType(bitmap) == FIC_RGBALPHA;
    for (unsigned x = 0; x < width; ++x)
      FreeImage_GetScanLine(frame, 0)[4 * x + FI_RGBA_ALPHA] = 0xff;
    if (alpha) FreeImage_GetScanLine(frame, 0)[FI_RGBA_ALPHA] = 0;
  }
  return frame;
}

PngWrite WritePngStrips(FIBITMAP* bitmap, const std::vector<uint8_t>& frameBytes,
                        const ByteSink& sink, const std::function<bool()>& stop,
                        const std::function<void(double)>& progress, unsigned threads) {
  const std::optional<Frame> frame = ReadFrame(frameBytes, FreeImage_GetWidth(bitmap));
  if (!frame) return PngWrite::NotMine;
  const std::optional<Layout> layout = LayoutFor(bitmap, frame->colourType, frame->depth);
  if (!layout) return PngWrite::NotMine;

  // The frame's header, with the picture's height.
  std::vector<uint8_t> head(frameBytes.begin(),
                            frameBytes.begin() + static_cast<std::ptrdiff_t>(frame->idatStart));
  PutBigEndian32(head.data() + 20, FreeImage_GetHeight(bitmap));
  PutBigEndian32(head.data() + 29, libdeflate_crc32(0, head.data() + 12, 17));
  if (!sink(head.data(), head.size())) return PngWrite::Failed;

  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  CStripWork work(bitmap, *layout);
  threads = static_cast<unsigned>(std::min<size_t>(threads, work.Strips()));
  bool written = false;
  {
    std::vector<std::thread> workers;
    struct Join {
      CStripWork& work;
      std::vector<std::thread>& workers;
      ~Join() {
        work.Quit();
        for (std::thread& worker : workers) worker.join();
      }
    } join{work, workers};
    // Strips made ahead of the writer are held in memory: a few per thread.
    const size_t window = size_t{threads} * 3;
    try {
      for (unsigned i = 0; i < threads; ++i)
        workers.emplace_back([&work, window] { work.Work(window); });
    } catch (const std::system_error&) {
      // Fewer threads do the same strips; none do nothing.
    }
    written = !workers.empty() && WriteStrips(work, sink, stop, progress);
  }
  const size_t tail = frameBytes.size() - frame->idatEnd;
  written = written && sink(frameBytes.data() + frame->idatEnd, tail);
  return written ? PngWrite::Written : PngWrite::Failed;
}

}  // namespace files
