// BMPs with the info headers that later writers use by default (52 to 124
// bytes), opened through the decoder process. The oracle is ImageMagick's own
// reading of the file it wrote, handed over as PNG and read by FreeImage.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestImages.h"
#include "files/DecoderProcess.h"

namespace {

using testimages::TempDir;

// A gradient of 64 x 48 that needs no more than a palette of 256.
constexpr const char* kGradient = "-size 64x48 gradient:red-blue";
// Opacity from 20 % on the left to 80 % on the right.
constexpr const char* kVaryingAlpha =
    "-alpha on -channel A -fx '0.2+0.6*i/w' +channel -type TrueColorAlpha";
// Colours that 5 and 6 bits hold exactly.
constexpr const char* kBlocks =
    "-size 16x12 xc:red -fill blue -draw 'rectangle 0,0 7,5' -fill lime "
    "-draw 'rectangle 8,6 15,11'";

int Shell(const std::string& command) { return std::system(command.c_str()); }

uint32_t Little32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
  return value;
}

void PutLittle32(std::string& bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// The file with its 124-byte info header cut to infoBytes, as older writers
// make them (each shorter header is the start of the longer ones).
std::string WithInfoHeader(std::string bytes, uint32_t infoBytes) {
  const uint32_t removed = 124 - infoBytes;
  bytes.erase(14 + infoBytes, removed);
  PutLittle32(bytes, 2, uint32_t(bytes.size()));
  PutLittle32(bytes, 10, Little32(bytes, 10) - removed);
  PutLittle32(bytes, 14, infoBytes);
  return bytes;
}

// Every pixel as 8-bit RGBA.
bool SameColours(FIBITMAP* ours, FIBITMAP* oracle) {
  FIBITMAP* a = FreeImage_ConvertTo32Bits(ours);
  FIBITMAP* b = FreeImage_ConvertTo32Bits(oracle);
  const bool same = testimages::SamePixels(a, b);
  FreeImage_Unload(a);
  FreeImage_Unload(b);
  return same;
}

struct LongHeaderCase {
  const char* label;
  const char* picture;  // ImageMagick's arguments that make it
  const char* options;  // how ImageMagick writes it as BMP
  uint32_t infoBytes;   // the info header's length in the file
  unsigned bpp;         // of the bitmap FreeImage makes
};

void PrintTo(const LongHeaderCase& c, std::ostream* out) { *out << c.label; }

class LongBmpHeaderTest : public testing::TestWithParam<LongHeaderCase> {};

TEST_P(LongBmpHeaderTest, OpensAsImageMagickReadsIt) {
  const LongHeaderCase& c = GetParam();
  TempDir dir;
  const std::string written = dir.File("written.bmp");
  const std::string path = dir.File("picture.bmp");
  const std::string png = dir.File("oracle.png");
  ASSERT_EQ(Shell("convert " + std::string(c.picture) + " " + c.options + " '" + written + "'"), 0);
  const std::string bytes = testimages::ReadAll(written);
  ASSERT_GT(bytes.size(), 138u);
  ASSERT_EQ(Little32(bytes, 14), 124u) << "ImageMagick no longer writes a 124-byte header";
  testimages::WriteAll(path, WithInfoHeader(bytes, c.infoBytes));
  ASSERT_EQ(Shell("convert '" + written + "' png32:'" + png + "'"), 0);
  FIBITMAP* oracle = FreeImage_Load(FIF_PNG, png.c_str(), 0);
  ASSERT_NE(oracle, nullptr);

  const files::DecodeOutcome outcome = files::DecodeImageFile({path, uint64_t{1} << 32, -1, {}});
  EXPECT_EQ(outcome.code, files::kLoaded);
  EXPECT_FALSE(outcome.incomplete);
  ASSERT_NE(outcome.bitmap, nullptr);
  EXPECT_EQ(FreeImage_GetBPP(outcome.bitmap), c.bpp);
  EXPECT_TRUE(SameColours(outcome.bitmap, oracle));
  FreeImage_Unload(outcome.bitmap);
  FreeImage_Unload(oracle);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LongBmpHeaderTest,
    testing::Values(
        LongHeaderCase{"V5Rgb24", kGradient, "-type TrueColor", 124, 24},
        LongHeaderCase{"V5Alpha32", kGradient, kVaryingAlpha, 124, 32},
        LongHeaderCase{"V5Palette8", kGradient, "-type Palette -compress None", 124, 8},
        // Rows run-length coded, the last ended by end of line, then end of bitmap.
        LongHeaderCase{"V5PaletteRle8", kGradient, "-type Palette -compress RLE", 124, 8},
        LongHeaderCase{"V1PaletteRle8", kGradient, "-type Palette -compress RLE", 40, 8},
        LongHeaderCase{"V5Rgb565", kBlocks, "-type TrueColor -define bmp:subtype=RGB565", 124, 16},
        LongHeaderCase{"V4Alpha32", kGradient, kVaryingAlpha, 108, 32},
        LongHeaderCase{"V3Rgb24", kGradient, "-type TrueColor", 56, 24},
        LongHeaderCase{"V2Rgb565", kBlocks, "-type TrueColor -define bmp:subtype=RGB565", 52, 16}),
    [](const testing::TestParamInfo<LongHeaderCase>& info) { return info.param.label; });

// Cut in its pixels, a file still opens, as incomplete; cut in its header,
// or with its pixels declared inside the header, it is damaged.
TEST(LongBmpHeaderHostileTest, IsIncompleteOrDamaged) {
  TempDir dir;
  const std::string written = dir.File("written.bmp");
  ASSERT_EQ(Shell("convert " + std::string(kGradient) + " -type TrueColor '" + written + "'"), 0);
  const std::string bytes = testimages::ReadAll(written);
  ASSERT_EQ(Little32(bytes, 14), 124u);
  std::string pixelsInHeader = bytes;
  PutLittle32(pixelsInHeader, 10, 100);
  const struct {
    const char* label;
    std::string bytes;
    files::LoadCode code;
    bool incomplete;
    files::LoadFailure failure;
  } cases[] = {
      {"cut in pixels", bytes.substr(0, bytes.size() / 2), files::kLoaded, true,
       files::LoadFailure::None},
      {"cut in header", bytes.substr(0, 100), files::kReadFailed, false,
       files::LoadFailure::Damaged},
      {"pixels in header", pixelsInHeader, files::kReadFailed, false, files::LoadFailure::Damaged},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File("hostile.bmp");
    testimages::WriteAll(path, c.bytes);
    const files::DecodeOutcome outcome = files::DecodeImageFile({path, uint64_t{1} << 32, -1, {}});
    EXPECT_EQ(outcome.code, c.code) << c.label;
    EXPECT_EQ(outcome.incomplete, c.incomplete) << c.label;
    EXPECT_EQ(outcome.failure, c.failure) << c.label;
    if (outcome.bitmap) FreeImage_Unload(outcome.bitmap);
  }
}

}  // namespace
