#include "files/decoder/BmpRunLength.h"

#include "files/ByteOrder.h"

namespace decoder {

namespace {

constexpr uint64_t kRunLength8 = 1;
constexpr uint64_t kInfoHeader = 40;

}  // namespace

std::optional<uint64_t> LastRowEndOfLine(const StreamReader& read, uint64_t streamBytes) {
  uint8_t header[14 + kInfoHeader];
  if (!read(0, header, sizeof header) || header[0] != 'B' || header[1] != 'M') return std::nullopt;
  const uint64_t pixelsAt = files::ReadUnsigned(header + 10, 4, false);
  const uint64_t infoBytes = files::ReadUnsigned(header + 14, 4, false);
  const uint64_t height = files::ReadUnsigned(header + 22, 4, false);
  if (infoBytes < kInfoHeader || files::ReadUnsigned(header + 30, 4, false) != kRunLength8 ||
      height == 0 || height >= 0x80000000) {
    return std::nullopt;
  }
  uint64_t row = 0;
  for (uint64_t at = pixelsAt; at + 2 <= streamBytes;) {
    uint8_t pair[2];
    if (!read(at, pair, 2)) break;
    at += 2;
    if (pair[0] != 0) continue;  // a run of one index
    switch (pair[1]) {
      case 0:  // end of line
        if (++row == height) return at - 1;
        break;
      case 1:  // end of bitmap
        return std::nullopt;
      case 2: {  // move right and down
        uint8_t move[2];
        if (!read(at, move, 2)) return std::nullopt;
        at += 2;
        row += move[1];
        break;
      }
      default:  // indexes as they stand, padded to an even count
        at += pair[1] + (pair[1] & 1);
        break;
    }
  }
  return std::nullopt;
}

}  // namespace decoder
