#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The resize job's arithmetic and rules: percent text, target size, memory
// budget, crop region, buffer sizes, the compaction to 24 bits and the title.
// Plain functions, any thread.
namespace resize {

constexpr int kMinPercent = 1;
constexpr int kMaxPercent = 2000;

// The percent box's text: one trailing '%' is dropped, the rest is read like
// atoi. Returns the percent, or nullopt when it is not within 1..2000 (no
// digits, zero, too large, or more digits than 32 bits hold).
std::optional<int> ReadPercentText(std::string_view text);

struct Size64 {
  int64_t width = 0;
  int64_t height = 0;
  uint64_t Pixels() const { return static_cast<uint64_t>(width) * static_cast<uint64_t>(height); }
};

// Source size times scale, each side truncated toward zero.
Size64 TargetSize(uint64_t sourceWidth, uint64_t sourceHeight, double scale);

// What a resize is asked to make: a whole percent of the source, or exact
// sides. A side of 0 is not asked for.
struct TargetRequest {
  int percent = 100;
  int64_t width = 0;
  int64_t height = 0;
};

// The size a request makes. Both sides asked for: exactly those. One side:
// exactly that one, and the other from the source's aspect ratio, rounded to
// the nearest pixel (halves up) and at least 1. Neither: the percent, each
// side truncated as TargetSize does.
Size64 TargetFor(uint64_t sourceWidth, uint64_t sourceHeight, const TargetRequest& request);

// Bytes an enlargement of a regionWidth x regionHeight part of the source to
// target holds at its peak: the engine's destination buffer, its working
// plane (one float a target pixel), the 24-bit result made from the buffer
// and the 32-bit copy of the region. Saturates instead of wrapping.
uint64_t EnlargementPeakBytes(Size64 target, uint64_t regionWidth, uint64_t regionHeight);

// Whether an enlargement fits in memory, whole or as a centred crop.
enum class MemoryFit { Whole, Cropped, Never };
struct MemoryPlan {
  MemoryFit fit = MemoryFit::Whole;
  uint64_t pixelBudget = 0;  // for Cropped: the largest budget whose crop fits
};

// The plan for a job at percent: the peak is weighed against the available
// bytes (the source, already loaded, is counted in them; freeableBytes, the
// previous result freed before the job, is added), less an eighth kept for
// the rest of the system. Reductions and 100 % are never weighed.
MemoryPlan PlanMemory(int percent, uint64_t sourceWidth, uint64_t sourceHeight, Size64 target,
                      uint64_t availableBytes, uint64_t freeableBytes);

// The message of an enlargement that cannot have its memory.
std::string NotEnoughMemoryText(int64_t width, int64_t height);

// The largest percent below `below` whose enlargement fits whole in the
// memory PlanMemory weighs; 100 when none above it does (100 % is never
// weighed).
int LargestWholePercent(uint64_t sourceWidth, uint64_t sourceHeight, uint64_t availableBytes,
                        uint64_t freeableBytes, int below);
// The refusal's second line and the status bar's word: that percent.
std::string LargestPercentText(int percent);

// "MemAvailable:" of /proc/meminfo's text, in bytes; nullopt when absent.
std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo);
// Reads /proc/meminfo; nullopt when it cannot be read.
std::optional<uint64_t> AvailableMemoryBytes();

// A rectangle of the source in top-down pixel coordinates; right and bottom
// are exclusive.
struct Region {
  int64_t left = 0;
  int64_t top = 0;
  int64_t right = 0;
  int64_t bottom = 0;
  int64_t Width() const { return right - left; }
  int64_t Height() const { return bottom - top; }
  bool operator==(const Region&) const = default;
};

// The part of the source that is enlarged to the target: the whole image, or
// when memory is short a centred part whose enlargement fits the budget. A
// cropped side never shrinks below one pixel.
Region SourceRegion(uint64_t sourceWidth, uint64_t sourceHeight, Size64 target, bool cropToBudget,
                    uint64_t pixelBudget);

// Pitch of a 24-bit row of width pixels: width x 3 brought up to a multiple of 4.
uint64_t CompactStride(uint64_t width);

// Bytes of the engine's destination buffer: room for the target and for the
// intermediate (2w - 1) x (2h - 1) image, 4 bytes a pixel. nullopt when the
// count does not fit in 64 bits or either size is not positive.
std::optional<uint64_t> DestBufferBytes(Size64 target, uint64_t regionWidth, uint64_t regionHeight);

// Moves row `row` of a buffer of 4-byte pixels, width pixels a row, to 3-byte
// pixels at row x stride in the same buffer (first three bytes of each pixel
// in order). Done for rows 0, 1, 2 ... in turn, no write overtakes a read.
void CompactRowTo24(uint8_t* buffer, uint64_t row, uint64_t width, uint64_t stride);

// The step value reported after compacting row `row` of `height`: 255 x row / height.
int CompactionReport(uint64_t row, uint64_t height);

// The job timer's title: "<base> [<percent>%] <suffix>", where the suffix is
// " - paused" or a dot moving with the tick counter. percent is the overall
// bar's position x 100 / upper limit, never 100.
int TitlePercent(int position, int upper);
std::string JobTitle(std::string_view base, int percent, bool paused, uint64_t tick);

}  // namespace resize
