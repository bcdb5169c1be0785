#include "files/SaveLimits.h"

#include "files/SaveNames.h"

namespace files {
namespace {

// libjpeg refuses sides above this (a tad under the format's 65,535).
constexpr uint64_t kJpegMaxSide = 65500;
// libpng writes and reads no side above its user limit.
constexpr uint64_t kPngMaxSide = 1000000;
// BMP and TIFF (without BigTIFF) address their data with 32-bit offsets.
constexpr uint64_t kMaxDataBytes = (uint64_t{1} << 32) - 1;

// 1234567 -> "1,234,567".
std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

std::string Picture(uint64_t width, uint64_t height) {
  return "; the picture is " + Grouped(width) + " \u00d7 " + Grouped(height) + " pixels";
}

std::string SideLimit(const char* format, uint64_t limit, uint64_t width, uint64_t height) {
  if (width <= limit && height <= limit) return {};
  return std::string(format) + " holds at most " + Grouped(limit) + " pixels a side" +
         Picture(width, height);
}

std::string DataLimit(const char* format, uint64_t rowBytes, uint64_t width, uint64_t height) {
  // Sides past 2^31 overflow the 32-bit fields before the data does.
  if (width <= INT32_MAX && height <= INT32_MAX &&
      (height == 0 || rowBytes <= kMaxDataBytes / height))
    return {};
  return std::string(format) + " holds at most 4 GiB of picture data" + Picture(width, height);
}

}  // namespace

std::string FormatLimitFailure(FREE_IMAGE_FORMAT fif, uint64_t width, uint64_t height,
                               unsigned bitsPerPixel) {
  switch (fif) {
    case FIF_JPEG:
      return SideLimit("JPEG", kJpegMaxSide, width, height);
    case FIF_PNG:
      return SideLimit("PNG", kPngMaxSide, width, height);
    case FIF_BMP:
      // Rows are padded to four bytes.
      return DataLimit("BMP", (width * bitsPerPixel + 31) / 32 * 4, width, height);
    case FIF_TIFF:
      return DataLimit("TIFF", (width * bitsPerPixel + 7) / 8, width, height);
    default:
      return {};
  }
}

std::string NoSaveFormatHolds(uint64_t width, uint64_t height, unsigned bitsPerPixel) {
  for (const SaveFormat& format : SaveFormats())
    if (FormatLimitFailure(format.fif, width, height, bitsPerPixel).empty()) return {};
  // PNG holds the widest pictures of the four.
  return "no file type Magnova saves can hold it: " +
         FormatLimitFailure(FIF_PNG, width, height, bitsPerPixel);
}

unsigned ResultBitsPerPixel(FIBITMAP* source, bool enlargement) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(source);
  const bool alpha = type == FIT_RGBA16 || type == FIT_RGBAF ||
                     (type == FIT_BITMAP && FreeImage_GetBPP(source) == 32) ||
                     FreeImage_IsTransparent(source);
  if (enlargement || type == FIT_BITMAP) {
    const unsigned bpp = FreeImage_GetBPP(source);
    if (!enlargement && type == FIT_BITMAP && bpp >= 24) return bpp;
    if (!enlargement && bpp == 8 && FreeImage_GetColorType(source) == FIC_MINISBLACK) return 8;
    return alpha ? 32 : 24;
  }
  return FreeImage_GetBPP(source);
}

}  // namespace files
