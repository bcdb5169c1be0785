#pragma once

#include <FreeImage.h>

// What a file format can hold: before writing, a bitmap whose type or depth
// the format cannot store is turned into the nearest one it can, so that no
// file is written that cannot be read back. Any thread.
namespace files {

// bitmap itself when fif holds it as it is; otherwise a new bitmap (the
// caller's to free) of the nearest type fif holds, with the bitmap's carried
// metadata: 48/64-bit colour to 24/32 bits, 16-bit grey to 8 bits, floating
// point to 24/32 bits, and for a format without transparency (JPEG) the
// picture flattened over white. Null when there is no such conversion.
FIBITMAP* ExportableBitmap(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif);

}  // namespace files
