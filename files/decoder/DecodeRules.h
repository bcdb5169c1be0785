#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string_view>

// What the decoder process refuses before it decodes, and how it tells that a
// decoder ran out of data. Plain functions of the decoder process.
namespace decoder {

// The most memory that opening and showing bitmap (loaded, or loaded without
// pixels) takes at once: while it is handed over, the decoder's bitmap, its
// pixels on their way to the program, and the program's own bitmap; once it
// is shown, the program's bitmap and the view's reduced copies. An
// enlargement's 32-bit copy of it is the resize's own, counted when one
// starts.
uint64_t MemoryToOpen(FIBITMAP* bitmap);

// MemoryToOpen(bitmap) fits in memoryAvailable bytes.
bool FitsInMemory(FIBITMAP* bitmap, uint64_t memoryAvailable);

// The declared size of header (a bitmap loaded without pixels) fits in memory
// and, for a format that stores pixels raw or run-length coded, is not far
// beyond what a file of fileBytes can hold. head is the file's first bytes.
bool DeclaredSizeFits(FREE_IMAGE_FORMAT fif, FIBITMAP* header, uint64_t fileBytes,
                      uint64_t memoryAvailable, std::string_view head);

// A message of FreeImage or of a codec under it that says the data ended early.
bool SaysDataEnded(std::string_view message);

// The format's decoder asks for exactly the bytes it needs, so that a read
// that comes back short means the file ended early. Others read ahead in
// blocks, or read text up to a delimiter, and come back short at the end of
// every file. head is the file's first bytes.
bool ReadsExactly(FREE_IMAGE_FORMAT fif, std::string_view head);

}  // namespace decoder
