#include "files/decoder/FileLayout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "files/ByteOrder.h"

namespace decoder {

namespace {

// Bitmap bytes per file byte of the codings a TIFF names (see DecodeRules).
constexpr uint64_t kRaw = 4;
constexpr uint64_t kRunLength = 1024;
constexpr uint64_t kLzw = 4096;
constexpr uint64_t kDeflate = 4128;
constexpr uint64_t kJpeg = 2048;

// The file, read at any place; every read is checked against its end.
class File {
 public:
  File(uint64_t size, const ReadAt& read) : m_size(size), m_read(read) {}
  uint64_t Size() const { return m_size; }
  bool Get(uint64_t at, void* to, size_t count) const {
    return at <= m_size && count <= m_size - at && m_read(at, to, count) == count;
  }
  // An unsigned field of size bytes (1, 2, 4 or 8); 0 past the end.
  uint64_t Field(uint64_t at, size_t size, bool bigEndian = false) const {
    std::array<uint8_t, 8> bytes{};
    if (size > bytes.size() || !Get(at, bytes.data(), size)) return 0;
    return files::ReadUnsigned(bytes.data(), size, bigEndian);
  }
  bool Has(uint64_t at, const char* text) const {
    const size_t length = std::strlen(text);
    std::string got(length, '\0');
    return Get(at, got.data(), length) && got == text;
  }

 private:
  uint64_t m_size;
  const ReadAt& m_read;
};

// Reads a file byte by byte from a place on, in blocks.
class Cursor {
 public:
  Cursor(const File& file, uint64_t at) : m_file(file), m_at(at) {}
  bool Next(uint8_t& byte) {
    if (m_next == m_end) {
      if (m_at >= m_file.Size()) return false;
      const size_t count = size_t(std::min<uint64_t>(m_block.size(), m_file.Size() - m_at));
      if (!m_file.Get(m_at, m_block.data(), count)) return false;
      m_at += count;
      m_next = 0;
      m_end = count;
    }
    byte = m_block[m_next++];
    return true;
  }
  bool Skip(uint64_t count) {
    const uint64_t buffered = m_end - m_next;
    if (count <= buffered) {
      m_next += size_t(count);
      return true;
    }
    m_at += count - buffered;
    m_next = m_end = 0;
    return m_at <= m_file.Size();
  }
  uint64_t Position() const { return m_at - (m_end - m_next); }

 private:
  const File& m_file;
  uint64_t m_at;
  std::array<uint8_t, 65536> m_block{};
  size_t m_next = 0, m_end = 0;
};

// What a walk over coded data needs: where it ended, or one byte beyond the
// file when the file ended first.
uint64_t WalkEnd(const File& file, Cursor& cursor, bool complete) {
  return complete && cursor.Position() <= file.Size() ? cursor.Position() : file.Size() + 1;
}

// Targa: raw rows, or packets of one pixel repeated or up to 128 given.
Layout Targa(const File& file) {
  Layout layout;
  const uint64_t type = file.Field(2, 1);
  const uint64_t colourMap = file.Field(5, 2) * ((file.Field(7, 1) + 7) / 8);
  const uint64_t pixels = file.Field(12, 2) * file.Field(14, 2);
  const uint64_t pixelBytes = (file.Field(16, 1) + 7) / 8;
  const uint64_t start = 18 + file.Field(0, 1) + colourMap;
  if (type >= 1 && type <= 3) layout.neededBytes = start + pixels * pixelBytes;
  if (type < 9 || type > 11) return layout;
  Cursor cursor(file, start);
  uint64_t done = 0;
  uint8_t packet = 0;
  while (done < pixels && cursor.Next(packet)) {
    const uint64_t count = uint64_t(packet & 0x7F) + 1;
    if (!cursor.Skip(packet & 0x80 ? pixelBytes : count * pixelBytes)) break;
    done += count;
  }
  layout.neededBytes = WalkEnd(file, cursor, done >= pixels);
  return layout;
}

// PCX: runs of one byte marked by the two top bits; a 256-colour palette
// follows the pixels at the file's end.
Layout Pcx(const File& file) {
  Layout layout;
  const uint64_t height = ((file.Field(10, 2) - file.Field(6, 2)) & 0xFFFF) + 1;
  const uint64_t bytes = file.Field(66, 2) * file.Field(65, 1) * height;
  const bool palette = file.Field(1, 1) == 5 && file.Field(3, 1) == 8 && file.Field(65, 1) == 1;
  const uint64_t paletteBytes = palette ? 769 : 0;
  if (file.Field(2, 1) != 1) {
    layout.neededBytes = 128 + bytes + paletteBytes;
    return layout;
  }
  Cursor cursor(file, 128);
  uint64_t done = 0;
  uint8_t code = 0;
  while (done < bytes && cursor.Next(code)) {
    if ((code & 0xC0) != 0xC0) {
      ++done;
    } else if (cursor.Skip(1)) {
      done += code & 0x3F;
    }
  }
  layout.neededBytes = WalkEnd(file, cursor, done >= bytes) + paletteBytes;
  return layout;
}

// DirectDraw surface: a 128-byte header, then the main surface in 4 x 4
// blocks of 8 or 16 bytes, or in raw rows.
Layout Dds(const File& file) {
  Layout layout;
  layout.width = uint32_t(file.Field(16, 4));
  layout.height = uint32_t(file.Field(12, 4));
  // No decoder takes sides beyond 2^28; bounded so that no product wraps.
  const uint64_t width = std::min<uint64_t>(layout.width, 1u << 28);
  const uint64_t height = std::min<uint64_t>(layout.height, 1u << 28);
  layout.bpp = 32;
  const uint64_t formatFlags = file.Field(80, 4);
  const uint64_t blocks = ((width + 3) / 4) * ((height + 3) / 4);
  if (formatFlags & 0x4) {
    if (file.Has(84, "DXT1")) layout.neededBytes = 128 + blocks * 8;
    for (const char* fourCc : {"DXT2", "DXT3", "DXT4", "DXT5"})
      if (file.Has(84, fourCc)) layout.neededBytes = 128 + blocks * 16;
  } else if ((formatFlags & 0x40) && height > 0) {
    const uint64_t line = (width * file.Field(88, 4) + 7) / 8;
    const uint64_t pitch = file.Field(8, 4) & 0x8 ? file.Field(20, 4) : line;
    layout.neededBytes = 128 + pitch * (height - 1) + line;
  }
  return layout;
}

// Icons: a directory of entries, each with its size, place and length; the
// first is the one shown. Its picture, a BMP without file header or a PNG,
// must have the size the directory gives (0 there: 256, or more for a PNG);
// a BMP's height counts its mask's rows too.
Layout Ico(const File& file) {
  Layout layout;
  if (file.Field(4, 2) == 0) return layout;
  const uint64_t at = file.Field(18, 4);
  layout.neededBytes = at + file.Field(14, 4);
  const uint64_t listedWidth = file.Field(6, 1), listedHeight = file.Field(7, 1);
  const auto fits = [](uint64_t listed, uint64_t actual, bool png) {
    return listed == 0 ? actual == 256 || (png && actual > 256) : actual == listed;
  };
  if (file.Field(at, 4, true) == 0x89504E47) {
    layout.broken = !fits(listedWidth, file.Field(at + 16, 4, true), true) ||
                    !fits(listedHeight, file.Field(at + 20, 4, true), true);
  } else {
    const uint64_t height = file.Field(at + 8, 4);
    layout.broken = !fits(listedWidth, file.Field(at + 4, 4), false) ||
                    !((height % 2 == 0 && fits(listedHeight, height / 2, false)) ||
                      fits(listedHeight, height, false));
  }
  return layout;
}

// PNG: chunks that each say their length, none beyond 2^31 - 1 nor beyond
// the file's end, but for the image data of a file cut short.
Layout Png(const File& file) {
  Layout layout;
  for (uint64_t at = 8; at + 8 <= file.Size() && !file.Has(at + 4, "IEND");) {
    const uint64_t length = file.Field(at, 4, true);
    const uint64_t end = at + 12 + length;
    if (length > 0x7FFFFFFF || (end > file.Size() && !file.Has(at + 4, "IDAT"))) {
      layout.broken = true;
      break;
    }
    layout.neededBytes = end;
    at = end;
  }
  return layout;
}

// IFF: one FORM chunk that says its own length; the size in BMHD.
Layout Iff(const File& file) {
  Layout layout;
  layout.neededBytes = 8 + file.Field(4, 4, true);
  for (uint64_t at = 12; at + 8 <= file.Size() && at < layout.neededBytes;) {
    const uint64_t size = file.Field(at + 4, 4, true);
    if (file.Has(at, "BMHD")) {
      layout.width = uint32_t(file.Field(at + 8, 2, true));
      layout.height = uint32_t(file.Field(at + 10, 2, true));
      layout.bpp = file.Field(at + 16, 1) <= 8 ? 8 : 32;
      break;
    }
    at += 8 + size + (size & 1);
  }
  return layout;
}

// GIF: the first frame's descriptor, after the colour table and extensions.
Layout Gif(const File& file) {
  Layout layout;
  const uint64_t flags = file.Field(10, 1);
  uint64_t at = 13 + (flags & 0x80 ? 3 * (uint64_t{2} << (flags & 7)) : 0);
  while (at < file.Size()) {
    const uint64_t block = file.Field(at, 1);
    if (block == 0x2C) {
      layout.width = uint32_t(file.Field(at + 5, 2));
      layout.height = uint32_t(file.Field(at + 7, 2));
      layout.bpp = 8;
      break;
    }
    if (block != 0x21) break;
    at += 2;
    for (uint64_t size; at < file.Size() && (size = file.Field(at, 1)) != 0;) at += 1 + size;
    ++at;
  }
  return layout;
}

// SGI: sizes in the header; verbatim storage holds every channel's rows.
Layout Sgi(const File& file) {
  Layout layout;
  const uint64_t width = file.Field(6, 2, true), height = file.Field(8, 2, true);
  const uint64_t channels = std::max<uint64_t>(1, file.Field(10, 2, true));
  layout.width = uint32_t(width);
  layout.height = uint32_t(height);
  layout.bpp = uint32_t(8 * std::min<uint64_t>(channels, 4));
  if (file.Field(2, 1) == 0)
    layout.neededBytes = 512 + width * height * channels * std::max<uint64_t>(1, file.Field(3, 1));
  return layout;
}

// JPEG 2000: the size in the codestream's SIZ segment, or in the JP2
// header box; FreeImage makes 8 or 16 bits per component.
Layout Jpeg2000(const File& file, bool boxed) {
  Layout layout;
  uint64_t at = 0;
  uint64_t width = 0, height = 0, components = 0, precision = 0;
  if (boxed) {
    std::string start(std::min<uint64_t>(file.Size(), 4096), '\0');
    if (!file.Get(0, start.data(), start.size())) return layout;
    at = start.find("ihdr");
    if (at == std::string::npos) return layout;
    height = file.Field(at + 4, 4, true);
    width = file.Field(at + 8, 4, true);
    components = file.Field(at + 12, 2, true);
    precision = (file.Field(at + 14, 1) & 0x7F) + 1;
  } else {
    if (file.Field(0, 2, true) != 0xFF4F || file.Field(2, 2, true) != 0xFF51) return layout;
    width = file.Field(8, 4, true) - std::min(file.Field(16, 4, true), file.Field(8, 4, true));
    height = file.Field(12, 4, true) - std::min(file.Field(20, 4, true), file.Field(12, 4, true));
    components = file.Field(40, 2, true);
    precision = (file.Field(42, 1) & 0x7F) + 1;
  }
  layout.width = uint32_t(width);
  layout.height = uint32_t(height);
  layout.bpp = uint32_t(std::clamp<uint64_t>(components, 1, 4) * (precision > 8 ? 16 : 8));
  return layout;
}

// OpenEXR: a header of named attributes (the first part's, in a file of
// several), and in a file of one part of flat pixels, a table of chunk
// places and chunks that each say their length.
Layout Exr(const File& file) {
  Layout layout;
  const uint64_t version = file.Field(4, 4);
  const bool tiled = version & 0x200;
  int64_t box[4] = {0, 0, -1, -1};
  uint64_t compression = 0, tileWidth = 0, tileHeight = 0, tileMode = 0;
  uint64_t at = 8;
  // The header ends with an empty name; no picture comes of one cut short.
  bool ended = false;
  while (at < file.Size()) {
    if (file.Field(at, 1) == 0) {
      ended = true;
      ++at;
      break;
    }
    std::string name, type;
    for (std::string* text : {&name, &type}) {
      for (uint64_t c; at < file.Size() && (c = file.Field(at++, 1)) != 0 && text->size() < 256;)
        text->push_back(char(c));
    }
    if (at + 4 > file.Size()) break;
    const uint64_t size = file.Field(at, 4);
    at += 4;
    if (name == "dataWindow" && size == 16)
      for (int i = 0; i < 4; ++i) box[i] = int32_t(file.Field(at + 4 * i, 4));
    if (name == "compression") compression = file.Field(at, 1);
    if (name == "tiles") {
      tileWidth = file.Field(at, 4);
      tileHeight = file.Field(at + 4, 4);
      tileMode = file.Field(at + 8, 1) & 0xF;
    }
    at += size;
  }
  layout.broken = !ended;
  const bool onePart = !(version & 0x1800);  // neither deep data nor several parts
  if (!ended || !onePart || box[2] < box[0] || box[3] < box[1]) return layout;
  const uint64_t width = uint64_t(box[2] - box[0]) + 1, height = uint64_t(box[3] - box[1]) + 1;
  layout.width = uint32_t(std::min<uint64_t>(width, UINT32_MAX));
  layout.height = uint32_t(std::min<uint64_t>(height, UINT32_MAX));
  layout.bpp = 128;
  // Rows per chunk of each compression, from none to DWAB.
  constexpr uint64_t kRowsPerChunk[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  uint64_t chunks = 0;
  if (!tiled && compression < std::size(kRowsPerChunk)) {
    chunks = (height + kRowsPerChunk[compression] - 1) / kRowsPerChunk[compression];
  } else if (tiled && tileMode == 0 && tileWidth > 0 && tileHeight > 0) {
    const uint64_t across = (width + tileWidth - 1) / tileWidth;
    const uint64_t down = (height + tileHeight - 1) / tileHeight;
    chunks = down > file.Size() / across ? file.Size() : across * down;
  }
  if (chunks == 0) return layout;
  const uint64_t tableEnd = at + 8 * chunks;
  layout.neededBytes = tableEnd;
  if (tableEnd > file.Size()) return layout;
  const uint64_t chunkHead = tiled ? 20 : 8;
  for (uint64_t i = 0; i < chunks; ++i) {
    const uint64_t place = file.Field(at + 8 * i, 8);
    const uint64_t end = place > file.Size() || file.Size() - place < chunkHead
                             ? file.Size() + 1
                             : place + chunkHead + file.Field(place + chunkHead - 4, 4);
    layout.neededBytes = std::max(layout.neededBytes, end);
  }
  return layout;
}

// TIFF, first directory: every strip or tile lies within the file. The
// compression sets how far the declared pixels may outgrow the file.
Layout Tiff(const File& file) {
  Layout layout;
  const bool big = file.Has(0, "MM");
  if (!big && !file.Has(0, "II")) return layout;
  if (file.Field(2, 2, big) != 42) return layout;  // BigTIFF and others: left to the decoder
  const uint64_t directory = file.Field(4, 4, big);
  const uint64_t entries = file.Field(directory, 2, big);
  struct Array {
    uint64_t type = 0, count = 0, at = 0;
  } offsets, counts;
  uint64_t compression = 1;
  for (uint64_t i = 0; i < entries && i < 4096; ++i) {
    const uint64_t entry = directory + 2 + 12 * i;
    const uint64_t tag = file.Field(entry, 2, big);
    const uint64_t type = file.Field(entry + 2, 2, big);
    const uint64_t count = file.Field(entry + 4, 4, big);
    const uint64_t size = type == 3 ? 2 : type == 4 ? 4 : 0;
    if (size == 0 || count == 0) continue;
    const Array array{size, count, size * count <= 4 ? entry + 8 : file.Field(entry + 8, 4, big)};
    if (tag == 259) compression = file.Field(array.at, size, big);
    if (tag == 273 || tag == 324) offsets = array;
    if (tag == 279 || tag == 325) counts = array;
  }
  switch (compression) {
    case 1:
      layout.expansion = kRaw;
      break;
    case 32773:
      layout.expansion = kRunLength;
      break;
    case 5:
      layout.expansion = kLzw;
      break;
    case 8:
    case 32946:
      layout.expansion = kDeflate;
      break;
    case 6:
    case 7:
      layout.expansion = kJpeg;
      break;
    default:
      break;
  }
  if (offsets.count != counts.count || offsets.count > file.Size()) return layout;
  for (uint64_t i = 0; i < offsets.count; ++i) {
    const uint64_t end = file.Field(offsets.at + i * offsets.type, offsets.type, big) +
                         file.Field(counts.at + i * counts.type, counts.type, big);
    layout.neededBytes = std::max(layout.neededBytes, end);
  }
  return layout;
}

}  // namespace

Layout ReadLayout(FREE_IMAGE_FORMAT fif, uint64_t fileBytes, const ReadAt& read) {
  const File file(fileBytes, read);
  switch (fif) {
    case FIF_TARGA:
      return Targa(file);
    case FIF_PCX:
      return Pcx(file);
    case FIF_DDS:
      return Dds(file);
    case FIF_ICO:
      return Ico(file);
    case FIF_PNG:
      return Png(file);
    case FIF_IFF:
      return Iff(file);
    case FIF_GIF:
      return Gif(file);
    case FIF_SGI:
      return Sgi(file);
    case FIF_EXR:
      return Exr(file);
    case FIF_J2K:
      return Jpeg2000(file, false);
    case FIF_JP2:
      return Jpeg2000(file, true);
    case FIF_TIFF:
      return Tiff(file);
    default:
      return {};
  }
}

}  // namespace decoder
