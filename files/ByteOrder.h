#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Unsigned integers as files store them, in either byte order. Any thread.
namespace files {

// The count bytes (at most 8) at p as one number.
inline uint64_t ReadUnsigned(const uint8_t* p, size_t count, bool bigEndian) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value = (value << 8) | p[bigEndian ? i : count - 1 - i];
  return value;
}

// The little-endian 32-bit field at `at`; 0 when bytes end before it does.
inline uint32_t Little32(std::string_view bytes, size_t at) {
  if (bytes.size() < at || bytes.size() - at < 4) return 0;
  return uint32_t(ReadUnsigned(reinterpret_cast<const uint8_t*>(bytes.data() + at), 4, false));
}

}  // namespace files
