#include "resize/ResizeParams.h"

#include <algorithm>
#include <limits>

#include "platform/NumberParsing.h"
#include "resize/ResizeRules.h"

namespace resize {
namespace {

int TruncatedToInt(double value) {
  constexpr double kMax = std::numeric_limits<int>::max();
  if (!(value > 0.0)) return 0;
  return value >= kMax ? std::numeric_limits<int>::max() : static_cast<int>(value);
}

}  // namespace

BoxReading ReadBox(std::string_view text, int maximum) {
  const std::optional<int32_t> number = platform::ParseInt32(text);
  if (!number) return {0, true};
  if (*number < 0) return {0, true};
  if (*number > maximum) return {maximum, true};
  return {*number, false};
}

int SideForPercent(int percent, int sourceSide) {
  return TruncatedToInt(static_cast<double>(percent) * sourceSide / 100.0);
}

int PercentForSide(int side, int sourceSide) {
  if (sourceSide <= 0) return 0;
  return TruncatedToInt(static_cast<double>(side) / sourceSide * 100.0);
}

int MaxSide(int sourceSide) {
  return static_cast<int>(std::min<long long>(20LL * sourceSide, std::numeric_limits<int>::max()));
}

bool AcceptsPercent(int percent) {
  return percent != 100 && percent >= 2 && percent <= kMaxPercent;
}

int PercentAfterUpDown(int percent, int proposedChange) {
  return static_cast<int>(
      std::clamp<long long>(static_cast<long long>(percent) - proposedChange, 0, kMaxPercent));
}

}  // namespace resize
