#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <functional>

// What a file's own layout says about its first picture, read from the file
// before any decoder sees it: how many bytes the file must hold for the
// declared picture, and, for formats whose decoders cannot report a size
// without decoding, the size it declares. Plain functions of the decoder
// process; every field read is checked against the file's end.
namespace decoder {

// Reads up to count bytes at offset into to; returns how many it read.
using ReadAt = std::function<size_t(uint64_t offset, void* to, size_t count)>;

struct Layout {
  // The file must be at least this long to hold the picture; 0: the layout
  // does not tell (compressed data whose end only the decoder finds).
  uint64_t neededBytes = 0;
  // The declared size and the bits per pixel of the bitmap FreeImage makes
  // of it (128: four floats); 0 where not read here.
  uint32_t width = 0, height = 0, bpp = 0;
  // The most bitmap bytes one byte of this file can decode to, where the
  // header names the coding (a TIFF's compression); 0: the format's figure.
  uint64_t expansion = 0;
  // The layout contradicts itself or the file: no decoder can make a
  // picture of it (a header cut short, a chunk longer than the rest of the
  // file, sizes that disagree).
  bool broken = false;
};

Layout ReadLayout(FREE_IMAGE_FORMAT fif, uint64_t fileBytes, const ReadAt& read);

}  // namespace decoder
