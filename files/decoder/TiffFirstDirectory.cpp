#include "files/decoder/TiffFirstDirectory.h"

#include "files/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace decoder {

namespace {

constexpr uint16_t kTagIccProfile = 34675;
constexpr uint16_t kTagExifDirectory = 34665;
constexpr uint16_t kTagOrientation = 274;
constexpr uint16_t kTagPhotometric = 262;
constexpr uint16_t kTagSamplesPerPixel = 277;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeUndefined = 7;
constexpr uint16_t kTypeByte = 1;
// More entries than any real first directory has.
constexpr uint64_t kMostEntries = 4096;

// Photometric interpretations that FreeImage reads through libtiff's colour
// conversion, which applies the orientation itself.
bool ReaderTurns(uint64_t photometric) {
  return photometric == 6 || photometric == 8 || photometric == 9 || photometric == 10;
}

}  // namespace

TiffFirstDirectory ReadFirstDirectory(const FileReader& read, uint64_t fileBytes) {
  TiffFirstDirectory found;
  uint8_t header[16] = {};
  if (!read(0, header, 8)) return found;
  const bool big = header[0] == 'M' && header[1] == 'M';
  if (!big && !(header[0] == 'I' && header[1] == 'I')) return found;
  const uint64_t version = files::ReadUnsigned(header + 2, 2, big);
  const bool bigTiff = version == 43;
  if (version != 42 && !bigTiff) return found;
  if (bigTiff && !read(8, header + 8, 8)) return found;
  // Classic: 2-byte count, 12-byte entries, 4-byte values; big: 8, 20, 8.
  const int countBytes = bigTiff ? 8 : 2;
  const int entryBytes = bigTiff ? 20 : 12;
  const int valueBytes = bigTiff ? 8 : 4;
  const uint64_t first =
      bigTiff ? files::ReadUnsigned(header + 8, 8, big) : files::ReadUnsigned(header + 4, 4, big);

  uint8_t countField[8] = {};
  if (first > fileBytes || !read(first, countField, static_cast<size_t>(countBytes))) return found;
  const uint64_t entries = std::min(files::ReadUnsigned(countField, countBytes, big), kMostEntries);
  bool linksExif = false;
  uint64_t photometric = 0;
  std::optional<TiffProfile> profile;
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t at = first + static_cast<uint64_t>(countBytes) + i * entryBytes;
    uint8_t entry[20] = {};
    if (!read(at, entry, static_cast<size_t>(entryBytes))) break;
    const uint64_t tag = files::ReadUnsigned(entry, 2, big);
    const uint64_t type = files::ReadUnsigned(entry + 2, 2, big);
    if (tag == kTagExifDirectory) linksExif = true;
    // A SHORT value sits at the start of the value field, in the file's order.
    if (tag == kTagOrientation && type == kTypeShort) {
      const uint64_t value = files::ReadUnsigned(entry + 4 + valueBytes, 2, big);
      found.orientation = value >= 1 && value <= 8 ? unsigned(value) : 1;
    }
    if (tag == kTagPhotometric && type == kTypeShort)
      photometric = files::ReadUnsigned(entry + 4 + valueBytes, 2, big);
    // libtiff takes this one as SHORT or LONG.
    if (tag == kTagSamplesPerPixel && (type == kTypeShort || type == kTypeLong))
      found.samplesPerPixel =
          files::ReadUnsigned(entry + 4 + valueBytes, type == kTypeShort ? 2 : 4, big);
    if (tag != kTagIccProfile || (type != kTypeUndefined && type != kTypeByte)) continue;
    const uint64_t count = files::ReadUnsigned(entry + 4, valueBytes, big);
    const uint64_t valueAt = at + 4 + static_cast<uint64_t>(valueBytes);
    const uint64_t dataAt = count <= static_cast<uint64_t>(valueBytes)
                                ? valueAt
                                : files::ReadUnsigned(entry + 4 + valueBytes, valueBytes, big);
    if (count == 0 || count > UINT32_MAX || dataAt > fileBytes || count > fileBytes - dataAt)
      continue;
    profile = TiffProfile{at + 2, dataAt, static_cast<uint32_t>(count)};
  }
  if (linksExif) found.freedProfile = profile;
  if (ReaderTurns(photometric)) found.orientation = 1;
  return found;
}

void HideProfile(const TiffProfile& profile, uint64_t offset, void* bytes, size_t count) {
  auto* data = static_cast<uint8_t*>(bytes);
  for (uint64_t at = profile.typeAt; at < profile.typeAt + 2; ++at)
    if (at >= offset && at - offset < count) data[at - offset] = 0;
}

}  // namespace decoder
