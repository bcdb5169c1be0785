#pragma once

#include <FreeImage.h>

#include <cstdint>

// What a view keeps in memory to show a bitmap, beyond the bitmap itself.
// Plain functions of FreeImage only, so that the decoder process can count
// with them too; they read the bitmap's header, never its pixels.
namespace views {

// Bytes per pixel of the reduced copies a view makes of bitmap: 1 for grey
// kinds, 3 for colour, 4 for colour that may carry transparency.
int ReducedBytesPerPixel(FIBITMAP* bitmap);

// The most that a view's reduced copies of a width x height picture take at
// once, with bytesPerPixel as ReducedBytesPerPixel says: the copy shown and
// the one being made for the next zoom, each up to just under the picture's
// size, and the half-size copy that smaller zooms start from. Everything
// else a view keeps is in proportion to the screen.
uint64_t ReducedCopiesBytes(uint64_t width, uint64_t height, int bytesPerPixel);

}  // namespace views
