// PNG written on every core against FreeImage's own PNG writer, which is the
// oracle: every chunk but the picture data byte for byte the same and in the
// same order, the pixels FreeImage reads back the same, the file passing
// pngcheck, and the bytes the same for any number of threads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestImages.h"
#include "files/ImageFiles.h"
#include "files/PngWriter.h"

namespace {

using testimages::TempDir;

struct Chunk {
  std::string type;
  std::string data;
};

// The chunks of a PNG file but its picture data, in order.
std::vector<Chunk> ChunksBesidesData(const std::string& png) {
  std::vector<Chunk> chunks;
  for (size_t at = 8; at + 12 <= png.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(png.data() + at);
    const size_t length = size_t{p[0]} << 24 | size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3];
    const std::string type = png.substr(at + 4, 4);
    if (type != "IDAT") chunks.push_back({type, png.substr(at + 8, length + 4)});
    at += 12 + length;
  }
  return chunks;
}

// A picture of the kind with what a PNG carries beside the pixels: profile,
// resolution, a comment, and for palettes a transparent entry.
FIBITMAP* MakeCarrying(const std::string& kind) {
  constexpr int kWidth = 1200, kHeight = 1000;  // several strips of every kind
  FIBITMAP* bitmap = nullptr;
  if (kind == "rgb48") bitmap = testimages::MakePatternOfType(FIT_RGB16, kWidth, kHeight);
  if (kind == "grey16") bitmap = testimages::MakePatternOfType(FIT_UINT16, kWidth, kHeight);
  if (kind == "rgba64") {
    FIBITMAP* rgb = testimages::MakePatternOfType(FIT_RGB16, kWidth, kHeight);
    bitmap = FreeImage_ConvertToType(rgb, FIT_RGBA16);
    FreeImage_Unload(rgb);
    for (int y = 0; y < kHeight; ++y)
      reinterpret_cast<FIRGBA16*>(FreeImage_GetScanLine(bitmap, y))[y % kWidth].alpha = 1234;
  }
  if (kind == "rgb24") bitmap = testimages::MakePattern(kWidth, kHeight, 24);
  if (kind == "rgba32" || kind == "opaque32") {
    bitmap = testimages::MakePattern(kWidth, kHeight, 32);
    for (int y = 0; y < kHeight; ++y) {
      BYTE* row = FreeImage_GetScanLine(bitmap, y);
      for (int x = 0; x < kWidth; ++x)
        row[4 * x + FI_RGBA_ALPHA] = kind == "opaque32" ? 255 : static_cast<BYTE>(x + y);
    }
  }
  if (kind == "grey8") bitmap = testimages::MakePattern(kWidth, kHeight, 8);
  if (kind == "palette8") {
    bitmap = testimages::MakePattern(kWidth, kHeight, 8);
    RGBQUAD* palette = FreeImage_GetPalette(bitmap);
    for (int i = 0; i < 256; ++i) palette[i] = {BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
    BYTE table[3] = {0, 128, 255};
    FreeImage_SetTransparencyTable(bitmap, table, 3);
  }
  // A colour profile; libpng refuses one on grey pictures.
  const std::vector<uint8_t> icc = testimages::IccProfile();
  if (kind != "grey8" && kind != "grey16")
    FreeImage_CreateICCProfile(bitmap, const_cast<uint8_t*>(icc.data()),
                               static_cast<long>(icc.size()));
  FreeImage_SetDotsPerMeterX(bitmap, 11811);
  FreeImage_SetDotsPerMeterY(bitmap, 3780);
  const char comment[] = "made by the test";
  testimages::SetTag(bitmap, FIMD_COMMENTS, "Comment", FIDT_ASCII, comment, sizeof comment);
  return bitmap;
}

// The bytes the strips make with threads threads around FreeImage's frame.
std::string StripBytes(FIBITMAP* bitmap, unsigned threads) {
  FIBITMAP* frameBitmap = files::PngFrameBitmap(bitmap);
  if (!frameBitmap) return {};
  FIMEMORY* memory = FreeImage_OpenMemory();
  FreeImage_SaveToMemory(FIF_PNG, frameBitmap, memory, 0);
  BYTE* data = nullptr;
  DWORD size = 0;
  FreeImage_AcquireMemory(memory, &data, &size);
  const std::vector<uint8_t> frame(data, data + size);
  FreeImage_CloseMemory(memory);
  FreeImage_Unload(frameBitmap);
  std::string out;
  const files::PngWrite written = files::WritePngStrips(
      bitmap, frame,
      [&out](const uint8_t* bytes, size_t count) {
        out.append(reinterpret_cast<const char*>(bytes), count);
        return true;
      },
      {}, {}, threads);
  return written == files::PngWrite::Written ? out : std::string();
}

class PngStripsTest : public testing::TestWithParam<const char*> {};

TEST_P(PngStripsTest, AsFreeImageWritesItOnEveryCore) {
  FIBITMAP* bitmap = MakeCarrying(GetParam());
  ASSERT_NE(bitmap, nullptr);
  TempDir dir;
  const std::string theirs = dir.File("freeimage.png");
  const std::string ours = dir.File("ours.png");
  ASSERT_TRUE(testimages::Write(bitmap, FIF_PNG, theirs));
  std::FILE* stream = std::fopen(ours.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  std::vector<double> shares;
  files::WriteExtras extras;
  extras.progress = [&shares](double share) { shares.push_back(share); };
  EXPECT_TRUE(files::WriteImage(bitmap, FIF_PNG, stream, {}, nullptr, 0, extras));
  ASSERT_EQ(std::fclose(stream), 0);

  // Written by the strips, not handed back to FreeImage's writer.
  const std::string one = StripBytes(bitmap, 1);
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(one, testimages::ReadAll(ours));
  EXPECT_EQ(one, StripBytes(bitmap, 2));
  EXPECT_EQ(one, StripBytes(bitmap, 5));
  ASSERT_GT(shares.size(), 2u);
  EXPECT_DOUBLE_EQ(shares.back(), 1.0);

  const std::vector<Chunk> expected = ChunksBesidesData(testimages::ReadAll(theirs));
  const std::vector<Chunk> got = ChunksBesidesData(one);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].type, expected[i].type);
    EXPECT_TRUE(got[i].data == expected[i].data) << got[i].type;
  }
  FIBITMAP* back = FreeImage_Load(FIF_PNG, ours.c_str(), 0);
  FIBITMAP* oracle = FreeImage_Load(FIF_PNG, theirs.c_str(), 0);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(testimages::SamePixels(back, oracle));
  FreeImage_Unload(back);
  FreeImage_Unload(oracle);
  EXPECT_EQ(std::system(("pngcheck -q " + ours + " >/dev/null").c_str()), 0);
  // Within a few percent of FreeImage's size.
  EXPECT_LT(static_cast<double>(one.size()),
            1.02 * static_cast<double>(testimages::ReadAll(theirs).size()));
  FreeImage_Unload(bitmap);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngStripsTest,
                         testing::Values("rgb24", "rgba32", "opaque32", "grey8", "palette8",
                                         "rgb48", "rgba64", "grey16"));

TEST(PngStripsStopTest, StopAfterTheFirstStripEndsTheWrite) {
  FIBITMAP* bitmap = testimages::MakePattern(1200, 1000, 24);
  std::FILE* stream = std::tmpfile();
  bool stop = false;
  int strips = 0;
  files::WriteExtras extras;
  extras.progress = [&](double) {
    ++strips;
    stop = true;
  };
  EXPECT_FALSE(files::WriteImage(
      bitmap, FIF_PNG, stream, [&] { return stop; }, nullptr, 0, extras));
  EXPECT_EQ(strips, 1);
  std::fclose(stream);
  FreeImage_Unload(bitmap);
}

}  // namespace
