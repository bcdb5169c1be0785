#include "platform/NumberParsing.h"

#include <limits>

namespace platform {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads sign and digits from pos; pos ends after the last digit read.
LeadingInt ReadNumber(std::string_view text, size_t& pos) {
  LeadingInt result;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  // Accumulate as a negative number so that INT32_MIN itself fits.
  const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                 : int64_t{std::numeric_limits<int32_t>::max()};
  int64_t magnitude = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    result.found = true;
    if (!result.overflow) {
      magnitude = magnitude * 10 + (text[pos] - '0');
      if (magnitude > limit) result.overflow = true;
    }
    ++pos;
  }
  if (result.overflow) magnitude = limit;
  result.value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return result;
}

}  // namespace

std::optional<int32_t> ParseInt32(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  const LeadingInt number = ReadNumber(text, pos);
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  if (!number.found || number.overflow || pos != text.size()) return std::nullopt;
  return number.value;
}

LeadingInt ParseLeadingInt(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  return ReadNumber(text, pos);
}

}  // namespace platform
