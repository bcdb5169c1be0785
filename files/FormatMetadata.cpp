#include "files/FormatMetadata.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "files/ExifBlock.h"

namespace files {

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0xFFFFFFFFu) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutBigEndian32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Length, type, data and CRC, written into a chunk sized once: grown by
// appends, GCC 12 at -O3 takes the vector's first growth for an overread.
std::vector<uint8_t> Chunk(const char type[4], const std::vector<uint8_t>& data) {
  std::vector<uint8_t> chunk(4 + 4 + data.size() + 4);
  PutBigEndian32(chunk.data(), static_cast<uint32_t>(data.size()));
  std::memcpy(chunk.data() + 4, type, 4);
  std::copy(data.begin(), data.end(), chunk.begin() + 8);
  PutBigEndian32(chunk.data() + 8 + data.size(),
                 Crc32(chunk.data() + 4, 4 + data.size()) ^ 0xFFFFFFFFu);
  return chunk;
}

// ImageMagick's text form of a profile: its name, its length and its bytes
// in hexadecimal, 36 bytes a line. Its EXIF profile keeps the "Exif\0\0" mark.
std::vector<uint8_t> RawProfileText(const std::vector<uint8_t>& exif) {
  std::vector<uint8_t> profile{'E', 'x', 'i', 'f', 0, 0};
  profile.insert(profile.end(), exif.begin(), exif.end());
  std::string text = "Raw profile type exif";
  text.push_back('\0');
  char length[16];
  std::snprintf(length, sizeof length, "%8zu\n", profile.size());
  text += "\nexif\n";
  text += length;
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < profile.size(); ++i) {
    text.push_back(digits[profile[i] >> 4]);
    text.push_back(digits[profile[i] & 15]);
    if (i % 36 == 35 || i + 1 == profile.size()) text.push_back('\n');
  }
  return std::vector<uint8_t>(text.begin(), text.end());
}

uint32_t Get(const std::vector<uint8_t>& d, uint64_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | d[at + i];
  return v;
}

}  // namespace

bool AddExifToPng(std::vector<uint8_t>& png, const std::vector<uint8_t>& exif) {
  if (png.size() < 8 || std::memcmp(png.data(), kPngSignature, 8) != 0) return false;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = BigEndian32(png.data() + at);
    if (std::memcmp(png.data() + at + 4, "IDAT", 4) == 0) {
      std::vector<uint8_t> added = Chunk("eXIf", exif);
      const std::vector<uint8_t> text = Chunk("tEXt", RawProfileText(exif));
      added.insert(added.end(), text.begin(), text.end());
      png.insert(png.begin() + static_cast<long>(at), added.begin(), added.end());
      return true;
    }
    if (length > png.size() - at - 12) return false;
    at += 12 + size_t{length};
  }
  return false;
}

bool AddExifToTiff(std::vector<uint8_t>& tiff, const std::vector<uint8_t>& exif) {
  if (tiff.size() < 8 || tiff[0] != 'I' || tiff[1] != 'I' || Get(tiff, 2, 2) != 42) return false;
  std::optional<ExifData> data = ParseExif(exif.data(), exif.size());
  if (!data) return false;
  const uint32_t first = Get(tiff, 4, 4);
  if (first > tiff.size() || tiff.size() - first < 2) return false;
  const uint32_t count = Get(tiff, first, 2);
  if (uint64_t(count) * 12 > tiff.size() - first - 2) return false;

  ExifDirectory own;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t slot = first + 2 + uint64_t(i) * 12;
    ExifEntry entry;
    entry.tag = static_cast<uint16_t>(Get(tiff, slot, 2));
    entry.type = static_cast<uint16_t>(Get(tiff, slot + 2, 2));
    entry.count = Get(tiff, slot + 4, 4);
    entry.value.assign(tiff.begin() + static_cast<long>(slot + 8),
                       tiff.begin() + static_cast<long>(slot + 12));
    entry.kept = true;
    // Links to directories of the file's own are replaced by those laid out here.
    if (entry.tag != 0x8769 && entry.tag != 0x8825) own.push_back(std::move(entry));
  }
  for (ExifEntry& e : data->main)
    if (!FindTag(own, e.tag)) own.push_back(std::move(e));
  data->main = std::move(own);

  // Directories start on a word boundary.
  if (tiff.size() % 2) tiff.push_back(0);
  if (tiff.size() > UINT32_MAX) return false;
  const uint32_t start = static_cast<uint32_t>(tiff.size());
  const std::vector<uint8_t> directories = LayOutDirectories(*data, start);
  tiff.insert(tiff.end(), directories.begin(), directories.end());
  for (int i = 0; i < 4; ++i) tiff[4 + i] = static_cast<uint8_t>(start >> (8 * i));
  return true;
}

}  // namespace files
