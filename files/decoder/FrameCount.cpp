#include "files/decoder/FrameCount.h"

#include <algorithm>
#include <unordered_set>

#include "files/ByteOrder.h"

namespace decoder {

namespace {

// A GIF: after the screen descriptor and its colour table, blocks follow
// until the trailer; each image descriptor starts a frame.
uint32_t GifFrames(uint64_t fileBytes, const FileReader& read) {
  uint8_t screen[13] = {};
  if (!read(0, screen, sizeof screen)) return 1;
  uint64_t at = sizeof screen;
  if (screen[10] & 0x80) at += 3u << ((screen[10] & 7) + 1);
  // Data sub-blocks: a length byte and that many bytes, until a length of 0.
  const auto skipSubBlocks = [&] {
    uint8_t length = 0;
    do {
      if (at >= fileBytes || !read(at, &length, 1)) return false;
      at += 1 + uint64_t{length};
    } while (length != 0);
    return true;
  };
  uint32_t frames = 0;
  while (frames < kMostFrames && at < fileBytes) {
    uint8_t introducer = 0;
    if (!read(at, &introducer, 1)) break;
    if (introducer == 0x2C) {
      uint8_t descriptor[10] = {};
      if (!read(at, descriptor, sizeof descriptor)) break;
      ++frames;
      at += sizeof descriptor;
      if (descriptor[9] & 0x80) at += 3u << ((descriptor[9] & 7) + 1);
      ++at;  // the LZW code size
      if (!skipSubBlocks()) break;
    } else if (introducer == 0x21) {
      at += 2;  // the introducer and the label
      if (!skipSubBlocks()) break;
    } else {
      break;  // the trailer, or what no GIF holds
    }
  }
  return std::max<uint32_t>(frames, 1);
}

// A TIFF: the chain of directories from the header's first one.
uint32_t TiffPages(uint64_t fileBytes, const FileReader& read) {
  uint8_t header[16] = {};
  if (!read(0, header, 8)) return 1;
  const bool big = header[0] == 'M' && header[1] == 'M';
  if (!big && !(header[0] == 'I' && header[1] == 'I')) return 1;
  const uint64_t version = files::ReadUnsigned(header + 2, 2, big);
  const bool bigTiff = version == 43;
  if (version != 42 && !bigTiff) return 1;
  if (bigTiff && !read(8, header + 8, 8)) return 1;
  // Classic: 2-byte count, 12-byte entries, 4-byte offsets; big: 8, 20, 8.
  const size_t countBytes = bigTiff ? 8 : 2, entryBytes = bigTiff ? 20 : 12;
  const size_t offsetBytes = bigTiff ? 8 : 4;
  uint64_t next = files::ReadUnsigned(header + (bigTiff ? 8 : 4), offsetBytes, big);
  std::unordered_set<uint64_t> seen;
  uint32_t pages = 0;
  while (next != 0 && next < fileBytes && pages < kMostFrames && seen.insert(next).second) {
    uint8_t bytes[8] = {};
    if (!read(next, bytes, countBytes)) break;
    const uint64_t entries = files::ReadUnsigned(bytes, countBytes, big);
    if (entries > fileBytes / entryBytes) break;
    ++pages;
    if (!read(next + countBytes + entries * entryBytes, bytes, offsetBytes)) break;
    next = files::ReadUnsigned(bytes, offsetBytes, big);
  }
  return std::max<uint32_t>(pages, 1);
}

// An ICO: the header counts its icons.
uint32_t IcoIcons(const FileReader& read) {
  uint8_t header[6] = {};
  if (!read(0, header, sizeof header)) return 1;
  const uint64_t icons = files::ReadUnsigned(header + 4, 2, false);
  return static_cast<uint32_t>(std::clamp<uint64_t>(icons, 1, kMostFrames));
}

}  // namespace

uint32_t CountFrames(FREE_IMAGE_FORMAT fif, uint64_t fileBytes, const FileReader& read) {
  switch (fif) {
    case FIF_GIF:
      return GifFrames(fileBytes, read);
    case FIF_TIFF:
      return TiffPages(fileBytes, read);
    case FIF_ICO:
      return IcoIcons(read);
    default:
      return 1;
  }
}

}  // namespace decoder
