#include "files/decoder/DecodeRules.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "views/DisplayMemory.h"

namespace decoder {

namespace {

uint32_t Little32(std::string_view head, size_t at) {
  if (head.size() < at + 4) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t(uint8_t(head[at + i])) << (8 * i);
  return value;
}

// BI_RGB and BI_BITFIELDS store rows raw; the run-length codings can skip any
// number of pixels with one escape. The old core header (under 40 bytes) has
// no compression.
bool BmpIsRaw(std::string_view head) {
  const uint32_t compression = Little32(head, 14) >= 40 ? Little32(head, 30) : 0;
  return compression == 0 || compression == 3;
}

// P4, P5 and P6 hold binary rows; the others are text.
bool PnmIsBinary(std::string_view head) {
  return head.size() >= 2 && head[0] == 'P' && head[1] >= '4' && head[1] <= '6';
}

// The most pixel bytes a format's coding can make of one byte of file.
// Zero: no bound short of the memory rule (deflate, DCT, wavelets).
uint64_t MaxExpansion(FREE_IMAGE_FORMAT fif, std::string_view head) {
  constexpr uint64_t kRaw = 4;           // raw rows, padding and palette growth allowed
  constexpr uint64_t kRunLength = 1024;  // one run byte and one value for many pixels
  switch (fif) {
    case FIF_BMP:
      return BmpIsRaw(head) ? kRaw : 0;
    case FIF_PBM:
    case FIF_PBMRAW:
    case FIF_PGM:
    case FIF_PGMRAW:
    case FIF_PPM:
    case FIF_PPMRAW:
    case FIF_PFM:
    case FIF_XPM:
      return kRaw;
    case FIF_RAS:
    case FIF_TARGA:
    case FIF_PCX:
    case FIF_PSD:
    case FIF_CUT:
    case FIF_HDR:
    case FIF_ICO:
      return kRunLength;
    default:
      return 0;
  }
}

constexpr uint64_t kSmallFile = 64 * 1024;  // headers and palettes of any small file

uint64_t PixelBytes(FIBITMAP* bitmap) {
  return uint64_t{FreeImage_GetPitch(bitmap)} * FreeImage_GetHeight(bitmap);
}

}  // namespace

uint64_t MemoryToOpen(FIBITMAP* bitmap) {
  // Width and height are below 2^32 each, a pitch below 2^36: no sum wraps.
  const uint64_t pixels = PixelBytes(bitmap);
  const uint64_t handedOver = 3 * pixels;
  const uint64_t shown = pixels + views::ReducedCopiesBytes(bitmap);
  return std::max(handedOver, shown);
}

bool FitsInMemory(FIBITMAP* bitmap, uint64_t memoryAvailable) {
  return MemoryToOpen(bitmap) <= memoryAvailable;
}

bool DeclaredSizeFits(FREE_IMAGE_FORMAT fif, FIBITMAP* header, uint64_t fileBytes,
                      uint64_t memoryAvailable, std::string_view head) {
  if (!FitsInMemory(header, memoryAvailable)) return false;
  const uint64_t pixelBytes = PixelBytes(header);
  const uint64_t expansion = MaxExpansion(fif, head);
  return expansion == 0 || pixelBytes <= expansion * fileBytes + kSmallFile;
}

bool SaysDataEnded(std::string_view message) {
  std::string lower(message);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (std::string_view phrase :
       {"premature end", "truncat", "end of file", "unexpected end", "not enough data", "eof"}) {
    if (lower.find(phrase) != std::string::npos) return true;
  }
  return false;
}

bool ReadsExactly(FREE_IMAGE_FORMAT fif, std::string_view head) {
  switch (fif) {
    case FIF_BMP:
    case FIF_GIF:
    case FIF_PSD:
    case FIF_RAS:
    case FIF_PFM:
    case FIF_TARGA:
      return true;
    case FIF_PBM:
    case FIF_PBMRAW:
    case FIF_PGM:
    case FIF_PGMRAW:
    case FIF_PPM:
    case FIF_PPMRAW:
      // One decoder for all six, whichever the file type said.
      return PnmIsBinary(head);
    default:
      return false;
  }
}

}  // namespace decoder
