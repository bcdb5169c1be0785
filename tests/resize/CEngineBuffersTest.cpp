#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "resize/CEngineBuffers.h"

namespace {

using Bgra = std::array<int, 4>;

class FreeImageScope : public testing::Environment {
 public:
  void SetUp() override { FreeImage_Initialise(FALSE); }
  void TearDown() override { FreeImage_DeInitialise(); }
};
const auto* const kFreeImage = testing::AddGlobalTestEnvironment(new FreeImageScope);

// A bitmap of a kind FreeImage loads, filled with a pattern, and the colour
// of each pixel worked out by hand from the stored values.
struct Sample {
  std::string name;
  std::function<FIBITMAP*()> make;
  std::function<Bgra(FIBITMAP*, unsigned x, unsigned yBottomUp)> expected;
};

void PrintTo(const Sample& sample, std::ostream* os) { *os << sample.name; }

uint8_t Pattern(unsigned x, unsigned y, unsigned channel) {
  return static_cast<uint8_t>((x * 37 + y * 91 + channel * 53) & 0xFF);
}

template <typename Fill>
FIBITMAP* Make(FREE_IMAGE_TYPE type, int bpp, Fill fill, unsigned w = 13, unsigned h = 9) {
  FIBITMAP* bitmap = FreeImage_AllocateT(type, static_cast<int>(w), static_cast<int>(h), bpp);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) fill(FreeImage_GetScanLine(bitmap, static_cast<int>(y)), x, y);
  return bitmap;
}

FIBITMAP* MakePalette(int bpp) {
  FIBITMAP* bitmap = FreeImage_Allocate(13, 9, bpp);
  RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  const unsigned colours = 1u << bpp;
  for (unsigned i = 0; i < colours; ++i)
    palette[i] = {Pattern(i, 1, 0), Pattern(i, 2, 1), Pattern(i, 3, 2), 0};
  for (unsigned y = 0; y < 9; ++y)
    for (unsigned x = 0; x < 13; ++x) {
      BYTE index = static_cast<BYTE>((x + 3 * y) % colours);
      FreeImage_SetPixelIndex(bitmap, x, y, &index);
    }
  return bitmap;
}

Bgra FromPalette(FIBITMAP* bitmap, unsigned x, unsigned y) {
  BYTE index = 0;
  FreeImage_GetPixelIndex(bitmap, x, y, &index);
  const RGBQUAD& c = FreeImage_GetPalette(bitmap)[index];
  return {c.rgbBlue, c.rgbGreen, c.rgbRed, -1};
}

int FiveBits(unsigned v) { return static_cast<int>(v * 255 / 31); }
int SixBits(unsigned v) { return static_cast<int>(v * 255 / 63); }
int Unit(float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  for (int bpp : {1, 4, 8})
    samples.push_back(
        {"Palette" + std::to_string(bpp), [bpp] { return MakePalette(bpp); }, FromPalette});
  samples.push_back({"Rgb565",
                     [] {
                       FIBITMAP* b = FreeImage_Allocate(13, 9, 16, FI16_565_RED_MASK,
                                                        FI16_565_GREEN_MASK, FI16_565_BLUE_MASK);
                       for (unsigned y = 0; y < 9; ++y)
                         for (unsigned x = 0; x < 13; ++x)
                           reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(b, y))[x] =
                               static_cast<uint16_t>(x * 3001 + y * 17);
                       return b;
                     },
                     [](FIBITMAP* b, unsigned x, unsigned y) -> Bgra {
                       const unsigned v =
                           reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(b, y))[x];
                       return {FiveBits(v & 0x1F), SixBits((v >> 5) & 0x3F), FiveBits(v >> 11), -1};
                     }});
  for (int bpp : {24, 32})
    samples.push_back({"Rgb" + std::to_string(bpp),
                       [bpp] {
                         return Make(FIT_BITMAP, bpp, [bpp](BYTE* line, unsigned x, unsigned y) {
                           for (int c = 0; c < bpp / 8; ++c)
                             line[x * (bpp / 8) + c] = Pattern(x, y, c);
                         });
                       },
                       [](FIBITMAP*, unsigned x, unsigned y) -> Bgra {
                         return {Pattern(x, y, 0), Pattern(x, y, 1), Pattern(x, y, 2), -1};
                       }});
  samples.push_back({"Grey16",
                     [] {
                       return Make(FIT_UINT16, 16, [](BYTE* line, unsigned x, unsigned y) {
                         reinterpret_cast<uint16_t*>(line)[x] =
                             static_cast<uint16_t>(x * 4099 + y * 701);
                       });
                     },
                     [](FIBITMAP* b, unsigned x, unsigned y) -> Bgra {
                       const int v =
                           reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(b, y))[x] >> 8;
                       return {v, v, v, -1};
                     }});
  for (int channels : {3, 4})
    samples.push_back({channels == 3 ? "Rgb48" : "Rgba64",
                       [channels] {
                         return Make(channels == 3 ? FIT_RGB16 : FIT_RGBA16, 16 * channels,
                                     [channels](BYTE* line, unsigned x, unsigned y) {
                                       auto* p = reinterpret_cast<uint16_t*>(line) + x * channels;
                                       for (int c = 0; c < channels; ++c)
                                         p[c] = static_cast<uint16_t>(Pattern(x, y, c) * 256 + 17);
                                     });
                       },
                       // FreeImage's 16-bit colour types store red first.
                       [](FIBITMAP*, unsigned x, unsigned y) -> Bgra {
                         return {Pattern(x, y, 2), Pattern(x, y, 1), Pattern(x, y, 0), -1};
                       }});
  samples.push_back({"Float",
                     [] {
                       return Make(FIT_FLOAT, 32, [](BYTE* line, unsigned x, unsigned y) {
                         reinterpret_cast<float*>(line)[x] =
                             (static_cast<float>(x) * 9 + y * 7) / 100.0f - 0.1f;
                       });
                     },
                     [](FIBITMAP* b, unsigned x, unsigned y) -> Bgra {
                       const int v = Unit(reinterpret_cast<float*>(FreeImage_GetScanLine(b, y))[x]);
                       return {v, v, v, -1};
                     }});
  samples.push_back(
      {"RgbFloat",
       [] {
         return Make(FIT_RGBF, 96, [](BYTE* line, unsigned x, unsigned y) {
           FIRGBF& p = reinterpret_cast<FIRGBF*>(line)[x];
           p = {Pattern(x, y, 0) / 250.0f, Pattern(x, y, 1) / 255.0f, Pattern(x, y, 2) / 300.0f};
         });
       },
       [](FIBITMAP* b, unsigned x, unsigned y) -> Bgra {
         const FIRGBF& p = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(b, y))[x];
         return {Unit(p.blue), Unit(p.green), Unit(p.red), -1};
       }});
  return samples;
}

class SourceConversionTest : public testing::TestWithParam<Sample> {};

TEST_P(SourceConversionTest, RegionArrivesAs32BitsBottomRowFirst) {
  FIBITMAP* source = GetParam().make();
  ASSERT_NE(source, nullptr);
  const unsigned height = FreeImage_GetHeight(source);
  // A region off every edge: left 2, top 3, 9 x 5.
  const resize::Region region{2, 3, 11, 8};
  CEngineBuffers buffers;
  CEngineBuffers::SourceHeader header;
  const uint8_t* pixels = buffers.CreateSource(source, region, header);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(header.width, 9);
  EXPECT_EQ(header.height, 5);
  for (int row = 0; row < header.height; ++row) {
    // Buffer row 0 is the region's bottom row, top-down row 7.
    const unsigned topDown = static_cast<unsigned>(region.bottom - 1 - row);
    for (int col = 0; col < header.width; ++col) {
      const Bgra want = GetParam().expected(source, static_cast<unsigned>(region.left + col),
                                            height - 1 - topDown);
      const uint8_t* got = pixels + (row * header.width + col) * 4;
      for (int c = 0; c < 3; ++c)
        ASSERT_NEAR(got[c], want[c], 1) << "row " << row << " col " << col << " channel " << c;
    }
  }
  FreeImage_Unload(source);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SourceConversionTest, testing::ValuesIn(Samples()),
                         [](const auto& info) { return info.param.name; });

TEST(EngineBuffers, TallSourceIsConvertedInStripsWithoutSeams) {
  // 300 x 4000 at 32 bits spans several strips.
  FIBITMAP* source = Make(
      FIT_BITMAP, 24,
      [](BYTE* line, unsigned x, unsigned y) {
        for (int c = 0; c < 3; ++c) line[x * 3 + c] = Pattern(x, y, c);
      },
      300, 4000);
  CEngineBuffers buffers;
  CEngineBuffers::SourceHeader header;
  const uint8_t* pixels = buffers.CreateSource(source, {0, 0, 300, 4000}, header);
  ASSERT_NE(pixels, nullptr);
  for (unsigned y = 0; y < 4000; ++y)
    for (unsigned x = 0; x < 300; x += 7)
      ASSERT_EQ(pixels[(y * 300 + x) * 4 + 1], Pattern(x, y, 1)) << x << "," << y;
  FreeImage_Unload(source);
}

TEST(EngineBuffers, IntegerImagesAreScaledOverTheWholeRegion) {
  FIBITMAP* source = Make(FIT_INT32, 32, [](BYTE* line, unsigned x, unsigned y) {
    reinterpret_cast<int32_t*>(line)[x] = static_cast<int32_t>(x + y * 13) * 1000 - 50000;
  });
  CEngineBuffers buffers;
  CEngineBuffers::SourceHeader header;
  const uint8_t* pixels = buffers.CreateSource(source, {0, 0, 13, 9}, header);
  ASSERT_NE(pixels, nullptr);
  // Smallest value (top-down row 8 is scan line 0, x 0) black, largest white.
  EXPECT_EQ(pixels[0], 0);
  EXPECT_EQ(pixels[(8 * 13 + 12) * 4], 255);
  FreeImage_Unload(source);
}

TEST(EngineBuffers, DestinationHasRoomForTheIntermediateImage) {
  FIBITMAP* source = FreeImage_Allocate(10, 6, 24);
  CEngineBuffers buffers;
  EXPECT_EQ(buffers.CreateDest(20, 12), nullptr) << "needs the source first";
  CEngineBuffers::SourceHeader header;
  ASSERT_NE(buffers.CreateSource(source, {0, 0, 10, 6}, header), nullptr);
  uint8_t* dest = buffers.CreateDest(10, 6);
  ASSERT_NE(dest, nullptr);
  EXPECT_EQ(buffers.DestBytes(), 19u * 11 * 4);
  // Every byte is usable.
  std::memset(dest, 0xAB, buffers.DestBytes());
  FreeImage_Unload(source);
}

TEST(EngineBuffers, FailuresLeaveNoBuffer) {
  FIBITMAP* source = FreeImage_Allocate(10, 6, 24);
  CEngineBuffers buffers;
  CEngineBuffers::SourceHeader header;
  EXPECT_EQ(buffers.CreateSource(nullptr, {0, 0, 1, 1}, header), nullptr);
  EXPECT_EQ(buffers.CreateSource(source, {5, 0, 5, 6}, header), nullptr);
  EXPECT_EQ(buffers.CreateSource(source, {0, 0, 10, 6}, header, [] { return true; }), nullptr);
  EXPECT_EQ(buffers.SourcePixels(), nullptr);
  ASSERT_NE(buffers.CreateSource(source, {0, 0, 10, 6}, header), nullptr);
  // 4 EiB: the mapping is refused and nothing is left half made.
  EXPECT_EQ(buffers.CreateDest(int64_t{1} << 40, int64_t{1} << 20), nullptr);
  EXPECT_EQ(buffers.DestPixels(), nullptr);
  FIBITMAP* complexImage = FreeImage_AllocateT(FIT_COMPLEX, 4, 4);
  EXPECT_NE(buffers.CreateSource(complexImage, {0, 0, 4, 4}, header), nullptr);
  FreeImage_Unload(complexImage);
  FreeImage_Unload(source);
}

}  // namespace
