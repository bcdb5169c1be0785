#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

// What the decoder reads itself from a TIFF's first directory (classic or
// big TIFF), where FreeImage's reader fails it. Plain functions of the
// decoder process; every offset and count is checked against the file.
//
// The colour profile: FreeImage's reader takes its address, then reads the
// directory's Exif directory, which frees the profile, and then copies the
// profile from freed memory. The decoder hides such a profile from FreeImage
// (its entry reads as one of no known type, so the reader passes it by) and
// reads it itself.
//
// The orientation: FreeImage's reader neither applies nor reports it.
//
// The samples per pixel: FreeImage's reader takes a grey or palette picture
// without the tag for one with an alpha sample, and makes an alpha table of
// neighbouring pixels' values. The tag's default is one sample: no alpha.
namespace decoder {

// Puts count bytes of the file from offset on at to; false when they cannot be had.
using FileReader = std::function<bool(uint64_t offset, void* to, size_t count)>;

struct TiffProfile {
  uint64_t typeAt = 0;  // the two bytes of the profile entry's type
  uint64_t dataAt = 0;
  uint32_t size = 0;
};

struct TiffFirstDirectory {
  // The profile, when the directory also links an Exif directory and the
  // profile lies within the file.
  std::optional<TiffProfile> freedProfile;
  // 1 to 8; 1 when absent, out of range, or already applied by the reader
  // (libtiff's colour conversion path, for YCbCr and Lab pictures).
  unsigned orientation = 1;
  // The SamplesPerPixel tag; 1, the default, when absent.
  uint64_t samplesPerPixel = 1;
};

// Nothing found for what is not a TIFF.
TiffFirstDirectory ReadFirstDirectory(const FileReader& read, uint64_t fileBytes);

// Makes the bytes just read from the file at offset (count of them, at
// bytes) show the profile's entry with no type.
void HideProfile(const TiffProfile& profile, uint64_t offset, void* bytes, size_t count);

}  // namespace decoder
