#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

// FreeImage's TIFF reader takes the colour profile's address from the first
// directory, then reads that directory's Exif directory, which frees the
// profile, and then copies the profile from freed memory. The decoder hides
// such a profile from FreeImage (its entry reads as one of no known type, so
// the reader passes it by) and reads it itself. Plain functions of the
// decoder process.
namespace decoder {

// Puts count bytes of the file from offset on at to; false when they cannot be had.
using FileReader = std::function<bool(uint64_t offset, void* to, size_t count)>;

struct TiffProfile {
  uint64_t typeAt = 0;  // the two bytes of the profile entry's type
  uint64_t dataAt = 0;
  uint32_t size = 0;
};

// The profile of a TIFF's first directory (classic or big TIFF) when that
// directory also links an Exif directory; nullopt otherwise, or when the
// profile does not lie within the file's fileBytes.
std::optional<TiffProfile> ProfileFreedOnRead(const FileReader& read, uint64_t fileBytes);

// Makes the bytes just read from the file at offset (count of them, at
// bytes) show the profile's entry with no type.
void HideProfile(const TiffProfile& profile, uint64_t offset, void* bytes, size_t count);

}  // namespace decoder
