#pragma once

#include <FreeImage.h>

#include <string>
#include <vector>

namespace enginebench {

struct Drawing {
  std::string name;
  FIBITMAP* bitmap;  // 24 bits per pixel; the caller unloads it
};

// Line art and text of our own, antialiased as a drawing program would make
// them: a cartoon of flat colours with dark outlines, lettering in several
// sizes, and thin lines, circles and hatching.
std::vector<Drawing> MakeDrawings();

// A line drawing rendered from the same shapes at its own size and at four
// times it, so that a 400 % enlargement has a truth to be scored against.
struct LineArt {
  std::string name;
  FIBITMAP* small;  // 24 bits per pixel; the caller unloads both
  FIBITMAP* truth;  // the same drawing at four times the size
  int paper[3];     // red, green, blue of the ground
};
LineArt MakeLineArt();

}  // namespace enginebench
