#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// FreeImage reads only the 40-byte info header of a Windows BMP; the longer
// ones that later writers use by default (52, 56, 108 and 124 bytes: colour
// masks, colour space, profile) hold the same first 40 bytes. Plain functions
// of the decoder process.
namespace decoder {

// The start of a BMP as FreeImage reads it, to be followed by the original
// file from restAt on.
struct ShortBmpStart {
  std::string bytes;    // file header, 40-byte info header, colour masks
  uint64_t restAt = 0;  // where the original info header ends
};

// head holds the file's first bytes (the file header and the whole info
// header at least); fileBytes is the file's length. Gives the new start of a
// BMP whose info header is longer than 40 bytes, or nothing for any other
// file and for one whose header fields do not fit the file.
std::optional<ShortBmpStart> ShortenBmpInfoHeader(std::string_view head, uint64_t fileBytes);

// The most bytes of a file that ShortenBmpInfoHeader needs to see.
constexpr size_t kLongestBmpStart = 14 + 124;

}  // namespace decoder
