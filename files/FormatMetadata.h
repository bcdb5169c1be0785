#pragma once

#include <cstdint>
#include <vector>

// The EXIF that FreeImage's PNG and TIFF writers leave out, added to the
// file they wrote (held in memory). Plain functions, any thread.
namespace files {

// Adds an eXIf chunk and, for readers that know only that, an ImageMagick
// "Raw profile type exif" text chunk, both before the first IDAT. exif is
// the block without its "Exif\0\0" mark. False when png is not a PNG.
bool AddExifToPng(std::vector<uint8_t>& png, const std::vector<uint8_t>& exif);

// Merges exif into the first directory of a little-endian TIFF: its
// descriptive main tags (the file's own tags win) and its GPS directory,
// and with exifDirectory its Exif and interoperability directories, laid
// out at the end of the file. False when tiff is not one that can take them.
bool AddExifToTiff(std::vector<uint8_t>& tiff, const std::vector<uint8_t>& exif,
                   bool exifDirectory = true);

// True when exif has an Exif directory that tells more than the pixel size.
bool ExifHasSettings(const std::vector<uint8_t>& exif);

}  // namespace files
