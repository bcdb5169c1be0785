// Colour in enlargements: JPEG's coarse chroma is redrawn along the luma's
// edges, the same in any band of rows.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/ChromaGuide.h"
#include "tests/engine/EngineHarness.h"

namespace {

using enginetest::Enlarge;
using enginetest::MakeSource;
using enginetest::Pixel;

// The picture as a JPEG of quality 75 with chroma halved both ways (4:2:0)
// gives it back, in the engine's layout.
std::vector<std::uint8_t> ThroughJpeg(const std::vector<std::uint8_t>& source, int w, int h) {
  FIBITMAP* dib = FreeImage_Allocate(w, h, 24);
  for (int r = 0; r < h; ++r) {
    BYTE* line = FreeImage_GetScanLine(dib, r);  // bottom row first, as the engine's
    for (int x = 0; x < w; ++x)
      std::memcpy(line + 3 * x, &source[(static_cast<std::size_t>(r) * w + x) * 4], 3);
  }
  FIMEMORY* memory = FreeImage_OpenMemory();
  FreeImage_SaveToMemory(FIF_JPEG, dib, memory, 75 | JPEG_SUBSAMPLING_420);
  FreeImage_Unload(dib);
  FreeImage_SeekMemory(memory, 0, SEEK_SET);
  FIBITMAP* loaded = FreeImage_LoadFromMemory(FIF_JPEG, memory);
  FreeImage_CloseMemory(memory);
  std::vector<std::uint8_t> result(source.size(), 0);
  for (int r = 0; r < h; ++r) {
    const BYTE* line = FreeImage_GetScanLine(loaded, r);
    for (int x = 0; x < w; ++x)
      std::memcpy(&result[(static_cast<std::size_t>(r) * w + x) * 4], line + 3 * x, 3);
  }
  FreeImage_Unload(loaded);
  return result;
}

// Yellow beside dark blue (luma 191 against 50), the edge inside a chroma
// block of the JPEG: enlarged four times, each side keeps its own colour from
// 1.5 source pixels off the edge on, where resampling the JPEG's halved
// chroma carried each colour several pixels into the other.
TEST(EngineChroma, JpegColourStaysOnItsSideOfALumaEdge) {
  const int w = 64, h = 48, edge = 27, factor = 4;
  const std::uint8_t yellow[3] = {40, 200, 230}, blue[3] = {150, 40, 30};  // blue, green, red
  const auto drawn = MakeSource(w, h, [&](int x, int, std::uint8_t* p) {
    std::memcpy(p, x < edge ? yellow : blue, 3);
    p[3] = 0;
  });
  const auto source = ThroughJpeg(drawn, w, h);
  const int W = w * factor, H = h * factor;
  const auto result = Enlarge(source, w, h, W, H);
  struct Side {
    int x0, x1;
    const std::uint8_t* colour;
  };
  for (const Side side : {Side{edge * factor - 16, edge * factor - 6, yellow},
                          Side{edge * factor + 6, edge * factor + 16, blue}}) {
    for (int y = factor * 4; y < H - factor * 4; ++y) {
      for (int x = side.x0; x < side.x1; ++x) {
        for (int c = 0; c < 3; ++c) {
          ASSERT_NEAR(Pixel(result, W, x, y)[c], side.colour[c], 14)
              << "channel " << c << " at " << x << "," << y;
        }
      }
    }
  }
}

// A row's slopes and offsets are the same bits whichever rows it is computed
// with, edge rows included.
TEST(EngineChroma, GuideRowsDoNotDependOnTheBand) {
  const int w = 37, h = 29;
  const auto source = MakeSource(w, h, [](int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((x * x + 7 * y) & 255);
    p[1] = static_cast<std::uint8_t>(128 + 120 * std::sin(x * 0.7 + y * 0.3));
    p[2] = static_cast<std::uint8_t>((x ^ (3 * y)) * 5);
    p[3] = 0;
  });
  const std::size_t row = static_cast<std::size_t>(w) * ampliscale::ChromaGuide::kChannels;
  for (const double degradation : {0.0, 0.2}) {
    const ampliscale::ChromaGuide guide(source.data(), w, h, degradation);
    ampliscale::ChromaGuide::Scratch scratch;
    std::vector<float> whole(row * h);
    guide.Rows(0, h, whole.data(), scratch);
    for (const int band : {1, 2, 5, 7}) {
      std::vector<float> rows(row * band);
      for (int r0 = 0; r0 < h; r0 += band) {
        const int r1 = std::min(h, r0 + band);
        guide.Rows(r0, r1, rows.data(), scratch);
        ASSERT_EQ(std::memcmp(rows.data(), whole.data() + row * r0, row * (r1 - r0) * sizeof(float)),
                  0)
            << "rows " << r0 << " to " << r1 << ", degradation " << degradation;
      }
    }
  }
}

}  // namespace
