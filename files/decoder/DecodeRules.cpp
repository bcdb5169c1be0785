#include "files/decoder/DecodeRules.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "files/ByteOrder.h"
#include "views/DisplayMemory.h"

namespace decoder {

namespace {

// BI_RGB and BI_BITFIELDS store rows raw; the run-length codings can skip any
// number of pixels with one escape. The old core header (under 40 bytes) has
// no compression.
bool BmpIsRaw(std::string_view head) {
  const uint32_t compression = files::Little32(head, 14) >= 40 ? files::Little32(head, 30) : 0;
  return compression == 0 || compression == 3;
}

// P4, P5 and P6 hold binary rows; the others are text.
bool PnmIsBinary(std::string_view head) {
  return head.size() >= 2 && head[0] == 'P' && head[1] >= '4' && head[1] <= '6';
}

// The most bitmap bytes that one byte of file can decode to in the format's
// coding, counted in the bitmap FreeImage makes (which widens 2- and 4-bit
// samples to 8 and some colour types to 32 bits: up to four times the coded
// samples).
//  - Raw rows: 4, for row padding and that widening.
//  - Run-length codings: one count and one value for up to 128 samples
//    (PackBits, Targa, PSD, SGI), 63 (PCX) or 127 (HDR, into 12-byte float
//    pixels): 1024 covers them all.
//  - Deflate (PNG, TIFF): a length-258 match costs at least two bits, so at
//    most 1032 bytes per byte, times the widening: 4128.
//  - LZW (GIF, TIFF): one 12-bit code yields at most one string of the
//    4096-entry table, under 2731 bytes per byte: 4096.
//  - Huffman-coded JPEG: every 8 x 8 block of every component costs at
//    least one bit (its DC difference), and at least one component has a
//    block per 64 pixels however the others are subsampled: a byte makes at
//    most 512 pixels, under 1725 bitmap bytes even for CMYK: 2048.
//  - Codings with no such bound (lossless WebP, arithmetic-coded JPEG,
//    JPEG 2000, fax, camera raws, EXR): 8192, beyond what photographs and
//    drawings reach, and small enough that a 1 KB file cannot ask for more
//    than 8 MB. A picture of one flat colour can go beyond it in these
//    codings and is refused.
uint64_t MaxExpansion(FREE_IMAGE_FORMAT fif, std::string_view head) {
  constexpr uint64_t kRaw = 4;
  constexpr uint64_t kRunLength = 1024;
  constexpr uint64_t kDeflate = 4128;
  constexpr uint64_t kLzw = 4096;
  constexpr uint64_t kJpeg = 2048;
  constexpr uint64_t kUnbounded = 8192;
  switch (fif) {
    case FIF_BMP:
      // Its run-length codings can skip any number of pixels with one escape.
      return BmpIsRaw(head) ? kRaw : kUnbounded;
    case FIF_PBM:
    case FIF_PBMRAW:
    case FIF_PGM:
    case FIF_PGMRAW:
    case FIF_PPM:
    case FIF_PPMRAW:
    case FIF_PFM:
    case FIF_XPM:
    case FIF_XBM:
    case FIF_WBMP:
    case FIF_DDS:
      return kRaw;
    case FIF_RAS:
    case FIF_TARGA:
    case FIF_PCX:
    case FIF_PSD:
    case FIF_CUT:
    case FIF_HDR:
    case FIF_IFF:
    case FIF_SGI:
    case FIF_PICT:
      return kRunLength;
    case FIF_PNG:
    case FIF_MNG:
    case FIF_ICO:  // its pictures may be PNG
      return kDeflate;
    case FIF_GIF:
      return kLzw;
    case FIF_JPEG:
    case FIF_JNG:
      return kJpeg;
    default:
      return kUnbounded;
  }
}

constexpr uint64_t kSmallFile = 64 * 1024;  // headers and palettes of any small file
constexpr uint64_t kRawLimit = 4;           // how far a layout may outgrow its file

}  // namespace

PictureSize SizeOf(FIBITMAP* bitmap) {
  return {FreeImage_GetWidth(bitmap), FreeImage_GetHeight(bitmap),
          uint64_t{FreeImage_GetPitch(bitmap)} * FreeImage_GetHeight(bitmap),
          views::ReducedBytesPerPixel(bitmap)};
}

bool FitsInMemory(FIBITMAP* bitmap, uint64_t memoryAvailable) {
  return FitsInMemory(SizeOf(bitmap), memoryAvailable);
}

uint64_t MemoryToOpen(const PictureSize& size) {
  // Width and height are below 2^32 each, a pitch below 2^36: no sum wraps.
  const uint64_t handedOver = 3 * size.pixelBytes;
  const uint64_t shown =
      size.pixelBytes + views::ReducedCopiesBytes(size.width, size.height, size.reducedBytes);
  return std::max(handedOver, shown);
}

bool FitsInMemory(const PictureSize& size, uint64_t memoryAvailable) {
  return MemoryToOpen(size) <= memoryAvailable;
}

SizeVerdict JudgeDeclaredSize(FREE_IMAGE_FORMAT fif, const PictureSize& size, uint64_t fileBytes,
                              uint64_t memoryAvailable, std::string_view head,
                              const Layout& layout) {
  if (!FitsInMemory(size, memoryAvailable)) return SizeVerdict::TooLarge;
  // A file far shorter than its own layout needs is no picture cut short.
  if (layout.neededBytes > kRawLimit * fileBytes + kSmallFile) return SizeVerdict::CannotHold;
  const uint64_t expansion = layout.expansion ? layout.expansion : MaxExpansion(fif, head);
  return size.pixelBytes <= expansion * fileBytes + kSmallFile ? SizeVerdict::Fits
                                                               : SizeVerdict::CannotHold;
}

uint64_t DecodingAllowance(FREE_IMAGE_FORMAT fif, uint64_t fileBytes, std::string_view head) {
  // Codecs' tables, line buffers and intermediate planes.
  constexpr uint64_t kDecoderRoom = uint64_t{64} << 20;
  return MaxExpansion(fif, head) * fileBytes + kSmallFile + kDecoderRoom;
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
      return true;
    case FIF_TARGA:
      // Raw rows only: the run-length decoder reads ahead in blocks.
      return head.size() > 2 && uint8_t(head[2]) < 9;
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
