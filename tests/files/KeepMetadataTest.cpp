// What a saved result keeps: its profile, its metadata and a type the format
// can hold. The files are read back by FreeImage and by ImageMagick, which
// knows nothing of the code under test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TestImages.h"
#include "files/ExifBlock.h"
#include "files/ImageFiles.h"
#include "files/ImageMetadata.h"

namespace {

const files::StopRequested kNeverStop = [] { return false; };

// ImageMagick's reading of a file, through the format string of identify.
std::string Identify(const std::string& format, const std::string& path) {
  return testimages::CommandOutput("identify -format '" + format + "' '" + path + "' 2>/dev/null");
}

// Byte order of the EXIF written by hand: cameras use both.
bool g_bigEndian = false;

void Put16(std::vector<uint8_t>& v, size_t at, unsigned x) {
  for (int i = 0; i < 2; ++i) v[at + i] = (x >> (8 * (g_bigEndian ? 1 - i : i))) & 255;
}
void Put32(std::vector<uint8_t>& v, size_t at, unsigned x) {
  for (int i = 0; i < 4; ++i) v[at + i] = (x >> (8 * (g_bigEndian ? 3 - i : i))) & 255;
}

// A camera's EXIF block written out by hand: Make, Model and the Exif
// directory (DateTimeOriginal, the pixel size 64 x 48, focal-plane
// resolution 1000/1), then a thumbnail directory with a JPEG thumbnail.
std::vector<uint8_t> CameraExif() {
  std::vector<uint8_t> t(512, 0);
  t[0] = t[1] = g_bigEndian ? 'M' : 'I';
  Put16(t, 2, 42);
  Put32(t, 4, 8);
  size_t at = 8;
  auto entry = [&](unsigned tag, unsigned type, unsigned count, unsigned value) {
    Put16(t, at, tag);
    Put16(t, at + 2, type);
    Put32(t, at + 4, count);
    Put32(t, at + 8, value);
    at += 12;
  };
  Put16(t, at, 3);
  at += 2;
  entry(0x010F, 2, 10, 300);  // Make
  entry(0x0110, 2, 10, 320);  // Model
  entry(0x8769, 4, 1, 100);   // Exif directory
  Put32(t, at, 200);          // next: the thumbnail's directory
  std::memcpy(&t[300], "Camerax 1", 10);
  std::memcpy(&t[320], "Modelyz 2", 10);
  at = 100;
  Put16(t, at, 4);
  at += 2;
  entry(0x9003, 2, 20, 340);                          // DateTimeOriginal
  entry(0xA002, 3, 1, 64 << (g_bigEndian ? 16 : 0));  // PixelXDimension, a SHORT
  entry(0xA003, 3, 1, 48 << (g_bigEndian ? 16 : 0));  // PixelYDimension, a SHORT
  entry(0xA20E, 5, 1, 360);                           // FocalPlaneXResolution
  Put32(t, at, 0);
  std::memcpy(&t[340], "2020:01:05 10:11:12", 20);
  Put32(t, 360, 1000);
  Put32(t, 364, 1);
  at = 200;
  Put16(t, at, 2);
  at += 2;
  entry(0x0201, 4, 1, 400);  // the thumbnail's bytes
  entry(0x0202, 4, 1, 16);
  Put32(t, at, 0);
  const uint8_t thumbnail[] = {0xFF, 0xD8, 0xFF, 0xD9};
  std::memcpy(&t[400], thumbnail, sizeof thumbnail);
  std::vector<uint8_t> block(6 + t.size());
  std::memcpy(block.data(), "Exif\0", 6);
  std::memcpy(block.data() + 6, t.data(), t.size());
  return block;
}

// A camera picture as FreeImage loads a JPEG: pixels, profile, raw EXIF, XMP.
FIBITMAP* CameraPicture(const std::vector<uint8_t>& icc) {
  FIBITMAP* source = testimages::MakePattern(64, 48, 24);
  FreeImage_CreateICCProfile(source, const_cast<uint8_t*>(icc.data()),
                             static_cast<long>(icc.size()));
  const std::vector<uint8_t> exif = CameraExif();
  testimages::SetTag(source, FIMD_EXIF_RAW, "ExifRaw", FIDT_BYTE, exif.data(), exif.size());
  const std::string xmp =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
      "xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:PixelXDimension=\"64\">"
      "<exif:PixelYDimension>48</exif:PixelYDimension></rdf:Description></rdf:RDF></x:xmpmeta>";
  testimages::SetTag(source, FIMD_XMP, "XMLPacket", FIDT_ASCII, xmp.c_str(), xmp.size() + 1);
  FreeImage_SetDotsPerMeterX(source, 11811);  // 300 dpi
  FreeImage_SetDotsPerMeterY(source, 11811);
  return source;
}

struct FormatCase {
  const char* name;
  FREE_IMAGE_FORMAT fif;
  const char* make;  // where ImageMagick shows the Make of this format
  bool bigEndian;    // of the source's EXIF
  // The camera's settings (the Exif directory) are kept: a TIFF with a
  // profile keeps the profile and its main tags instead.
  bool settings = true;
};

class KeepMetadataTest : public testing::TestWithParam<FormatCase> {};

TEST_P(KeepMetadataTest, ProfileAndExifSurviveAndTellTheNewSize) {
  const FormatCase& c = GetParam();
  g_bigEndian = c.bigEndian;
  const std::vector<uint8_t> icc = testimages::IccProfile();
  FIBITMAP* source = CameraPicture(icc);
  FIBITMAP* result = FreeImage_Rescale(source, 128, 96, FILTER_BILINEAR);
  files::CarryMetadata(source, result, 2.0, 2.0);

  testimages::TempDir dir;
  const char* extension = c.fif == FIF_JPEG ? ".jpg" : c.fif == FIF_PNG ? ".png" : ".tif";
  const std::string path = dir.File(std::string("out-") + c.name + extension);
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(files::WriteImage(result, c.fif, stream, kNeverStop));
  std::fclose(stream);

  // FreeImage's readers lose or alter some profiles: ImageMagick reads it.
  EXPECT_EQ(testimages::CommandOutput("convert '" + path + "' icc:- 2>/dev/null"),
            std::string(icc.begin(), icc.end()));
  // FreeImage's TIFF reader frees the profile before copying it when the
  // file also has EXIF, so ImageMagick reads the resolution too.
  const std::string dpi =
      testimages::CommandOutput("identify -units PixelsPerInch -format '%x' '" + path + "'");
  EXPECT_NEAR(std::stod(dpi), 300, 0.1);

  EXPECT_EQ(Identify(c.make, path), "Camerax 1");
  if (c.settings) {
    EXPECT_EQ(Identify("%[EXIF:DateTimeOriginal]", path), "2020:01:05 10:11:12");
    EXPECT_EQ(Identify("%[EXIF:PixelXDimension] %[EXIF:PixelYDimension]", path), "128 96");
    // The focal-plane resolution counts the new pixels: 1000/1 became 2000.
    EXPECT_EQ(std::stod(Identify("%[EXIF:FocalPlaneXResolution]", path)), 2000.0);
  } else {
    EXPECT_EQ(Identify("%[EXIF:DateTimeOriginal]", path), "");
  }
  EXPECT_EQ(Identify("%[EXIF:JPEGInterchangeFormat]", path), "");
  // The XMP, stored as plain text in all three, tells the new size too, in
  // both of its spellings.
  const std::string xmp = testimages::ReadAll(path);
  EXPECT_NE(xmp.find("exif:PixelXDimension=\"128\""), std::string::npos);
  EXPECT_NE(xmp.find("<exif:PixelYDimension>96<"), std::string::npos);
  FreeImage_Unload(result);
  FreeImage_Unload(source);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, KeepMetadataTest,
    testing::Values(FormatCase{"jpg", FIF_JPEG, "%[EXIF:Make]", false},
                    FormatCase{"png", FIF_PNG, "%[EXIF:Make]", false},
                    FormatCase{"tif", FIF_TIFF, "%[tiff:make]", false, false},
                    FormatCase{"jpgFromBigEndianExif", FIF_JPEG, "%[EXIF:Make]", true},
                    FormatCase{"tifFromBigEndianExif", FIF_TIFF, "%[tiff:make]", true, false}),
    [](const testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

struct ExportCase {
  const char* name;
  FREE_IMAGE_TYPE type;
  int bpp;  // for FIT_BITMAP
  FREE_IMAGE_FORMAT fif;
  unsigned readBpp;  // what FreeImage reads back
};

FIBITMAP* MakeOfType(const ExportCase& c) {
  if (c.type == FIT_BITMAP) return testimages::MakePattern(20, 10, c.bpp);
  // Blank pictures of these types do: only their type is at stake.
  if (c.type == FIT_RGBA16 || c.type == FIT_RGBF) return FreeImage_AllocateT(c.type, 20, 10);
  return testimages::MakePatternOfType(c.type, 20, 10);
}

class ExportTest : public testing::TestWithParam<ExportCase> {};

TEST_P(ExportTest, WrittenFileReadsBackInFreeImageAndImageMagick) {
  const ExportCase& c = GetParam();
  FIBITMAP* bitmap = MakeOfType(c);
  ASSERT_NE(bitmap, nullptr);
  testimages::TempDir dir;
  const std::string path = dir.File("out");
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(files::WriteImage(bitmap, c.fif, stream, kNeverStop));
  std::fclose(stream);
  FIBITMAP* reread = FreeImage_Load(c.fif, path.c_str(), 0);
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(FreeImage_GetBPP(reread), c.readBpp);
  EXPECT_EQ(Identify("%w %h", path), "20 10");
  FreeImage_Unload(reread);
  FreeImage_Unload(bitmap);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ExportTest,
    testing::Values(ExportCase{"Rgb16ToBmp", FIT_RGB16, 0, FIF_BMP, 24},
                    ExportCase{"Rgba16ToBmp", FIT_RGBA16, 0, FIF_BMP, 32},
                    ExportCase{"Grey16ToBmp", FIT_UINT16, 0, FIF_BMP, 8},
                    ExportCase{"Grey16StaysInPng", FIT_UINT16, 0, FIF_PNG, 16},
                    ExportCase{"Rgb16ToJpeg", FIT_RGB16, 0, FIF_JPEG, 24},
                    ExportCase{"FloatToPng", FIT_RGBF, 0, FIF_PNG, 24},
                    ExportCase{"AlphaStaysInBmp", FIT_BITMAP, 32, FIF_BMP, 32},
                    ExportCase{"AlphaFlattenedInJpeg", FIT_BITMAP, 32, FIF_JPEG, 24}),
    [](const testing::TestParamInfo<ExportCase>& info) { return std::string(info.param.name); });

// Red with one alpha throughout, saved as fif and read back: the colour
// (blue, green, red) and the bits per pixel FreeImage reads.
void ExpectRedWithAlpha(BYTE alpha, FREE_IMAGE_FORMAT fif, int green, unsigned bpp) {
  FIBITMAP* bitmap = FreeImage_Allocate(16, 16, 32);
  for (int y = 0; y < 16; ++y) {
    BYTE* p = FreeImage_GetScanLine(bitmap, y);
    for (int x = 0; x < 16; ++x, p += 4) {
      p[FI_RGBA_RED] = 255;
      p[FI_RGBA_GREEN] = p[FI_RGBA_BLUE] = 0;
      p[FI_RGBA_ALPHA] = alpha;
    }
  }
  testimages::TempDir dir;
  const std::string path = dir.File("red");
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(files::WriteImage(bitmap, fif, stream, kNeverStop));
  std::fclose(stream);
  FIBITMAP* reread = FreeImage_Load(fif, path.c_str(), 0);
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(FreeImage_GetBPP(reread), bpp);
  const BYTE* p = FreeImage_GetScanLine(reread, 8) + 8 * (bpp / 8);
  EXPECT_NEAR(p[FI_RGBA_RED], 255, 4);
  EXPECT_NEAR(p[FI_RGBA_GREEN], green, 4);
  EXPECT_NEAR(p[FI_RGBA_BLUE], green, 4);
  FreeImage_Unload(reread);
  FreeImage_Unload(bitmap);
}

TEST(ExportTest, JpegFlattensTransparencyOverWhiteAndUnusedAlphaIsOpaque) {
  // 60 % red over white is 255, 102, 102.
  ExpectRedWithAlpha(153, FIF_JPEG, 102, 24);
  // Fourth bytes all 0 were never an alpha: the red stays red, and opaque.
  ExpectRedWithAlpha(0, FIF_JPEG, 0, 24);
  ExpectRedWithAlpha(0, FIF_PNG, 0, 24);
}

}  // namespace

namespace {

// Hostile EXIF: every truncation and many corruptions of a real block are
// read without reading outside it, and what is read writes out and reads
// back the same.
TEST(ExifBlockTest, CutAndCorruptedBlocksReadSafelyAndRoundTrip) {
  g_bigEndian = true;
  const std::vector<uint8_t> whole = CameraExif();
  std::mt19937 random(14);
  for (size_t round = 0; round < 2 * whole.size(); ++round) {
    std::vector<uint8_t> block = whole;
    if (round < whole.size()) {
      block.resize(round);
    } else {
      for (int flips = 0; flips < 4; ++flips)
        block[6 + random() % (block.size() - 6)] = static_cast<uint8_t>(random());
    }
    const std::optional<files::ExifData> data = files::ParseExif(block.data(), block.size());
    if (!data) continue;
    const std::vector<uint8_t> written = files::SerializeExif(*data);
    const std::optional<files::ExifData> again = files::ParseExif(written.data(), written.size());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->main.size(), data->main.size());
    EXPECT_EQ(again->exif.size(), data->exif.size());
    // Written in tag order; the first of equal tags stays first.
    for (const files::ExifEntry& entry : data->exif) {
      if (files::FindTag(data->exif, entry.tag) != &entry) continue;
      const files::ExifEntry* read = files::FindTag(again->exif, entry.tag);
      ASSERT_NE(read, nullptr);
      EXPECT_EQ(read->value, entry.value);
    }
  }
}

}  // namespace
