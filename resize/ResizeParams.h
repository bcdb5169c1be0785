#pragma once

#include <string_view>

// The resize-parameters dialog's arithmetic: percent, width and height boxes
// following each other. Plain functions, any thread.
namespace resize {

// What reading a box gives: the member's new value, and whether the box must
// show it because the text was not a whole number or out of range.
struct BoxReading {
  int value = 0;
  bool rewrite = false;
  bool operator==(const BoxReading&) const = default;
};

// A box holding 0..maximum: text that is not a whole 32-bit number reads as
// 0, a number outside the range is clamped.
BoxReading ReadBox(std::string_view text, int maximum);

// A side for a percent: percent x source / 100, product first, truncated.
int SideForPercent(int percent, int sourceSide);
// The percent for a typed side: (side / source) x 100, quotient first,
// truncated; 0 for a source side of 0.
int PercentForSide(int side, int sourceSide);
// 20 x a source side, the largest a side box accepts.
int MaxSide(int sourceSide);

// OK is enabled for 2..2000 except 100.
bool AcceptsPercent(int percent);

// The up-down's range runs from 2000 down to 1, so its "up" proposes a
// negative change; the percent moves the other way, kept within 0..2000.
int PercentAfterUpDown(int percent, int proposedChange);

}  // namespace resize
