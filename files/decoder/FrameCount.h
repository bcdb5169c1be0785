#pragma once

#include <FreeImage.h>

#include <cstdint>

#include "files/decoder/TiffFirstDirectory.h"

// How many pictures a file holds where its format holds several (the frames
// of a GIF, the pages of a TIFF, the icons of an ICO), read from the file's
// own structure; only the first is opened. Plain functions of the decoder
// process: every read is checked against the file, the walk ends at the
// file's end, and a chain that loops or runs on without end is cut short.
namespace decoder {

// The most pictures counted; a file that claims more is said to hold this many.
constexpr uint32_t kMostFrames = 100000;

// 1 for any other format, and for a file whose structure ends early after
// its first picture.
uint32_t CountFrames(FREE_IMAGE_FORMAT fif, uint64_t fileBytes, const FileReader& read);

}  // namespace decoder
