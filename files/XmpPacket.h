#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The XMP packet's statements about the picture's own geometry, made true
// for a resized, upright result. A packet is hostile text: it is read once,
// front to back, in time and stack that do not depend on what it holds.
// Plain functions, any thread.
namespace files {

// A larger packet is not carried: no real one comes near it, and a result
// is not the place for megabytes of text.
constexpr size_t kMostXmpBytes = size_t{4} << 20;

// xmp with every pixel size (exif:PixelXDimension, exif:PixelYDimension,
// tiff:ImageWidth, tiff:ImageLength) set to width and height and the
// orientation (tiff:Orientation) set to 1, upright. Both spellings are
// rewritten: an attribute name="digits" (either quote) and an element
// <name>digits<. Everything else is kept byte for byte.
std::string XmpForSize(std::string_view xmp, unsigned width, unsigned height);

}  // namespace files
