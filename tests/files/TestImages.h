#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string>
#include <vector>

// Images and folders that the file tests make for themselves.
namespace testimages {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// A bitmap of the given size and bits per pixel with a pattern that tells
// every pixel from its neighbours (grey ramp for 1- and 8-bit palettes).
FIBITMAP* MakePattern(int width, int height, int bpp);
// The same for the non-standard types: FIT_UINT16 grey, FIT_RGB16.
FIBITMAP* MakePatternOfType(FREE_IMAGE_TYPE type, int width, int height);

// Writes bitmap to path as fif with default flags; true on success.
bool Write(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, const std::string& path);

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
// What a shell command writes to its standard output.
std::string CommandOutput(const std::string& command);
bool Exists(const std::string& path);
// Names in a folder, "." and ".." left out.
int CountEntries(const std::string& folder);

// Hostile files. A 54-byte BMP whose header declares width x height
// uncompressed 24-bit pixels and holds none.
std::string BmpDeclaring(int width, int height);
// A JPEG whose frame header declares width x height, cut just after its scan
// header: a decoder that believes it allocates everything and reads nothing.
std::string JpegDeclaring(int width, int height);
// A GIF whose screen and first frame declare width x height, with the
// pixels of a 16 x 16 picture.
std::string GifDeclaring(int width, int height);
// A JPEG 2000 codestream (J2K) or file (JP2) of a 64 x 64 picture whose
// headers declare width x height in one tile.
std::string Jpeg2000Declaring(FREE_IMAGE_FORMAT fif, uint32_t width, uint32_t height);
// The first part of a valid fif file of a 64 x 64 pattern: keep of its bytes.
std::string TruncatedFile(FREE_IMAGE_FORMAT fif, double keep);

// Pictures in formats that FreeImage reads but cannot write, byte by byte,
// each of width x height grey levels (x / 8 + y) & 0xFF; width a multiple of
// 16. With pixels false the header declares the picture and holds no pixels.
// DirectDraw surface, DXT1 blocks of one grey each.
std::string DdsDxt1(uint32_t width, uint32_t height, bool pixels = true);
// TIFF, 8-bit grey, uncompressed, one strip after the directory.
std::string TiffGrey(uint32_t width, uint32_t height, bool pixels = true);
// PCX, 8 bits run-length coded, a grey palette at the end.
std::string PcxGrey(int width, int height);
// IFF ILBM, eight bit planes, a grey colour map, uncompressed body.
std::string IlbmGrey(int width, int height);
// A run-length coded Targa of a 64 x 64 pattern without the extension area
// and footer that FreeImage writes, as many writers make them.
std::string TargaRleWithoutFooter();

// Same size, type and bits, and the same bytes in every row.
bool SamePixels(FIBITMAP* a, FIBITMAP* b);

// A display profile as small as PNG readers accept: the header, one
// copyright tag, and a profile id that tells this one from any other.
std::vector<uint8_t> IccProfile();

// Sets a tag of size bytes under key in model, as FreeImage's readers do.
void SetTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key, FREE_IMAGE_MDTYPE type,
            const void* data, size_t size);

}  // namespace testimages
