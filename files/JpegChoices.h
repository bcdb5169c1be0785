#pragma once

#include <optional>
#include <string>
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

// The quality a JPEG file was written at, as libjpeg's scaling of its
// standard luminance table gives it (1 to 100); nullopt for a file that is
// not a baseline or progressive JPEG with such a table.
std::optional<int> EstimateJpegQuality(const std::string& path);

// The status bar's word when quality is well below the source's estimated
// one; empty otherwise (a higher quality costs nothing but bytes).
std::string QualityBelowSourceNote(int quality, std::optional<int> sourceQuality);

}  // namespace files
