#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The EXIF block as JPEG's APP1 segment and PNG's eXIf chunk hold it: a
// TIFF-structured stream with the main directory and its Exif, GPS and
// interoperability directories. The thumbnail's directory is never read, so
// a block written again has none. Plain functions, any thread; every offset
// and count read is checked against the block, which may be hostile.
namespace files {

struct ExifEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  // The value, little-endian. A kept entry holds the four bytes of its
  // directory slot as they stand: its value stays where the file has it.
  std::vector<uint8_t> value;
  bool kept = false;
};

using ExifDirectory = std::vector<ExifEntry>;

struct ExifData {
  ExifDirectory main, exif, gps, interop;
  bool Empty() const { return main.empty() && exif.empty() && gps.empty() && interop.empty(); }
};

enum ExifTag : uint16_t {
  kTagImageWidth = 0x0100,
  kTagImageLength = 0x0101,
  kTagOrientation = 0x0112,
  kTagPixelXDimension = 0xA002,
  kTagPixelYDimension = 0xA003,
  kTagFocalPlaneXResolution = 0xA20E,
  kTagFocalPlaneYResolution = 0xA20F,
};

// Reads a block, with or without the leading "Exif\0\0"; nullopt when it is
// not one. Entries of unknown type and those that point at picture data
// (strips, tiles, thumbnail) are left out.
std::optional<ExifData> ParseExif(const uint8_t* data, size_t size);

// True for tags that describe a TIFF file's own picture data rather than the
// picture's story; a picture's EXIF never brings these into another file.
bool IsPictureStructureTag(uint16_t tag);

// Sets a tag to one LONG, or one SHORT; adds it when absent.
void SetLong(ExifDirectory& directory, uint16_t tag, uint32_t value);
void SetShort(ExifDirectory& directory, uint16_t tag, uint16_t value);
// Multiplies a RATIONAL tag, when present, by factor.
void ScaleRational(ExifDirectory& directory, uint16_t tag, double factor);
const ExifEntry* FindTag(const ExifDirectory& directory, uint16_t tag);

// A little-endian block starting with its TIFF header, without "Exif\0\0".
std::vector<uint8_t> SerializeExif(const ExifData& data);

// The directories laid out for the place `start` of a TIFF-structured
// stream (offsets are counted from the stream's start), the main directory
// first, its next-directory link 0.
std::vector<uint8_t> LayOutDirectories(const ExifData& data, uint32_t start);

}  // namespace files
