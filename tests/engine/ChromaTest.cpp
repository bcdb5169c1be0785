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

// Yellow beside dark blue (luma 191 against 50), with a texture of grey
// that JPEG's grid shows in and the colour does not change, saved as a JPEG
// whose halved chroma mixes the two colours beside the edge. Enlarged four
// times, each side's chroma (blue and red minus luma) stays within 9 levels
// of its drawn colour's from two source pixels off the edge on, the edge
// inside a chroma block or on its border. Resampling the JPEG's chroma
// carried up to 12 levels of the other colour there.
TEST(EngineChroma, JpegColourStaysOnItsSideOfALumaEdge) {
  const int w = 64, h = 48, factor = 4;
  struct Colour {
    std::uint8_t bgr[3];
    double blue, red;  // minus luma (0.114 B + 0.587 G + 0.299 R), worked out by hand
  };
  const Colour yellow{{40, 200, 230}, 40 - 190.73, 230 - 190.73};
  const Colour navy{{150, 40, 30}, 150 - 49.55, 30 - 49.55};
  for (const int edge : {21, 24, 27}) {
    const auto drawn = MakeSource(w, h, [&](int x, int y, std::uint8_t* p) {
      const int grey = static_cast<int>(
          std::lround(12 * std::sin(x * 1.7 + y * 0.9) + 8 * std::sin(x * 0.5 - y * 1.3)));
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<std::uint8_t>((x < edge ? yellow : navy).bgr[c] + grey);
      p[3] = 0;
    });
    const int W = w * factor, H = h * factor;
    const auto result = Enlarge(ThroughJpeg(drawn, w, h), w, h, W, H);
    for (int y = 4 * factor; y < H - 4 * factor; ++y) {
      for (const int d : {8, 12, 16, 20, 24}) {
        for (const int side : {-1, 1}) {
          const int x = edge * factor + (side < 0 ? -d : d - 1);
          const Colour& colour = side < 0 ? yellow : navy;
          const std::uint8_t* p = Pixel(result, W, x, y);
          const double luma = 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
          ASSERT_NEAR(p[0] - luma, colour.blue, 9) << "edge " << edge << " at " << x << "," << y;
          ASSERT_NEAR(p[2] - luma, colour.red, 9) << "edge " << edge << " at " << x << "," << y;
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
        ASSERT_EQ(
            std::memcmp(rows.data(), whole.data() + row * r0, row * (r1 - r0) * sizeof(float)), 0)
            << "rows " << r0 << " to " << r1 << ", degradation " << degradation;
      }
    }
  }
}

}  // namespace
