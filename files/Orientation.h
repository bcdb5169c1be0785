#pragma once

#include <FreeImage.h>

// Pictures whose EXIF says they are stored turned or mirrored (a phone held
// upright stores its picture lying on its side, with orientation 6) are
// turned upright once, when they are opened; from then on every size shown,
// proposed and written is the upright one. Any thread, one bitmap per call.
namespace files {

// The EXIF orientation FreeImage read for bitmap: 1 (upright) to 8; 1 when
// it has none or a value outside that range.
unsigned ExifOrientation(FIBITMAP* bitmap);

// Gives bitmap the EXIF orientation tag (1 to 8) that FreeImage's readers
// report, for a reader that does not (TIFF).
void SetExifOrientation(FIBITMAP* bitmap, unsigned orientation);

// bitmap turned upright, with its metadata, profile and resolution, its
// orientation tag now 1. Takes bitmap: gives it back changed in place, or
// frees it and gives a new one. A bitmap FreeImage cannot turn is given back
// as it stands.
FIBITMAP* TurnUpright(FIBITMAP* bitmap);

}  // namespace files
