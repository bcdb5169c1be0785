#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string_view>

#include "files/decoder/FileLayout.h"

// What the decoder process refuses before it decodes, and how it tells that a
// decoder ran out of data. Plain functions of the decoder process.
namespace decoder {

// A picture's size, its bitmap's bytes (pitch x height), and the bytes per
// pixel of the reduced copies a view makes of it (4, the most, when only the
// file's layout tells the size).
struct PictureSize {
  uint64_t width = 0, height = 0, pixelBytes = 0;
  int reducedBytes = 4;
};
PictureSize SizeOf(FIBITMAP* bitmap);

// The most memory that opening and showing a picture takes at once: while it
// is handed over, the decoder's bitmap, its pixels on their way to the
// program, and the program's own bitmap; once it is shown, the program's
// bitmap and the view's reduced copies. An enlargement's 32-bit copy of it
// is the resize's own, counted when one starts.
uint64_t MemoryToOpen(const PictureSize& size);

// MemoryToOpen fits in memoryAvailable bytes.
bool FitsInMemory(FIBITMAP* bitmap, uint64_t memoryAvailable);
bool FitsInMemory(const PictureSize& size, uint64_t memoryAvailable);

enum class SizeVerdict {
  Fits,
  TooLarge,    // cannot fit in the memory available
  CannotHold,  // far beyond what the file can hold in its format's coding
};

// Judges a declared size (of a bitmap loaded without pixels, of one that a
// layout declares, or of a loaded one). head is the file's first bytes;
// layout is what the file's own layout says.
SizeVerdict JudgeDeclaredSize(FREE_IMAGE_FORMAT fif, const PictureSize& size, uint64_t fileBytes,
                              uint64_t memoryAvailable, std::string_view head,
                              const Layout& layout);

// The address space a decoder may take beyond what it started with when the
// picture's size could not be judged before decoding: what the format's
// coding can make of fileBytes, and room for the decoder's own buffers.
uint64_t DecodingAllowance(FREE_IMAGE_FORMAT fif, uint64_t fileBytes, std::string_view head);

// A message of FreeImage or of a codec under it that says the data ended early.
bool SaysDataEnded(std::string_view message);

// The format's decoder asks for exactly the bytes it needs, so that a read
// that comes back short means the file ended early. Others read ahead in
// blocks, or read text up to a delimiter, and come back short at the end of
// every file. head is the file's first bytes.
bool ReadsExactly(FREE_IMAGE_FORMAT fif, std::string_view head);

}  // namespace decoder
