#include "TestImages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testimages {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "magnova-files-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

FIBITMAP* MakePattern(int width, int height, int bpp) {
  FIBITMAP* bitmap = FreeImage_Allocate(width, height, bpp);
  if (!bitmap) return nullptr;
  if (bpp <= 8) {
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    const int colours = 1 << bpp;
    for (int i = 0; i < colours; ++i) {
      BYTE level = static_cast<BYTE>(i * 255 / (colours - 1));
      palette[i] = RGBQUAD{level, level, level, 0};
    }
  }
  const unsigned pitch = FreeImage_GetPitch(bitmap);
  const unsigned lineBytes = FreeImage_GetLine(bitmap);
  for (int y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(bitmap, y);
    std::memset(row, 0, pitch);
    for (unsigned i = 0; i < lineBytes; ++i) row[i] = static_cast<BYTE>((i * 7 + y * 13) & 0xFF);
    // Bits past the last pixel of a packed row are not part of the image.
    const unsigned usedBits = static_cast<unsigned>(width * bpp) % 8;
    if (usedBits != 0) row[lineBytes - 1] &= static_cast<BYTE>(0xFF << (8 - usedBits));
  }
  return bitmap;
}

FIBITMAP* MakePatternOfType(FREE_IMAGE_TYPE type, int width, int height) {
  const int bpp = type == FIT_UINT16 ? 16 : 48;
  FIBITMAP* bitmap = FreeImage_AllocateT(type, width, height, bpp);
  if (!bitmap) return nullptr;
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(bitmap, y));
    const int values = width * (bpp / 16);
    for (int i = 0; i < values; ++i) row[i] = static_cast<uint16_t>(i * 977 + y * 4099);
  }
  return bitmap;
}

bool Write(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, const std::string& path) {
  return bitmap && FreeImage_Save(fif, bitmap, path.c_str(), 0);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

int CountEntries(const std::string& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

bool SamePixels(FIBITMAP* a, FIBITMAP* b) {
  if (!a || !b) return false;
  if (FreeImage_GetWidth(a) != FreeImage_GetWidth(b) ||
      FreeImage_GetHeight(a) != FreeImage_GetHeight(b) ||
      FreeImage_GetBPP(a) != FreeImage_GetBPP(b) ||
      FreeImage_GetImageType(a) != FreeImage_GetImageType(b)) {
    return false;
  }
  const unsigned line = FreeImage_GetLine(a);
  for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y) {
    if (std::memcmp(FreeImage_GetScanLine(a, y), FreeImage_GetScanLine(b, y), line) != 0) {
      return false;
    }
  }
  return true;
}

namespace {

void PutLittle(std::string& bytes, size_t at, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// The bytes fif makes of a width x height pattern.
std::string Encoded(FREE_IMAGE_FORMAT fif, int width, int height) {
  TempDir dir;
  FIBITMAP* bitmap = MakePattern(width, height, 24);
  // The high-range formats take floats only.
  if (fif == FIF_HDR || fif == FIF_EXR) {
    FIBITMAP* floats = FreeImage_ConvertToRGBF(bitmap);
    FreeImage_Unload(bitmap);
    bitmap = floats;
  }
  Write(bitmap, fif, dir.File("image"));
  FreeImage_Unload(bitmap);
  return ReadAll(dir.File("image"));
}

}  // namespace

std::string BmpDeclaring(int width, int height) {
  std::string bytes(54, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLittle(bytes, 2, 54, 4);   // file size
  PutLittle(bytes, 10, 54, 4);  // pixels start right after the headers
  PutLittle(bytes, 14, 40, 4);  // BITMAPINFOHEADER
  PutLittle(bytes, 18, uint32_t(width), 4);
  PutLittle(bytes, 22, uint32_t(height), 4);
  PutLittle(bytes, 26, 1, 2);   // planes
  PutLittle(bytes, 28, 24, 2);  // bits per pixel; compression 0 (none)
  return bytes;
}

std::string JpegDeclaring(int width, int height) {
  std::string bytes = Encoded(FIF_JPEG, 16, 16);
  // Frame header: FF C0, length, precision, height and width big-endian.
  const size_t frame = bytes.find("\xFF\xC0");
  const size_t scan = bytes.find("\xFF\xDA");
  if (frame == std::string::npos || scan == std::string::npos) return {};
  bytes[frame + 5] = static_cast<char>(height >> 8);
  bytes[frame + 6] = static_cast<char>(height);
  bytes[frame + 7] = static_cast<char>(width >> 8);
  bytes[frame + 8] = static_cast<char>(width);
  const size_t scanLength = (uint8_t(bytes[scan + 2]) << 8) | uint8_t(bytes[scan + 3]);
  return bytes.substr(0, scan + 2 + scanLength + 4);
}

std::string GifDeclaring(int width, int height) {
  TempDir dir;
  FIBITMAP* bitmap = MakePattern(16, 16, 8);
  Write(bitmap, FIF_GIF, dir.File("image.gif"));
  FreeImage_Unload(bitmap);
  std::string bytes = ReadAll(dir.File("image.gif"));
  const size_t frame = bytes.find(std::string("\x2C\0\0\0\0\x10\0\x10\0", 9));
  if (frame == std::string::npos) return {};
  for (size_t at : {size_t{6}, frame + 5}) {
    PutLittle(bytes, at, uint32_t(width), 2);
    PutLittle(bytes, at + 2, uint32_t(height), 2);
  }
  return bytes;
}

std::string Jpeg2000Declaring(FREE_IMAGE_FORMAT fif, uint32_t width, uint32_t height) {
  std::string bytes = Encoded(fif, 64, 64);
  const auto putBig = [&bytes](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = static_cast<char>(value >> (24 - 8 * i));
  };
  // SIZ: marker, length, capabilities, then the picture's and the tile's size.
  const size_t siz = bytes.find("\xFF\x51");
  if (siz == std::string::npos) return {};
  for (size_t at : {siz + 6, siz + 22}) {
    putBig(at, width);
    putBig(at + 4, height);
  }
  const size_t header = bytes.find("ihdr");
  if (header != std::string::npos) {
    putBig(header + 4, height);
    putBig(header + 8, width);
  }
  return bytes;
}

namespace {

void Append(std::string& bytes, uint64_t value, int size, bool bigEndian = false) {
  for (int i = 0; i < size; ++i)
    bytes.push_back(static_cast<char>(value >> (8 * (bigEndian ? size - 1 - i : i))));
}

uint8_t Grey(int x, int y) { return static_cast<uint8_t>((x / 8 + y) & 0xFF); }

}  // namespace

std::string DdsDxt1(uint32_t width, uint32_t height, bool pixels) {
  std::string bytes = "DDS ";
  Append(bytes, 124, 4);
  Append(bytes, 0x1 | 0x2 | 0x4 | 0x1000 | 0x80000, 4);  // caps, height, width, format, linear size
  Append(bytes, height, 4);
  Append(bytes, width, 4);
  const uint64_t blocksWide = (width + 3) / 4, blocksHigh = (height + 3) / 4;
  Append(bytes, blocksWide * blocksHigh * 8, 4);
  bytes.resize(76, '\0');
  Append(bytes, 32, 4);   // pixel format size
  Append(bytes, 0x4, 4);  // a four-character code names the coding
  bytes += "DXT1";
  bytes.resize(108, '\0');
  Append(bytes, 0x1000, 4);  // a texture
  bytes.resize(128, '\0');
  if (!pixels) return bytes;
  for (uint64_t by = 0; by < blocksHigh; ++by) {
    for (uint64_t bx = 0; bx < blocksWide; ++bx) {
      const uint8_t level = Grey(int(bx * 4), int(by * 4));
      const uint32_t colour = uint32_t(level >> 3) << 11 | uint32_t(level >> 2) << 5 | (level >> 3);
      Append(bytes, colour, 2);
      Append(bytes, colour, 2);
      Append(bytes, 0, 4);
    }
  }
  return bytes;
}

std::string TiffGrey(uint32_t width, uint32_t height, bool pixels) {
  std::string bytes = "II";
  Append(bytes, 42, 2);
  Append(bytes, 8, 4);
  const uint32_t entries = 9;
  const uint32_t stripAt = 8 + 2 + entries * 12 + 4;
  const uint32_t entry[entries][4] = {
      {256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8},
      {259, 3, 1, 1},     {262, 3, 1, 1},      {273, 4, 1, stripAt},
      {277, 3, 1, 1},     {278, 4, 1, height}, {279, 4, 1, width * height}};
  Append(bytes, entries, 2);
  for (const auto& field : entry) {
    Append(bytes, field[0], 2);
    Append(bytes, field[1], 2);
    Append(bytes, field[2], 4);
    Append(bytes, field[3], 4);
  }
  Append(bytes, 0, 4);  // no next directory
  if (!pixels) return bytes;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) bytes.push_back(static_cast<char>(Grey(int(x), int(y))));
  return bytes;
}

std::string PcxGrey(int width, int height) {
  std::string bytes = {0x0A, 5, 1, 8};
  Append(bytes, 0, 4);  // left, top
  Append(bytes, uint32_t(width - 1), 2);
  Append(bytes, uint32_t(height - 1), 2);
  Append(bytes, 72, 2);
  Append(bytes, 72, 2);
  bytes.resize(65, '\0');
  bytes.push_back(1);  // one plane
  Append(bytes, uint32_t(width), 2);
  Append(bytes, 1, 2);  // palette of colours
  bytes.resize(128, '\0');
  for (int y = 0; y < height; ++y) {
    // Runs of eight, one count byte and one value each.
    for (int x = 0; x < width; x += 8) {
      bytes.push_back(static_cast<char>(0xC8));
      bytes.push_back(static_cast<char>(Grey(x, y)));
    }
  }
  bytes.push_back(0x0C);
  for (int i = 0; i < 256; ++i) bytes.append(3, static_cast<char>(i));
  return bytes;
}

std::string IlbmGrey(int width, int height) {
  const uint32_t rowBytes = uint32_t((width + 15) / 16 * 2);
  std::string chunks = "ILBMBMHD";
  Append(chunks, 20, 4, true);
  Append(chunks, uint32_t(width), 2, true);
  Append(chunks, uint32_t(height), 2, true);
  Append(chunks, 0, 4, true);         // position
  chunks += std::string{8, 0, 0, 0};  // eight planes, no mask, no compression
  Append(chunks, 0, 2, true);         // transparent colour
  chunks += std::string{1, 1};        // aspect
  Append(chunks, uint32_t(width), 2, true);
  Append(chunks, uint32_t(height), 2, true);
  chunks += "CMAP";
  Append(chunks, 768, 4, true);
  for (int i = 0; i < 256; ++i) chunks.append(3, static_cast<char>(i));
  chunks += "BODY";
  Append(chunks, rowBytes * 8 * uint32_t(height), 4, true);
  for (int y = 0; y < height; ++y) {
    for (int plane = 0; plane < 8; ++plane) {
      std::string row(rowBytes, '\0');
      for (int x = 0; x < width; ++x)
        if (Grey(x, y) >> plane & 1) row[size_t(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
      chunks += row;
    }
  }
  std::string bytes = "FORM";
  Append(bytes, chunks.size(), 4, true);
  return bytes + chunks;
}

std::string TargaRleWithoutFooter() {
  TempDir dir;
  FIBITMAP* bitmap = MakePattern(64, 64, 24);
  FreeImage_Save(FIF_TARGA, bitmap, dir.File("rle.tga").c_str(), TARGA_SAVE_RLE);
  FreeImage_Unload(bitmap);
  std::string bytes = ReadAll(dir.File("rle.tga"));
  // The footer: the extension area's place, the thumbnail's, a signature.
  const size_t footer = bytes.size() - 26;
  if (bytes.size() < 26 || bytes.compare(footer + 8, 16, "TRUEVISION-XFILE") != 0) return {};
  uint32_t extension = 0;
  std::memcpy(&extension, bytes.data() + footer, 4);
  return bytes.substr(0, extension != 0 ? extension : footer);
}

std::string TruncatedFile(FREE_IMAGE_FORMAT fif, double keep) {
  std::string bytes = Encoded(fif, 64, 64);
  return bytes.substr(0, static_cast<size_t>(bytes.size() * keep));
}

namespace {

void PutBig32(std::vector<uint8_t>& v, size_t at, unsigned x) {
  for (int i = 0; i < 4; ++i) v[at + i] = (x >> (24 - 8 * i)) & 255;
}

}  // namespace

// A display profile as small as PNG readers accept: the header, one
// copyright tag, and a profile id that tells this one from any other.
std::vector<uint8_t> IccProfile() {
  std::vector<uint8_t> icc(164, 0);
  PutBig32(icc, 0, static_cast<unsigned>(icc.size()));
  PutBig32(icc, 128, 1);
  std::memcpy(&icc[132], "cprt", 4);
  PutBig32(icc, 136, 144);
  PutBig32(icc, 140, 20);
  std::memcpy(&icc[144], "text\0\0\0\0Magnova test", 20);
  PutBig32(icc, 8, 0x02100000);
  std::memcpy(&icc[12], "mntrRGB XYZ ", 12);
  std::memcpy(&icc[36], "acsp", 4);
  PutBig32(icc, 68, 0x0000F6D6);  // the D50 illuminant
  PutBig32(icc, 72, 0x00010000);
  PutBig32(icc, 76, 0x0000D32D);
  for (int i = 84; i < 100; ++i) icc[i] = static_cast<uint8_t>(i * 37);
  return icc;
}

void SetTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key, FREE_IMAGE_MDTYPE type,
            const void* data, size_t size) {
  FITAG* tag = FreeImage_CreateTag();
  FreeImage_SetTagKey(tag, key);
  FreeImage_SetTagType(tag, type);
  FreeImage_SetTagCount(tag, static_cast<DWORD>(size));
  FreeImage_SetTagLength(tag, static_cast<DWORD>(size));
  FreeImage_SetTagValue(tag, data);
  FreeImage_SetMetadata(model, bitmap, key, tag);
  FreeImage_DeleteTag(tag);
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    ::pclose(pipe);
  }
  return out;
}

}  // namespace testimages
