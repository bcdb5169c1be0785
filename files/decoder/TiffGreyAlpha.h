#pragma once

#include <FreeImage.h>

#include <cstdint>

#include "files/decoder/TiffFirstDirectory.h"

// FreeImage's reader keeps of a grey picture with an alpha sample one alpha
// per grey level (that of the last pixel of each grey), so that its
// transparency comes out wrong; the decoder reads such a picture itself,
// through libtiff. Plain functions of the decoder process.
namespace decoder {

// The picture of a TIFF's first directory when it is 8-bit grey with
// unassociated alpha in strips: a 32-bit bitmap, the grey in red, green and
// blue, bottom row first as FreeImage makes them, rows in the file's order.
// Null for any other picture, and when it cannot be read whole.
FIBITMAP* ReadGreyAlphaTiff(const FileReader& read, uint64_t fileBytes);

}  // namespace decoder
