#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string>
#include <vector>

// What a picture carries besides its pixels, taken from a source to its
// resized result: the ICC profile, the print resolution, and the comment,
// IPTC, XMP and EXIF metadata (FreeImage's models), the latter two made true
// for the result's size. The EXIF travels as one block (FreeImage's raw EXIF
// model), which the JPEG writer stores as it is and the PNG and TIFF writers
// are given by FormatMetadata; it never carries a thumbnail. Any thread, one
// bitmap per call.
namespace files {

// factorX and factorY: result pixels per source pixel, as the resize made them.
// The source is upright (as opened): the result says orientation 1. Gives
// the status bar's word on what was too large to carry; empty when all was.
std::string CarryMetadata(FIBITMAP* source, FIBITMAP* result, double factorX, double factorY);

// Puts what CarryMetadata gave `from` on `to` as well (a conversion of it
// made for saving).
void CopyCarriedMetadata(FIBITMAP* from, FIBITMAP* to);

// Puts a tag of size bytes at data on bitmap in model, under key.
void SetBytesTag(FREE_IMAGE_MDMODEL model, FIBITMAP* bitmap, const char* key,
                 FREE_IMAGE_MDTYPE type, const void* data, size_t size);

// The EXIF block a bitmap carries, without its "Exif\0\0" mark; empty when none.
std::vector<uint8_t> CarriedExif(FIBITMAP* bitmap);

}  // namespace files
