#include "files/decoder/BmpInfoHeader.h"

#include "files/ByteOrder.h"

namespace decoder {

namespace {

constexpr size_t kFileHeader = 14;
constexpr uint32_t kShortInfo = 40;
constexpr uint32_t kBitfields = 3;
constexpr uint32_t kAlphaBitfields = 6;

void PutLittle32(std::string& bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

std::optional<ShortBmpStart> ShortenBmpInfoHeader(std::string_view head, uint64_t fileBytes) {
  if (head.size() < kFileHeader + kShortInfo || !head.starts_with("BM")) return std::nullopt;
  const uint32_t infoBytes = files::Little32(head, kFileHeader);
  if (infoBytes != 52 && infoBytes != 56 && infoBytes != 108 && infoBytes != 124) {
    return std::nullopt;
  }
  const uint64_t restAt = kFileHeader + infoBytes;
  const uint32_t pixelsAt = files::Little32(head, 10);
  if (head.size() < restAt || fileBytes < restAt || pixelsAt < restAt) return std::nullopt;

  // FreeImage reads the masks just after a 40-byte header (the alpha mask
  // too with BI_ALPHABITFIELDS), then seeks to the pixels. The long headers
  // hold them at the same place, the alpha mask in those of 56 bytes on.
  const uint32_t compression = files::Little32(head, kFileHeader + 16);
  const uint32_t maskBytes = compression == kBitfields        ? 12
                             : compression == kAlphaBitfields ? 16
                                                              : 0;
  if (infoBytes < kShortInfo + maskBytes) return std::nullopt;
  ShortBmpStart start;
  start.bytes.assign(head.substr(0, kFileHeader + kShortInfo + maskBytes));
  start.restAt = restAt;
  const uint32_t removed = uint32_t(restAt - start.bytes.size());
  PutLittle32(start.bytes, 2,
              files::Little32(head, 2) >= removed ? files::Little32(head, 2) - removed : 0);
  PutLittle32(start.bytes, 10, pixelsAt - removed);
  PutLittle32(start.bytes, kFileHeader, kShortInfo);
  return start;
}

}  // namespace decoder
