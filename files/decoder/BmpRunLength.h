#pragma once

#include <cstdint>
#include <functional>
#include <optional>

// FreeImage's reader of 8-bit run-length BMPs refuses an end-of-line escape
// on the last row, though writers end the last row with one before the
// end-of-bitmap escape, and other readers take it. Plain functions of the
// decoder process; every read is checked against the stream's end.
namespace decoder {

// Puts count bytes of the stream from offset on at to; false when they cannot be had.
using StreamReader = std::function<bool(uint64_t offset, void* to, size_t count)>;

// Where, in a BMP of 8-bit run-length rows streamBytes long, the escape that
// ends the last row has its second byte (0, end of line), to be read as 1
// (end of bitmap); nothing for any other file.
std::optional<uint64_t> LastRowEndOfLine(const StreamReader& read, uint64_t streamBytes);

}  // namespace decoder
