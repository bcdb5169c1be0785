#pragma once

#include <cstddef>
#include <cstdint>

// What the fuzzers feed hostile bytes to: the metadata parsers and writers
// (XMP sizes, EXIF blocks, ICC profiles, the TIFF profile lookup, carrying
// and saving) and the decoder's wire format. Each returns 0; a fault is a
// crash, a sanitizer report or a broken invariant (abort). The test run
// replays the kept corpus through the same functions.
namespace fuzz {

int Metadata(const uint8_t* data, size_t size);
int Wire(const uint8_t* data, size_t size);

}  // namespace fuzz
