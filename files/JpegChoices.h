#pragma once

#include <optional>
#include <string_view>

// The photographer's choices for a JPEG: quality and colour subsampling.
// The window and the tool turn them into FreeImage's save flags through
// the same function, so that both write the same bytes. Any thread.
namespace files {

struct JpegChoices {
  static constexpr int kDefaultQuality = 75;
  int quality = kDefaultQuality;  // 1 to 100
  bool fullColour = false;        // 4:4:4 instead of 4:2:0
};

// FreeImage's JPEG save flags for choices.
int JpegSaveFlags(const JpegChoices& choices);

// "4:2:0"/"420" and "4:4:4"/"444": whether the colour is kept whole.
std::optional<bool> ParseSubsampling(std::string_view text);

}  // namespace files
