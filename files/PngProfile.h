#pragma once

#include <cstddef>

// Whether libpng, which writes FreeImage's PNG files, takes an ICC profile:
// it refuses the whole file for a profile it finds wrong (a length that
// disagrees with the header, tags outside the profile, a colour space that
// is not the picture's), so a profile is tried on it before the picture is
// written. Any thread.
namespace files {

// colour: the PNG is written in colour (RGB or a palette), not in grey.
bool PngTakesProfile(const void* profile, size_t size, bool colour);

}  // namespace files
