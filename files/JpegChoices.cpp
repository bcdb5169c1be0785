#include "files/JpegChoices.h"

#include <FreeImage.h>

#include <algorithm>

namespace files {

int JpegSaveFlags(const JpegChoices& choices) {
  // FreeImage reads a quality of 1 to 100 from the flags' low bits.
  return std::clamp(choices.quality, 1, 100) |
         (choices.fullColour ? JPEG_SUBSAMPLING_444 : JPEG_SUBSAMPLING_420);
}

std::optional<bool> ParseSubsampling(std::string_view text) {
  if (text == "4:2:0" || text == "420") return false;
  if (text == "4:4:4" || text == "444") return true;
  return std::nullopt;
}

}  // namespace files
