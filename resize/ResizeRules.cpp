#include "resize/ResizeRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#include "platform/NumberParsing.h"

namespace resize {
namespace {

constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > kMax64 / a) return kMax64;
  return a * b;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return b > kMax64 - a ? kMax64 : a + b; }

// A double truncated toward zero and kept within 0..INT64_MAX.
int64_t TruncatedSide(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(value);
}

}  // namespace

std::optional<int> ReadPercentText(std::string_view text) {
  if (!text.empty() && text.back() == '%') text.remove_suffix(1);
  const platform::LeadingInt number = platform::ParseLeadingInt(text);
  if (number.overflow || number.value < kMinPercent || number.value > kMaxPercent)
    return std::nullopt;
  return number.value;
}

Size64 TargetSize(uint64_t sourceWidth, uint64_t sourceHeight, double scale) {
  return {TruncatedSide(static_cast<double>(sourceWidth) * scale),
          TruncatedSide(static_cast<double>(sourceHeight) * scale)};
}

Size64 TargetFor(uint64_t sourceWidth, uint64_t sourceHeight, const TargetRequest& request) {
  const bool byWidth = request.width > 0;
  const bool byHeight = request.height > 0;
  if (!byWidth && !byHeight) return TargetSize(sourceWidth, sourceHeight, request.percent / 100.0);
  if (byWidth && byHeight) return {request.width, request.height};
  // The side that follows: asked x other source side / source side, in
  // 128 bits so that no product of 64-bit sides wraps.
  const auto follow = [](int64_t asked, uint64_t along, uint64_t across) -> int64_t {
    if (along == 0) return 0;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(asked) * across;
    const unsigned __int128 rounded =
        (2 * scaled + along) / (2 * static_cast<unsigned __int128>(along));
    const unsigned __int128 limit = std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(std::clamp<unsigned __int128>(rounded, 1, limit));
  };
  if (byWidth) return {request.width, follow(request.width, sourceWidth, sourceHeight)};
  return {follow(request.height, sourceHeight, sourceWidth), request.height};
}

uint64_t EnlargementPeakBytes(Size64 target, uint64_t regionWidth, uint64_t regionHeight) {
  const std::optional<uint64_t> dest = DestBufferBytes(target, regionWidth, regionHeight);
  if (!dest) return kMax64;
  const uint64_t width = static_cast<uint64_t>(target.width);
  const uint64_t height = static_cast<uint64_t>(target.height);
  uint64_t bytes = *dest;
  bytes = SaturatingAdd(bytes, SaturatingMul(SaturatingMul(width, height), 4));
  bytes = SaturatingAdd(bytes, SaturatingMul(CompactStride(width), height));
  return SaturatingAdd(bytes, SaturatingMul(SaturatingMul(regionWidth, regionHeight), 4));
}

MemoryPlan PlanMemory(int percent, uint64_t sourceWidth, uint64_t sourceHeight, Size64 target,
                      uint64_t availableBytes, uint64_t freeableBytes) {
  if (percent <= 100 || target.width <= 0 || target.height <= 0) return {MemoryFit::Whole, 0};
  const uint64_t available = SaturatingAdd(availableBytes, freeableBytes);
  const uint64_t usable = available - available / 8;
  auto peakFor = [&](uint64_t budget) {
    const Region region = SourceRegion(sourceWidth, sourceHeight, target, true, budget);
    return EnlargementPeakBytes(target, static_cast<uint64_t>(region.Width()),
                                static_cast<uint64_t>(region.Height()));
  };
  if (EnlargementPeakBytes(target, sourceWidth, sourceHeight) <= usable)
    return {MemoryFit::Whole, 0};
  if (peakFor(0) > usable) return {MemoryFit::Never, 0};
  // The crop grows with the budget: the largest budget that still fits.
  uint64_t fits = 0;
  uint64_t tooMuch = target.Pixels();
  while (tooMuch - fits > 1) {
    const uint64_t middle = fits + (tooMuch - fits) / 2;
    if (peakFor(middle) <= usable)
      fits = middle;
    else
      tooMuch = middle;
  }
  return {MemoryFit::Cropped, fits};
}

std::string NotEnoughMemoryText(int64_t width, int64_t height) {
  return "There is not enough memory to enlarge the picture to " + std::to_string(width) + " x " +
         std::to_string(height) + " pixels.";
}

int LargestWholePercent(uint64_t sourceWidth, uint64_t sourceHeight, uint64_t availableBytes,
                        uint64_t freeableBytes, int below) {
  const auto fits = [&](int percent) {
    const Size64 target = TargetSize(sourceWidth, sourceHeight, percent / 100.0);
    return PlanMemory(percent, sourceWidth, sourceHeight, target, availableBytes, freeableBytes)
               .fit == MemoryFit::Whole;
  };
  // The peak grows with the percent: the last one that fits, by halving.
  int fitting = 100;
  int tooLarge = std::max(below, 101);
  while (tooLarge - fitting > 1) {
    const int middle = fitting + (tooLarge - fitting) / 2;
    if (fits(middle))
      fitting = middle;
    else
      tooLarge = middle;
  }
  return fitting;
}

std::string LargestPercentText(int percent) {
  return "The largest enlargement that fits in the memory available now is " +
         std::to_string(percent) + "%.";
}

std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo) {
  constexpr std::string_view kKey = "MemAvailable:";
  size_t at = 0;
  while ((at = meminfo.find(kKey, at)) != std::string_view::npos) {
    if (at == 0 || meminfo[at - 1] == '\n') break;
    at += kKey.size();
  }
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = meminfo.substr(at + kKey.size());
  rest = rest.substr(0, rest.find('\n'));
  // Kibibytes, read as 64 bits: large machines exceed what a 32-bit reader holds.
  size_t pos = rest.find_first_not_of(" \t");
  if (pos == std::string_view::npos || rest[pos] < '0' || rest[pos] > '9') return std::nullopt;
  uint64_t kib = 0;
  for (; pos < rest.size() && rest[pos] >= '0' && rest[pos] <= '9'; ++pos)
    kib = SaturatingAdd(SaturatingMul(kib, 10), static_cast<uint64_t>(rest[pos] - '0'));
  return SaturatingMul(kib, 1024);
}

std::optional<uint64_t> AvailableMemoryBytes() {
  std::ifstream file("/proc/meminfo");
  if (!file) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return ParseMemAvailable(text);
}

Region SourceRegion(uint64_t sourceWidth, uint64_t sourceHeight, Size64 target, bool cropToBudget,
                    uint64_t pixelBudget) {
  const auto srcW = static_cast<int64_t>(sourceWidth);
  const auto srcH = static_cast<int64_t>(sourceHeight);
  const uint64_t targetPixels = target.Pixels();
  if (!cropToBudget || targetPixels == 0 || pixelBudget >= targetPixels) return {0, 0, srcW, srcH};
  const double ratio =
      std::sqrt(static_cast<double>(pixelBudget) / static_cast<double>(targetPixels));
  const int64_t cw = std::clamp<int64_t>(TruncatedSide(static_cast<double>(srcW) * ratio), 1, srcW);
  const int64_t ch = std::clamp<int64_t>(TruncatedSide(static_cast<double>(srcH) * ratio), 1, srcH);
  const int64_t left = (srcW - cw) / 2;
  const int64_t top = (srcH - ch) / 2;
  return {left, top, left + cw, top + ch};
}

uint64_t CompactStride(uint64_t width) { return (width + 1) * 3 / 4 * 4; }

std::optional<uint64_t> DestBufferBytes(Size64 target, uint64_t regionWidth,
                                        uint64_t regionHeight) {
  if (target.width <= 0 || target.height <= 0 || regionWidth == 0 || regionHeight == 0)
    return std::nullopt;
  const uint64_t bufW = std::max(static_cast<uint64_t>(target.width), 2 * regionWidth - 1);
  const uint64_t bufH = std::max(static_cast<uint64_t>(target.height), 2 * regionHeight - 1);
  const uint64_t bytes = SaturatingMul(SaturatingMul(bufW, bufH), 4);
  if (bytes == kMax64) return std::nullopt;
  return bytes;
}

void CompactRowTo24(uint8_t* buffer, uint64_t row, uint64_t width, uint64_t stride) {
  const uint8_t* from = buffer + row * width * 4;
  uint8_t* to = buffer + row * stride;
  // Byte by byte and forwards: in row 0 the first pixel moves onto itself.
  for (uint64_t x = 0; x < width; ++x, from += 4, to += 3) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
  }
}

int CompactionReport(uint64_t row, uint64_t height) {
  return height == 0 ? 0 : static_cast<int>(255 * row / height);
}

int TitlePercent(int position, int upper) {
  if (upper <= 0) return 0;
  return std::min(position * 100 / upper, 99);
}

std::string JobTitle(std::string_view base, int percent, bool paused, uint64_t tick) {
  static constexpr const char* kDots[] = {".", " .", "  .", "    ."};
  const char* suffix = paused ? " - paused" : kDots[tick % 4];
  char number[32];
  std::snprintf(number, sizeof number, " [%d%%] ", percent);
  return std::string(base) + number + suffix;
}

}  // namespace resize
