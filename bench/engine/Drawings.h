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

}  // namespace enginebench
