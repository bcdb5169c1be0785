#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string>

// The largest picture each written format can hold, checked before any work
// is done for it. Plain functions; any thread.
namespace files {

// Why a picture of width x height pixels at bitsPerPixel cannot be written
// as fif, naming the format and its limit ("JPEG holds at most 65,500
// pixels a side; the picture is 80,000 x 500"); empty when it can.
std::string FormatLimitFailure(FREE_IMAGE_FORMAT fif, uint64_t width, uint64_t height,
                               unsigned bitsPerPixel);

// Why none of the types the save dialog offers can hold such a picture,
// with the largest limit among them; empty when one can.
std::string NoSaveFormatHolds(uint64_t width, uint64_t height, unsigned bitsPerPixel);

// The bits per pixel a resize of source gives: an enlargement is 8 bits a
// channel, with alpha when the source has it; a reduction keeps the
// source's depth (palettes become 24 or 32 bits).
unsigned ResultBitsPerPixel(FIBITMAP* source, bool enlargement);

}  // namespace files
