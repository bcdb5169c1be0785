#include "files/ExifBlock.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "files/ByteOrder.h"

namespace files {

namespace {

constexpr uint16_t kTagExifPointer = 0x8769;
constexpr uint16_t kTagGpsPointer = 0x8825;
constexpr uint16_t kTagInteropPointer = 0xA005;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeRational = 5;
// More entries than any real directory has: the rest of a longer one is noise.
constexpr uint32_t kMostEntries = 1000;

// Bytes per element and the width of each byte-swapped unit; 0 for unknown types.
uint32_t ElementSize(uint16_t type) {
  static constexpr uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < std::size(sizes) ? sizes[type] : 0;
}

uint32_t SwapUnit(uint16_t type) {
  const uint32_t size = ElementSize(type);
  return (type == 5 || type == 10) ? 4 : size;
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size, bool bigEndian)
      : m_data(data), m_size(size), m_big(bigEndian) {}

  bool Has(uint64_t offset, uint64_t bytes) const {
    return offset <= m_size && bytes <= m_size - offset;
  }
  uint32_t Get(uint64_t offset, int bytes) const {
    return uint32_t(ReadUnsigned(m_data + offset, size_t(bytes), m_big));
  }
  // The value bytes of an entry, turned little-endian.
  std::vector<uint8_t> Value(uint64_t offset, uint64_t bytes, uint16_t type) const {
    std::vector<uint8_t> value(m_data + offset, m_data + offset + bytes);
    const uint32_t unit = SwapUnit(type);
    if (m_big && unit > 1)
      for (uint64_t i = 0; i + unit <= bytes; i += unit)
        std::reverse(value.begin() + static_cast<long>(i),
                     value.begin() + static_cast<long>(i + unit));
    return value;
  }

  // Reads the directory at offset; pointer entries are given back apart.
  bool Directory(uint64_t offset, ExifDirectory& out,
                 std::vector<std::pair<uint16_t, uint32_t>>& pointers) const {
    if (!Has(offset, 2)) return false;
    const uint32_t count = std::min(Get(offset, 2), kMostEntries);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t at = offset + 2 + uint64_t(i) * 12;
      if (!Has(at, 12)) break;
      ExifEntry entry;
      entry.tag = static_cast<uint16_t>(Get(at, 2));
      entry.type = static_cast<uint16_t>(Get(at + 2, 2));
      entry.count = Get(at + 4, 4);
      const uint32_t size = ElementSize(entry.type);
      if (size == 0) continue;
      const uint64_t bytes = uint64_t(size) * entry.count;
      if (entry.tag == kTagExifPointer || entry.tag == kTagGpsPointer ||
          entry.tag == kTagInteropPointer) {
        if (bytes == 4) pointers.emplace_back(entry.tag, Get(at + 8, 4));
        continue;
      }
      const uint64_t from = bytes <= 4 ? at + 8 : Get(at + 8, 4);
      if (!Has(from, bytes)) continue;
      entry.value = Value(from, bytes, entry.type);
      out.push_back(std::move(entry));
    }
    return true;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  bool m_big;
};

void Put(std::vector<uint8_t>& out, uint64_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t ValueBytes(const ExifEntry& e) { return e.kept ? 0 : e.value.size(); }

uint64_t DirectoryBytes(const ExifDirectory& d, size_t pointers) {
  uint64_t bytes = 2 + 12 * (d.size() + pointers) + 4;
  for (const ExifEntry& e : d)
    if (ValueBytes(e) > 4) bytes += (ValueBytes(e) + 1) & ~uint64_t{1};
  return bytes;
}

// Writes directory d at `at` (its place in the stream is at + base), with
// the given pointer entries merged in tag order.
void WriteDirectory(std::vector<uint8_t>& out, uint64_t at, uint32_t base, ExifDirectory d,
                    const std::vector<std::pair<uint16_t, uint32_t>>& pointers) {
  for (const auto& [tag, offset] : pointers) {
    ExifEntry e{tag, kTypeLong, 1, std::vector<uint8_t>(4), false};
    Put(e.value, 0, offset, 4);
    d.push_back(std::move(e));
  }
  std::stable_sort(d.begin(), d.end(),
                   [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
  Put(out, at, static_cast<uint32_t>(d.size()), 2);
  uint64_t data = at + 2 + 12 * d.size() + 4;
  for (size_t i = 0; i < d.size(); ++i) {
    const ExifEntry& e = d[i];
    const uint64_t slot = at + 2 + 12 * i;
    Put(out, slot, e.tag, 2);
    Put(out, slot + 2, e.type, 2);
    Put(out, slot + 4, e.count, 4);
    if (e.kept || e.value.size() <= 4) {
      std::copy(e.value.begin(), e.value.begin() + std::min<size_t>(4, e.value.size()),
                out.begin() + static_cast<long>(slot + 8));
    } else {
      Put(out, slot + 8, static_cast<uint32_t>(base + data), 4);
      std::copy(e.value.begin(), e.value.end(), out.begin() + static_cast<long>(data));
      data += (e.value.size() + 1) & ~uint64_t{1};
    }
  }
  Put(out, at + 2 + 12 * d.size(), 0, 4);
}

}  // namespace

std::optional<ExifData> ParseExif(const uint8_t* data, size_t size) {
  if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
    data += 6;
    size -= 6;
  }
  if (size < 8) return std::nullopt;
  const bool big = data[0] == 'M' && data[1] == 'M';
  if (!big && !(data[0] == 'I' && data[1] == 'I')) return std::nullopt;
  Reader reader(data, size, big);
  if (reader.Get(2, 2) != 42) return std::nullopt;

  ExifData out;
  std::vector<std::pair<uint16_t, uint32_t>> pointers;
  if (!reader.Directory(reader.Get(4, 4), out.main, pointers)) return std::nullopt;
  std::erase_if(out.main, [](const ExifEntry& e) { return IsPictureStructureTag(e.tag); });
  std::vector<std::pair<uint16_t, uint32_t>> inner;
  for (const auto& [tag, offset] : pointers) {
    if (tag == kTagExifPointer) reader.Directory(offset, out.exif, inner);
    if (tag == kTagGpsPointer) {
      std::vector<std::pair<uint16_t, uint32_t>> none;
      reader.Directory(offset, out.gps, none);
    }
  }
  for (const auto& [tag, offset] : inner) {
    std::vector<std::pair<uint16_t, uint32_t>> none;
    if (tag == kTagInteropPointer) reader.Directory(offset, out.interop, none);
  }
  return out;
}

bool IsPictureStructureTag(uint16_t tag) {
  static constexpr uint16_t tags[] = {0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106,
                                      0x0111, 0x0115, 0x0116, 0x0117, 0x011C, 0x013D, 0x0140,
                                      0x0142, 0x0143, 0x0144, 0x0145, 0x014A, 0x0152, 0x0153,
                                      0x0201, 0x0202, 0x02BC, 0x83BB, 0x8649, 0x8773};
  return std::find(std::begin(tags), std::end(tags), tag) != std::end(tags);
}

const ExifEntry* FindTag(const ExifDirectory& directory, uint16_t tag) {
  for (const ExifEntry& e : directory)
    if (e.tag == tag) return &e;
  return nullptr;
}

namespace {

void Set(ExifDirectory& directory, ExifEntry entry) {
  for (ExifEntry& e : directory) {
    if (e.tag == entry.tag) {
      e = std::move(entry);
      return;
    }
  }
  directory.push_back(std::move(entry));
}

}  // namespace

void SetLong(ExifDirectory& directory, uint16_t tag, uint32_t value) {
  ExifEntry entry{tag, kTypeLong, 1, std::vector<uint8_t>(4), false};
  Put(entry.value, 0, value, 4);
  Set(directory, std::move(entry));
}

void SetShort(ExifDirectory& directory, uint16_t tag, uint16_t value) {
  ExifEntry entry{tag, kTypeShort, 1, std::vector<uint8_t>(2), false};
  Put(entry.value, 0, value, 2);
  Set(directory, std::move(entry));
}

void ScaleRational(ExifDirectory& directory, uint16_t tag, double factor) {
  for (ExifEntry& e : directory) {
    if (e.tag != tag || e.type != kTypeRational || e.value.size() < 8) continue;
    auto get = [&](int at) {
      return uint32_t(e.value[at]) | uint32_t(e.value[at + 1]) << 8 |
             uint32_t(e.value[at + 2]) << 16 | uint32_t(e.value[at + 3]) << 24;
    };
    uint32_t numerator = get(0);
    uint32_t denominator = get(4);
    if (denominator == 0) continue;
    double scaled = double(numerator) * factor;
    // A value beyond 32 bits keeps its size by giving up precision below.
    while (scaled >= 4294967295.0 && denominator > 1) {
      scaled /= 2;
      denominator /= 2;
    }
    numerator = static_cast<uint32_t>(std::min(std::lround(scaled), 4294967295L));
    Put(e.value, 0, numerator, 4);
    Put(e.value, 4, denominator, 4);
  }
}

std::vector<uint8_t> LayOutDirectories(const ExifData& data, uint32_t start) {
  const bool hasInterop = !data.interop.empty();
  const bool hasExif = !data.exif.empty() || hasInterop;
  const bool hasGps = !data.gps.empty();
  const uint64_t mainBytes = DirectoryBytes(data.main, size_t(hasExif) + size_t(hasGps));
  const uint64_t exifBytes = hasExif ? DirectoryBytes(data.exif, size_t(hasInterop)) : 0;
  const uint64_t interopBytes = hasInterop ? DirectoryBytes(data.interop, 0) : 0;
  const uint64_t gpsBytes = hasGps ? DirectoryBytes(data.gps, 0) : 0;
  const uint64_t exifAt = mainBytes;
  const uint64_t interopAt = exifAt + exifBytes;
  const uint64_t gpsAt = interopAt + interopBytes;
  std::vector<uint8_t> out(gpsAt + gpsBytes);

  std::vector<std::pair<uint16_t, uint32_t>> mainPointers;
  if (hasExif) mainPointers.emplace_back(kTagExifPointer, static_cast<uint32_t>(start + exifAt));
  if (hasGps) mainPointers.emplace_back(kTagGpsPointer, static_cast<uint32_t>(start + gpsAt));
  WriteDirectory(out, 0, start, data.main, mainPointers);
  if (hasExif) {
    std::vector<std::pair<uint16_t, uint32_t>> exifPointers;
    if (hasInterop)
      exifPointers.emplace_back(kTagInteropPointer, static_cast<uint32_t>(start + interopAt));
    WriteDirectory(out, exifAt, start, data.exif, exifPointers);
  }
  if (hasInterop) WriteDirectory(out, interopAt, start, data.interop, {});
  if (hasGps) WriteDirectory(out, gpsAt, start, data.gps, {});
  return out;
}

std::vector<uint8_t> SerializeExif(const ExifData& data) {
  std::vector<uint8_t> out{'I', 'I', 42, 0, 8, 0, 0, 0};
  const std::vector<uint8_t> directories = LayOutDirectories(data, 8);
  out.insert(out.end(), directories.begin(), directories.end());
  return out;
}

}  // namespace files
