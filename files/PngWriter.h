#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// PNG on every core: the rows are filtered as libpng filters them and
// deflated in strips of a fixed number of rows, each strip on its own
// thread, and the strips are joined into the one zlib stream a PNG holds.
// The strips do not depend on the number of threads, so neither do the
// bytes. Everything around the picture data (the header, palette,
// transparency, profile, text, resolution) is written by FreeImage's own
// writer from a one-row copy of the bitmap, so that the file carries what
// FreeImage's would. Called on a worker thread; runs threads of its own and
// joins them before it returns.
namespace files {

// A one-row copy of bitmap with everything FreeImage's writer reads (the
// caller's to free), or null when the bitmap's layout is one this writer
// leaves to FreeImage's.
FIBITMAP* PngFrameBitmap(FIBITMAP* bitmap);

// Takes the bytes in order; false when they could not be written.
using ByteSink = std::function<bool(const uint8_t* bytes, size_t count)>;

enum class PngWrite { Written, Failed, NotMine };

// Writes bitmap as PNG to sink: frame is the file FreeImage wrote from
// PngFrameBitmap (with any chunk added to it), whose picture data is
// replaced by the whole picture's. NotMine, with nothing written, when the
// frame does not describe the bitmap as this writer stores it. stop is asked
// on the calling thread between strips; progress is told the share written.
// threads 0: one per core.
PngWrite WritePngStrips(FIBITMAP* bitmap, const std::vector<uint8_t>& frame, const ByteSink& sink,
                        const std::function<bool()>& stop,
                        const std::function<void(double)>& progress, unsigned threads = 0);

}  // namespace files
