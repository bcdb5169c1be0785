#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Safe integer reading for typed numbers. Plain functions, any thread.
namespace platform {

// The whole text as a signed 32-bit decimal: optional spaces around it, an
// optional sign, then digits only. Empty text, a lone sign, any other
// character or a value beyond 32 bits is "not a number" (nullopt).
std::optional<int32_t> ParseInt32(std::string_view text);

// The leading number of a text, in the manner of atoi: leading spaces, an
// optional sign and the digits that follow; the rest of the text is ignored.
struct LeadingInt {
  bool found = false;     // at least one digit was read
  bool overflow = false;  // the digits did not fit in 32 bits
  int32_t value = 0;      // the number; saturated at INT32_MIN/MAX on overflow
};
LeadingInt ParseLeadingInt(std::string_view text);

}  // namespace platform
