// The decoder process against FreeImage_Load in this process, which is the
// oracle: the bitmap that comes back must be indistinguishable from it.
#include "files/DecoderProcess.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "TestImages.h"

namespace {

using testimages::TempDir;

constexpr uint64_t kPlentyOfMemory = uint64_t{1} << 40;

files::DecodeOutcome Decode(const std::string& path, uint64_t memory = kPlentyOfMemory,
                            const std::string& fault = {}, int stopFd = -1) {
  return files::DecodeImageFile({path, memory, stopFd, fault});
}

std::string Bytes(const void* data, size_t size) {
  return data ? std::string(static_cast<const char*>(data), size) : std::string();
}

// Every tag of every model, in FreeImage's own order.
std::vector<std::string> Tags(FIBITMAP* bitmap) {
  std::vector<std::string> all;
  for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model) {
    FITAG* tag = nullptr;
    FIMETADATA* search =
        FreeImage_FindFirstMetadata(static_cast<FREE_IMAGE_MDMODEL>(model), bitmap, &tag);
    if (!search) continue;
    do {
      const char* description = FreeImage_GetTagDescription(tag);
      all.push_back(std::to_string(model) + "|" + FreeImage_GetTagKey(tag) + "|" +
                    (description ? description : "") + "|" +
                    std::to_string(FreeImage_GetTagID(tag)) + "|" +
                    std::to_string(FreeImage_GetTagType(tag)) + "|" +
                    std::to_string(FreeImage_GetTagCount(tag)) + "|" +
                    std::to_string(FreeImage_GetTagLength(tag)) + "|" +
                    Bytes(FreeImage_GetTagValue(tag), FreeImage_GetTagLength(tag)));
    } while (FreeImage_FindNextMetadata(search, &tag));
    FreeImage_FindCloseMetadata(search);
  }
  return all;
}

void ExpectIndistinguishable(FIBITMAP* ours, FIBITMAP* oracle) {
  ASSERT_NE(ours, nullptr);
  ASSERT_NE(oracle, nullptr);
  EXPECT_EQ(FreeImage_GetImageType(ours), FreeImage_GetImageType(oracle));
  EXPECT_EQ(FreeImage_GetWidth(ours), FreeImage_GetWidth(oracle));
  EXPECT_EQ(FreeImage_GetHeight(ours), FreeImage_GetHeight(oracle));
  EXPECT_EQ(FreeImage_GetBPP(ours), FreeImage_GetBPP(oracle));
  EXPECT_EQ(FreeImage_GetColorType(ours), FreeImage_GetColorType(oracle));
  EXPECT_EQ(FreeImage_GetRedMask(ours), FreeImage_GetRedMask(oracle));
  EXPECT_EQ(FreeImage_GetGreenMask(ours), FreeImage_GetGreenMask(oracle));
  EXPECT_EQ(FreeImage_GetBlueMask(ours), FreeImage_GetBlueMask(oracle));
  EXPECT_EQ(FreeImage_GetColorsUsed(ours), FreeImage_GetColorsUsed(oracle));
  const size_t paletteBytes = FreeImage_GetColorsUsed(oracle) * sizeof(RGBQUAD);
  EXPECT_EQ(Bytes(FreeImage_GetPalette(ours), paletteBytes),
            Bytes(FreeImage_GetPalette(oracle), paletteBytes));
  EXPECT_EQ(FreeImage_IsTransparent(ours), FreeImage_IsTransparent(oracle));
  EXPECT_EQ(Bytes(FreeImage_GetTransparencyTable(ours), FreeImage_GetTransparencyCount(ours)),
            Bytes(FreeImage_GetTransparencyTable(oracle), FreeImage_GetTransparencyCount(oracle)));
  RGBQUAD ourBackground{}, oracleBackground{};
  EXPECT_EQ(FreeImage_GetBackgroundColor(ours, &ourBackground),
            FreeImage_GetBackgroundColor(oracle, &oracleBackground));
  EXPECT_EQ(Bytes(&ourBackground, sizeof ourBackground),
            Bytes(&oracleBackground, sizeof oracleBackground));
  EXPECT_EQ(FreeImage_GetDotsPerMeterX(ours), FreeImage_GetDotsPerMeterX(oracle));
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(ours), FreeImage_GetDotsPerMeterY(oracle));
  const FIICCPROFILE* ourIcc = FreeImage_GetICCProfile(ours);
  const FIICCPROFILE* oracleIcc = FreeImage_GetICCProfile(oracle);
  EXPECT_EQ(ourIcc->flags, oracleIcc->flags);
  EXPECT_EQ(Bytes(ourIcc->data, ourIcc->size), Bytes(oracleIcc->data, oracleIcc->size));
  EXPECT_EQ(Tags(ours), Tags(oracle));
  FIBITMAP* ourThumbnail = FreeImage_GetThumbnail(ours);
  FIBITMAP* oracleThumbnail = FreeImage_GetThumbnail(oracle);
  EXPECT_EQ(ourThumbnail == nullptr, oracleThumbnail == nullptr);
  if (ourThumbnail && oracleThumbnail) ExpectIndistinguishable(ourThumbnail, oracleThumbnail);
  EXPECT_EQ(FreeImage_GetPitch(ours), FreeImage_GetPitch(oracle));
  const size_t pixelBytes = size_t{FreeImage_GetPitch(oracle)} * FreeImage_GetHeight(oracle);
  EXPECT_TRUE(Bytes(FreeImage_GetBits(ours), pixelBytes) ==
              Bytes(FreeImage_GetBits(oracle), pixelBytes));
}

void SetTextTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key, const char* text) {
  testimages::SetTag(bitmap, model, key, FIDT_ASCII, text, std::strlen(text) + 1);
}

// A raw Exif block as a camera writes it: a little-endian TIFF header and
// one directory with Make = "Tests" and Orientation = 6.
std::string ExifBlock() {
  const unsigned char block[] = {
      'E',  'x',  'i', 'f', 0,   0,                     // identifier
      'I',  'I',  42,  0,   8,   0, 0, 0,               // TIFF header, directory at 8
      2,    0,                                          // two entries
      0x0F, 0x01, 2,   0,   6,   0, 0, 0, 38, 0, 0, 0,  // Make, ASCII, 6 bytes at 38
      0x12, 0x01, 3,   0,   1,   0, 0, 0, 6,  0, 0, 0,  // Orientation, SHORT, 6
      0,    0,    0,   0,                               // no next directory
      'T',  'e',  's', 't', 's', 0};
  return std::string(reinterpret_cast<const char*>(block), sizeof block);
}

const char kIcc[] = "a colour profile's bytes, carried as they stand";

void AddJpegMetadata(FIBITMAP* bitmap) {
  SetTextTag(bitmap, FIMD_COMMENTS, "Comment", "made by the decoder test");
  const std::string exif = ExifBlock();
  testimages::SetTag(bitmap, FIMD_EXIF_RAW, "ExifRaw", FIDT_BYTE, exif.data(), exif.size());
  FreeImage_CreateICCProfile(bitmap, const_cast<char*>(kIcc), sizeof kIcc);
}

void AddPngMetadata(FIBITMAP* bitmap) {
  SetTextTag(bitmap, FIMD_COMMENTS, "Title", "a pattern");
  SetTextTag(bitmap, FIMD_COMMENTS, "Author", "the decoder test");
  FreeImage_SetDotsPerMeterX(bitmap, 3780);
  FreeImage_SetDotsPerMeterY(bitmap, 2835);
  if (FreeImage_GetBPP(bitmap) == 8) {
    BYTE alpha[256];
    for (int i = 0; i < 256; ++i) alpha[i] = static_cast<BYTE>(255 - i);
    FreeImage_SetTransparencyTable(bitmap, alpha, 200);
    RGBQUAD background{10, 20, 30, 7};
    FreeImage_SetBackgroundColor(bitmap, &background);
  }
}

struct RoundTripCase {
  const char* label;
  FREE_IMAGE_FORMAT fif;
  FREE_IMAGE_TYPE type;
  int bpp;
  const char* fileName;
  void (*decorate)(FIBITMAP*);
  int saveFlags = 0;
};

void PrintTo(const RoundTripCase& c, std::ostream* out) { *out << c.label; }

FIBITMAP* MakeCase(const RoundTripCase& c) {
  FIBITMAP* bitmap = nullptr;
  if (c.type != FIT_BITMAP) {
    bitmap = testimages::MakePatternOfType(c.type, 37, 23);
  } else if (c.bpp == 16) {
    FIBITMAP* full = testimages::MakePattern(37, 23, 24);
    bitmap = FreeImage_ConvertTo16Bits565(full);
    FreeImage_Unload(full);
  } else {
    bitmap = testimages::MakePattern(37, 23, c.bpp);
  }
  if (c.decorate) c.decorate(bitmap);
  return bitmap;
}

class DecoderRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(DecoderRoundTripTest, GivesWhatFreeImageLoadGives) {
  const RoundTripCase& c = GetParam();
  TempDir dir;
  FIBITMAP* written = MakeCase(c);
  const std::string path = dir.File(c.fileName);
  ASSERT_TRUE(FreeImage_Save(c.fif, written, path.c_str(), c.saveFlags));
  FreeImage_Unload(written);

  files::DecodeOutcome outcome = Decode(path);
  // FreeImage turns a JPEG upright by its EXIF orientation as the decoder
  // does; the decoder also says that it now is upright.
  FIBITMAP* oracle = FreeImage_Load(c.fif, path.c_str(), c.fif == FIF_JPEG ? JPEG_EXIFROTATE : 0);
  FITAG* orientation = nullptr;
  const WORD upright = 1;
  if (oracle && FreeImage_GetMetadata(FIMD_EXIF_MAIN, oracle, "Orientation", &orientation)) {
    FreeImage_SetTagValue(orientation, &upright);
    // FreeImage's turn drops the profile, which the decoder keeps.
    FIBITMAP* stored = FreeImage_Load(c.fif, path.c_str(), 0);
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(stored);
    FreeImage_CreateICCProfile(oracle, icc->data, icc->size);
    FreeImage_Unload(stored);
  }
  ASSERT_EQ(outcome.code, files::kLoaded);
  EXPECT_FALSE(outcome.incomplete);
  ExpectIndistinguishable(outcome.bitmap, oracle);
  FreeImage_Unload(oracle);
  FreeImage_Unload(outcome.bitmap);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecoderRoundTripTest,
    testing::Values(
        RoundTripCase{"JpegExifIccComment", FIF_JPEG, FIT_BITMAP, 24, "a.jpg", AddJpegMetadata},
        RoundTripCase{"PngText", FIF_PNG, FIT_BITMAP, 24, "a.png", AddPngMetadata},
        RoundTripCase{"PngPaletteAlphaBackground", FIF_PNG, FIT_BITMAP, 8, "p.png", AddPngMetadata},
        RoundTripCase{"PngRgba", FIF_PNG, FIT_BITMAP, 32, "rgba.png", nullptr},
        RoundTripCase{"Png1Bit", FIF_PNG, FIT_BITMAP, 1, "one.png", nullptr},
        RoundTripCase{"PngGrey16", FIF_PNG, FIT_UINT16, 16, "g16.png", nullptr},
        RoundTripCase{"Tiff48", FIF_TIFF, FIT_RGB16, 48, "c48.tif", nullptr},
        RoundTripCase{"Tiff24", FIF_TIFF, FIT_BITMAP, 24, "a.tif", nullptr},
        RoundTripCase{"Bmp565", FIF_BMP, FIT_BITMAP, 16, "m.bmp", nullptr},
        RoundTripCase{"BmpPalette4", FIF_BMP, FIT_BITMAP, 4, "p.bmp", nullptr},
        RoundTripCase{"GifPalette", FIF_GIF, FIT_BITMAP, 8, "a.gif", nullptr},
        RoundTripCase{"PpmRaw", FIF_PPMRAW, FIT_BITMAP, 24, "a.ppm", nullptr},
        RoundTripCase{"PgmRaw", FIF_PGMRAW, FIT_BITMAP, 8, "a.pgm", nullptr},
        RoundTripCase{"Targa", FIF_TARGA, FIT_BITMAP, 24, "a.tga", nullptr},
        RoundTripCase{"TargaRle", FIF_TARGA, FIT_BITMAP, 24, "r.tga", nullptr, TARGA_SAVE_RLE},
        RoundTripCase{"WebP", FIF_WEBP, FIT_BITMAP, 24, "a.webp", nullptr},
        RoundTripCase{"PngNamedJpg", FIF_PNG, FIT_BITMAP, 24, "really-png.jpg", nullptr},
        RoundTripCase{"NoExtension", FIF_TIFF, FIT_BITMAP, 24, "noext", nullptr}),
    [](const testing::TestParamInfo<RoundTripCase>& info) { return info.param.label; });

// A bitmap big enough to have pages of its own: its pixels come by mapping the
// decoder's pages, not by copying them.
TEST(DecoderBigBitmapTest, GivesWhatFreeImageLoadGives) {
  TempDir dir;
  FIBITMAP* written = testimages::MakePattern(4099, 3001, 24);
  ASSERT_TRUE(testimages::Write(written, FIF_BMP, dir.File("big.bmp")));
  FreeImage_Unload(written);
  files::DecodeOutcome outcome = Decode(dir.File("big.bmp"));
  FIBITMAP* oracle = FreeImage_Load(FIF_BMP, dir.File("big.bmp").c_str(), 0);
  ExpectIndistinguishable(outcome.bitmap, oracle);
  // The mapped pages are the bitmap's own: writable, freed with it.
  FreeImage_GetScanLine(outcome.bitmap, 1500)[7] ^= 0xFF;
  FreeImage_Unload(oracle);
  FreeImage_Unload(outcome.bitmap);
}

// The memory an open needs, worked out by hand: the larger of the hand-over
// (the decoder's bitmap, the pixels between the processes and the program's
// bitmap: 3 x the pixel bytes) and what showing it keeps (the bitmap and the
// view's reduced copies: 9/4 x pixels x 1 byte for grey, 3 for colour).
// Exactly that much opens; a byte less is refused before any pixel is read.
struct MemoryCase {
  const char* label;
  FIBITMAP* (*make)();
  FREE_IMAGE_FORMAT fif;
  uint64_t needed;
};

FIBITMAP* ColourPalette8() {
  FIBITMAP* bitmap = testimages::MakePattern(1000, 800, 8);
  RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  for (int i = 0; i < 256; ++i) palette[i].rgbRed = static_cast<BYTE>(255 - i);
  return bitmap;
}

class DecoderMemoryTest : public testing::TestWithParam<MemoryCase> {};

TEST_P(DecoderMemoryTest, OpensWhatFitsToTheByte) {
  const MemoryCase& c = GetParam();
  TempDir dir;
  FIBITMAP* written = c.make();
  ASSERT_TRUE(testimages::Write(written, c.fif, dir.File("picture")));
  FreeImage_Unload(written);
  files::DecodeOutcome fits = Decode(dir.File("picture"), c.needed);
  EXPECT_EQ(fits.code, files::kLoaded);
  if (fits.bitmap) FreeImage_Unload(fits.bitmap);
  files::DecodeOutcome oneShort = Decode(dir.File("picture"), c.needed - 1);
  EXPECT_EQ(oneShort.code, files::kReadFailed);
  EXPECT_EQ(oneShort.bitmap, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DecoderMemoryTest,
    testing::Values(
        // 800,000 bytes of pixels; shown: 800,000 + 1,800,000.
        MemoryCase{"Grey8Png", [] { return testimages::MakePattern(1000, 800, 8); }, FIF_PNG,
                   2'600'000},
        // Rows of 128 bytes: 102,400 bytes; shown: 102,400 + 1,800,000.
        MemoryCase{"BlackAndWhitePng", [] { return testimages::MakePattern(1000, 800, 1); },
                   FIF_PNG, 1'902'400},
        // 800,000 bytes; shown: 800,000 + 5,400,000.
        MemoryCase{"ColourPalettePng", ColourPalette8, FIF_PNG, 6'200'000},
        // 2,400,000 bytes; shown: 2,400,000 + 5,400,000.
        MemoryCase{"Rgb24Bmp", [] { return testimages::MakePattern(1000, 800, 24); }, FIF_BMP,
                   7'800'000},
        // 1,200,000 bytes; the hand-over, 3,600,000, is more than shown (2,550,000).
        MemoryCase{"Rgb48Tiff", [] { return testimages::MakePatternOfType(FIT_RGB16, 500, 400); },
                   FIF_TIFF, 3'600'000}),
    [](const testing::TestParamInfo<MemoryCase>& info) { return info.param.label; });

// The metadata a user would look for, by hand, beside the oracle's word.
TEST(DecoderMetadataTest, ExifIccAndTextSurvive) {
  TempDir dir;
  FIBITMAP* jpeg = MakeCase({"", FIF_JPEG, FIT_BITMAP, 24, "", AddJpegMetadata});
  FIBITMAP* png = MakeCase({"", FIF_PNG, FIT_BITMAP, 24, "", AddPngMetadata});
  ASSERT_TRUE(testimages::Write(jpeg, FIF_JPEG, dir.File("m.jpg")));
  ASSERT_TRUE(testimages::Write(png, FIF_PNG, dir.File("m.png")));
  FreeImage_Unload(jpeg);
  FreeImage_Unload(png);

  files::DecodeOutcome fromJpeg = Decode(dir.File("m.jpg"));
  ASSERT_NE(fromJpeg.bitmap, nullptr);
  FITAG* tag = nullptr;
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_EXIF_MAIN, fromJpeg.bitmap, "Make", &tag));
  EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(tag)), "Tests");
  // Orientation 6: stored 37 x 23, opened upright.
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_EXIF_MAIN, fromJpeg.bitmap, "Orientation", &tag));
  EXPECT_EQ(*static_cast<const uint16_t*>(FreeImage_GetTagValue(tag)), 1);
  EXPECT_EQ(FreeImage_GetWidth(fromJpeg.bitmap), 23u);
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_COMMENTS, fromJpeg.bitmap, "Comment", &tag));
  EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(tag)), "made by the decoder test");
  const FIICCPROFILE* icc = FreeImage_GetICCProfile(fromJpeg.bitmap);
  EXPECT_EQ(Bytes(icc->data, icc->size), Bytes(kIcc, sizeof kIcc));

  files::DecodeOutcome fromPng = Decode(dir.File("m.png"));
  ASSERT_NE(fromPng.bitmap, nullptr);
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_COMMENTS, fromPng.bitmap, "Author", &tag));
  EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(tag)), "the decoder test");
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(fromPng.bitmap), 2835u);
  FreeImage_Unload(fromJpeg.bitmap);
  FreeImage_Unload(fromPng.bitmap);
}

struct HostileCase {
  const char* label;
  std::string (*bytes)();  // null: the case makes no file of its own
  files::LoadCode code;
  bool incomplete;
  files::LoadFailure failure;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.label; }

std::string RandomBytes() {
  std::string bytes(4096, '\0');
  std::mt19937 generator(7);
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

class DecoderHostileTest : public testing::TestWithParam<HostileCase> {};

TEST_P(DecoderHostileTest, EndsAsExpectedWithoutHarm) {
  const HostileCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("hostile");
  testimages::WriteAll(path, c.bytes());
  // Four billion bytes: far below what 30000 x 30000 pixels need, above what
  // the declared sizes the file cannot hold need.
  files::DecodeOutcome outcome = Decode(path, uint64_t{4} << 30);
  EXPECT_EQ(outcome.code, c.code);
  EXPECT_EQ(outcome.bitmap != nullptr, c.code == files::kLoaded);
  EXPECT_EQ(outcome.incomplete, c.incomplete);
  EXPECT_EQ(outcome.failure, c.failure);
  if (outcome.bitmap) {
    EXPECT_EQ(FreeImage_GetWidth(outcome.bitmap), 64u);
    // A whole file gives what FreeImage gives in this process.
    if (!c.incomplete) {
      FIBITMAP* oracle = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
      EXPECT_TRUE(testimages::SamePixels(outcome.bitmap, oracle));
      FreeImage_Unload(oracle);
    }
    FreeImage_Unload(outcome.bitmap);
  }
}

std::string Cut(const std::string& bytes, double keep) {
  return bytes.substr(0, static_cast<size_t>(bytes.size() * keep));
}

// A header alone, padded to a size that holds no real picture.
std::string Padded(std::string bytes, size_t size) {
  bytes.resize(size, '\0');
  return bytes;
}

// Files whose own structure lies, so that a decoder would believe them and
// stall or allocate gigabytes; each is refused before any decoder sees it.
// An OpenEXR header of 16 bytes whose first attribute declares 16 MB.
std::string ExrHeaderPastItsEnd() {
  return std::string("\x76\x2f\x31\x01\x02\0\0\0a\0b\0\0\0\0\x01", 16);
}

// A whole 64 x 64 PNG with an ancillary chunk after its header that declares
// 0x7ffffff0 bytes and holds 8000.
std::string PngChunkPastItsEnd() {
  std::string bytes = testimages::TruncatedFile(FIF_PNG, 1.0);
  const std::string lie = std::string("\x7f\xff\xff\xf0zTXt", 8) + std::string(8000, 'a');
  return bytes.insert(33, lie);  // after the signature and IHDR
}

// A 64 x 64 icon whose bitmap header says the width is 41264.
std::string IcoWiderThanItsDirectory() {
  std::string bytes = testimages::TruncatedFile(FIF_ICO, 1.0);
  const size_t at = uint8_t(bytes[18]) | size_t(uint8_t(bytes[19])) << 8;
  bytes[at + 4] = char(41264 & 0xFF);
  bytes[at + 5] = char(41264 >> 8);
  return bytes;
}

using files::LoadFailure;
constexpr LoadFailure kNone = LoadFailure::None;
constexpr LoadFailure kDamaged = LoadFailure::Damaged;

INSTANTIATE_TEST_SUITE_P(
    Files, DecoderHostileTest,
    testing::Values(
        HostileCase{"BmpDeclaringHugeSize", [] { return testimages::BmpDeclaring(30000, 30000); },
                    files::kReadFailed, false, LoadFailure::TooLarge},
        HostileCase{"JpegDeclaringHugeSize", [] { return testimages::JpegDeclaring(65500, 65500); },
                    files::kReadFailed, false, LoadFailure::TooLarge},
        HostileCase{"TruncatedJpeg", [] { return testimages::TruncatedFile(FIF_JPEG, 0.5); },
                    files::kLoaded, true, kNone},
        HostileCase{"TruncatedBmp", [] { return testimages::TruncatedFile(FIF_BMP, 0.5); },
                    files::kLoaded, true, kNone},
        HostileCase{"TruncatedTiff", [] { return testimages::TruncatedFile(FIF_TIFF, 0.5); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"TruncatedTga", [] { return testimages::TruncatedFile(FIF_TARGA, 0.5); },
                    files::kLoaded, true, kNone},
        HostileCase{"TruncatedPpm", [] { return testimages::TruncatedFile(FIF_PPMRAW, 0.5); },
                    files::kLoaded, true, kNone},
        HostileCase{"TruncatedWebp", [] { return testimages::TruncatedFile(FIF_WEBP, 0.5); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"TruncatedPng", [] { return testimages::TruncatedFile(FIF_PNG, 0.5); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"Random", RandomBytes, files::kNotRecognised, false, LoadFailure::NotAPicture},
        HostileCase{"Empty", [] { return std::string(); }, files::kNotRecognised, false,
                    LoadFailure::NotAPicture}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.label; });

// Whole files and cut ones, in formats whose decoders fill what is missing
// with blank or stale rows without a word: the layout tells.
INSTANTIATE_TEST_SUITE_P(
    Layouts, DecoderHostileTest,
    testing::Values(
        HostileCase{"Dds", [] { return testimages::DdsDxt1(64, 64); }, files::kLoaded, false,
                    kNone},
        HostileCase{"TruncatedDds", [] { return Cut(testimages::DdsDxt1(64, 64), 0.6); },
                    files::kLoaded, true, kNone},
        HostileCase{"TiffDirectoryFirst", [] { return testimages::TiffGrey(64, 64); },
                    files::kLoaded, false, kNone},
        HostileCase{"TruncatedTiffDirectoryFirst",
                    [] { return Cut(testimages::TiffGrey(64, 64), 0.6); }, files::kLoaded, true,
                    kNone},
        HostileCase{"TruncatedIco", [] { return testimages::TruncatedFile(FIF_ICO, 0.9); },
                    files::kLoaded, true, kNone},
        HostileCase{"Pcx", [] { return testimages::PcxGrey(64, 64); }, files::kLoaded, false,
                    kNone},
        HostileCase{"TruncatedPcx", [] { return Cut(testimages::PcxGrey(64, 64), 0.6); },
                    files::kLoaded, true, kNone},
        HostileCase{"Ilbm", [] { return testimages::IlbmGrey(64, 64); }, files::kLoaded, false,
                    kNone},
        HostileCase{"TruncatedIlbm", [] { return Cut(testimages::IlbmGrey(64, 64), 0.6); },
                    files::kLoaded, true, kNone},
        HostileCase{"TruncatedExr", [] { return testimages::TruncatedFile(FIF_EXR, 0.9); },
                    files::kLoaded, true, kNone},
        HostileCase{"TruncatedHdr", [] { return testimages::TruncatedFile(FIF_HDR, 0.9); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"TargaRleWithoutFooter", testimages::TargaRleWithoutFooter, files::kLoaded,
                    false, kNone},
        HostileCase{"TruncatedTargaRle",
                    [] { return Cut(testimages::TargaRleWithoutFooter(), 0.5); }, files::kLoaded,
                    true, kNone}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.label; });

// Small files that declare pictures far beyond what their format's coding
// can make of their bytes, though memory would allow them.
INSTANTIATE_TEST_SUITE_P(
    DeclaredSizes, DecoderHostileTest,
    testing::Values(
        HostileCase{"DdsDeclaring40x1000000",
                    [] { return Padded(testimages::DdsDxt1(40, 1000000, false), 768); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"TiffStripDeclaring10000x10000",
                    [] { return testimages::TiffGrey(10000, 10000, false); }, files::kReadFailed,
                    false, kDamaged},
        HostileCase{"JpegDeclaring6000x6000", [] { return testimages::JpegDeclaring(6000, 6000); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"J2kDeclaring10000x10000",
                    [] { return testimages::Jpeg2000Declaring(FIF_J2K, 10000, 10000); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"Jp2Declaring10000x10000",
                    [] { return testimages::Jpeg2000Declaring(FIF_JP2, 10000, 10000); },
                    files::kReadFailed, false, kDamaged},
        HostileCase{"GifDeclaring10000x10000",
                    [] { return testimages::GifDeclaring(10000, 10000); }, files::kReadFailed,
                    false, kDamaged},
        HostileCase{"ExrHeaderPastItsEnd", ExrHeaderPastItsEnd, files::kReadFailed, false,
                    kDamaged},
        HostileCase{"PngChunkPastItsEnd", PngChunkPastItsEnd, files::kReadFailed, false, kDamaged},
        HostileCase{"IcoWiderThanItsDirectory", IcoWiderThanItsDirectory, files::kReadFailed, false,
                    kDamaged},
        HostileCase{"WholeIco", [] { return testimages::TruncatedFile(FIF_ICO, 1.0); },
                    files::kLoaded, false, kNone}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.label; });

// An uncompressed TIFF cut to half while the decoder reads it: whenever
// the cut falls before the decoder is done, part of the picture is missing.
TEST(DecoderShrinkingFileTest, FileCutWhileReadIsIncomplete) {
  TempDir dir;
  const std::string path = dir.File("shrinking.tif");
  const std::string bytes = testimages::TiffGrey(8000, 8000);
  testimages::WriteAll(path, bytes);
  std::thread cutter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(::truncate(path.c_str(), off_t(bytes.size() / 2)), 0);
  });
  files::DecodeOutcome outcome = Decode(path, uint64_t{4} << 30);
  cutter.join();
  EXPECT_EQ(outcome.code, files::kLoaded);
  EXPECT_TRUE(outcome.incomplete);
  FreeImage_Unload(outcome.bitmap);
}

TEST(DecoderNonFileTest, OnlyRegularFilesAreOpenedAndNothingWaits) {
  TempDir dir;
  ::mkdir(dir.File("folder.png").c_str(), 0700);
  ASSERT_EQ(::mkfifo(dir.File("pipe.png").c_str(), 0600), 0);
  for (const std::string& path : {dir.File("folder.png"), dir.File("pipe.png"),
                                  dir.File("missing.png"), std::string("/dev/zero")}) {
    files::DecodeOutcome outcome = Decode(path);
    EXPECT_EQ(outcome.code, files::kNotRecognised) << path;
    EXPECT_EQ(outcome.bitmap, nullptr) << path;
    EXPECT_EQ(outcome.failure, path == dir.File("missing.png") ? files::LoadFailure::Missing
                                                               : files::LoadFailure::NotAPicture)
        << path;
  }
}

class DecoderFaultTest : public testing::Test {
 protected:
  void SetUp() override {
    FIBITMAP* bitmap = testimages::MakePattern(64, 64, 24);
    ASSERT_TRUE(testimages::Write(bitmap, FIF_PNG, m_path));
    FreeImage_Unload(bitmap);
  }
  TempDir m_dir;
  std::string m_path = m_dir.File("good.png");
};

TEST_F(DecoderFaultTest, CrashingDecoderRecognisesNothing) {
  files::DecodeOutcome outcome = Decode(m_path, kPlentyOfMemory, "crash");
  EXPECT_EQ(outcome.code, files::kNotRecognised);
  EXPECT_EQ(outcome.bitmap, nullptr);
  EXPECT_EQ(outcome.failure, files::LoadFailure::Damaged);
  // The same file through a sound decoder.
  outcome = Decode(m_path);
  EXPECT_EQ(outcome.code, files::kLoaded);
  FreeImage_Unload(outcome.bitmap);
}

// A decoder that computes without end runs out of processor time (two
// seconds for a small file); one that sleeps without end is noticed within
// the idle bound. Both are said to have taken too long.
TEST_F(DecoderFaultTest, EndlessOrSleepingDecoderTakesTooLong) {
  for (const char* fault : {"hang", "sleep"}) {
    const auto start = std::chrono::steady_clock::now();
    files::DecodeOutcome outcome = Decode(m_path, kPlentyOfMemory, fault);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome.code, files::kNotRecognised) << fault;
    EXPECT_EQ(outcome.bitmap, nullptr) << fault;
    EXPECT_EQ(outcome.failure, files::LoadFailure::TooSlow) << fault;
    // Far below the wall-clock bound of 120 s that stands behind both.
    EXPECT_LT(took, std::chrono::seconds(60)) << fault;
  }
}

TEST_F(DecoderFaultTest, EndlessDecoderIsKilledWhenTheCallerStops) {
  const int stop = ::eventfd(0, EFD_CLOEXEC);
  std::thread stopper([stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    (void)!::eventfd_write(stop, 1);
  });
  files::DecodeOutcome outcome = Decode(m_path, kPlentyOfMemory, "hang", stop);
  stopper.join();
  ::close(stop);
  EXPECT_EQ(outcome.code, files::kNotRecognised);
  EXPECT_EQ(outcome.bitmap, nullptr);
  EXPECT_EQ(outcome.failure, files::LoadFailure::Aborted);
}

}  // namespace
