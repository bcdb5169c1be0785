#include "resize/CEngineBuffers.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// Rows converted at a time: about 4 MB of 32-bit pixels, so that a stop
// request is seen quickly and no second copy of the whole region is made.
constexpr uint64_t kStripBytes = 4u << 20;

struct Unloader {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, Unloader>;

uint8_t* MapAnonymous(uint64_t bytes) {
  if (bytes == 0 || bytes > std::numeric_limits<size_t>::max()) return nullptr;
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  // Large pages: a few hundred instead of a hundred thousand for a large
  // picture, so that releasing the buffers after Abort takes no time. Where
  // the system has none, small pages serve as well.
  madvise(memory, bytes, MADV_HUGEPAGE);
  return static_cast<uint8_t*>(memory);
}

void Unmap(uint8_t*& memory, uint64_t& bytes) {
  if (memory) munmap(memory, bytes);
  memory = nullptr;
  bytes = 0;
}

bool IsScalarWithoutByteConversion(FREE_IMAGE_TYPE type) {
  return type == FIT_INT16 || type == FIT_UINT32 || type == FIT_INT32 || type == FIT_DOUBLE ||
         type == FIT_COMPLEX;
}

uint8_t UnitToByte(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 1.0f) return 255;
  return static_cast<uint8_t>(value * 255.0f + 0.5f);
}

// Floating-point pixels are intensities in 0..1: clamped and scaled, not
// tone-mapped, so that the enlargement keeps the picture's own brightness.
Bitmap FloatTo32Bits(FIBITMAP* part) {
  Bitmap rgbaf(FreeImage_ConvertToRGBAF(part));
  if (!rgbaf) return nullptr;
  const unsigned width = FreeImage_GetWidth(rgbaf.get());
  const unsigned height = FreeImage_GetHeight(rgbaf.get());
  Bitmap out(FreeImage_Allocate(width, height, 32));
  if (!out) return nullptr;
  for (unsigned y = 0; y < height; ++y) {
    const auto* from = reinterpret_cast<const FIRGBAF*>(FreeImage_GetScanLine(rgbaf.get(), y));
    BYTE* to = FreeImage_GetScanLine(out.get(), y);
    for (unsigned x = 0; x < width; ++x, to += 4) {
      to[FI_RGBA_BLUE] = UnitToByte(from[x].blue);
      to[FI_RGBA_GREEN] = UnitToByte(from[x].green);
      to[FI_RGBA_RED] = UnitToByte(from[x].red);
      to[FI_RGBA_ALPHA] = UnitToByte(from[x].alpha);
    }
  }
  return out;
}

// One strip of the source, whatever its type, as a standard 32-bit bitmap.
Bitmap StripTo32Bits(FIBITMAP* part) {
  switch (FreeImage_GetImageType(part)) {
    case FIT_BITMAP:
    case FIT_RGB16:
    case FIT_RGBA16:
      return Bitmap(FreeImage_ConvertTo32Bits(part));
    case FIT_UINT16: {
      // High byte of each grey value, then grey to colour.
      Bitmap grey(FreeImage_ConvertTo8Bits(part));
      return grey ? Bitmap(FreeImage_ConvertTo32Bits(grey.get())) : nullptr;
    }
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF:
      return FloatTo32Bits(part);
    default:
      return nullptr;
  }
}

}  // namespace

CEngineBuffers::~CEngineBuffers() {
  Unmap(m_dest, m_destBytes);
  Unmap(m_source, m_sourceBytes);
}

uint8_t* CEngineBuffers::CreateSource(FIBITMAP* source, const resize::Region& region,
                                      SourceHeader& out, const std::function<bool()>& stop) {
  if (!source) return nullptr;
  const int64_t sourceWidth = FreeImage_GetWidth(source);
  const int64_t sourceHeight = FreeImage_GetHeight(source);
  const int64_t right = std::min(region.right, sourceWidth);
  const int64_t bottom = std::min(region.bottom, sourceHeight);
  const int64_t w = right - region.left;
  const int64_t h = bottom - region.top;
  if (region.left < 0 || region.top < 0 || w <= 0 || h <= 0 ||
      w > std::numeric_limits<int>::max() || h > std::numeric_limits<int>::max())
    return nullptr;

  Unmap(m_source, m_sourceBytes);
  const uint64_t rowBytes = static_cast<uint64_t>(w) * 4;
  m_sourceBytes = rowBytes * static_cast<uint64_t>(h);
  m_source = MapAnonymous(m_sourceBytes);
  if (!m_source) {
    m_sourceBytes = 0;
    return nullptr;
  }

  // Integer and double images have no fixed range: they are scaled over the
  // whole region at once, so that every strip is scaled alike.
  FIBITMAP* from = source;
  int64_t left = region.left;
  int64_t top = region.top;
  Bitmap scaled;
  if (IsScalarWithoutByteConversion(FreeImage_GetImageType(source))) {
    Bitmap copy(FreeImage_Copy(source, static_cast<int>(left), static_cast<int>(top),
                               static_cast<int>(right), static_cast<int>(bottom)));
    if (copy) scaled.reset(FreeImage_ConvertToStandardType(copy.get(), TRUE));
    if (!scaled) {
      Unmap(m_source, m_sourceBytes);
      return nullptr;
    }
    from = scaled.get();
    left = 0;
    top = 0;
  }

  const int64_t stripRows = std::max<int64_t>(1, static_cast<int64_t>(kStripBytes / rowBytes));
  for (int64_t r0 = 0; r0 < h; r0 += stripRows) {
    const int64_t r1 = std::min(h, r0 + stripRows);
    Bitmap part(FreeImage_Copy(from, static_cast<int>(left), static_cast<int>(top + r0),
                               static_cast<int>(left + w), static_cast<int>(top + r1)));
    Bitmap strip = part ? StripTo32Bits(part.get()) : nullptr;
    if (!strip || (stop && stop())) {
      Unmap(m_source, m_sourceBytes);
      return nullptr;
    }
    // Scan line 0 is the strip's bottom row, region row r1 - 1; the buffer
    // starts with the region's bottom row.
    for (int64_t s = 0; s < r1 - r0; ++s)
      std::memcpy(m_source + static_cast<uint64_t>(h - r1 + s) * rowBytes,
                  FreeImage_GetScanLine(strip.get(), static_cast<int>(s)), rowBytes);
  }
  m_header = {static_cast<int>(w), static_cast<int>(h)};
  out = m_header;
  return m_source;
}

uint8_t* CEngineBuffers::CreateDest(int64_t width, int64_t height) {
  if (!m_source) return nullptr;
  const std::optional<uint64_t> bytes =
      resize::DestBufferBytes({width, height}, static_cast<uint64_t>(m_header.width),
                              static_cast<uint64_t>(m_header.height));
  if (!bytes) return nullptr;
  Unmap(m_dest, m_destBytes);
  m_dest = MapAnonymous(*bytes);
  if (m_dest) m_destBytes = *bytes;
  return m_dest;
}
