// What a save may be refused or fail for, in the user's words, and the JPEG
// choices as an independent reader (ImageMagick) finds them in the file.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "TestImages.h"
#include "files/ImageFiles.h"
#include "files/JpegChoices.h"
#include "files/SaveFailure.h"
#include "files/SaveLimits.h"

namespace {

using testimages::TempDir;

struct LimitCase {
  FREE_IMAGE_FORMAT fif;
  uint64_t width, height;
  unsigned bpp;
  const char* refusal;  // empty when the format holds the picture
};

// Limits worked out by hand: libjpeg's 65,500 a side, libpng's 1,000,000,
// and 2^32 - 1 bytes of BMP rows (padded to four bytes) or TIFF rows.
TEST(SaveLimitsTest, EachFormatsLimitNamedWithThePicture) {
  const LimitCase cases[] = {
      {FIF_JPEG, 65500, 65500, 24, ""},
      {FIF_JPEG, 80000, 1000, 24,
       "JPEG holds at most 65,500 pixels a side; the picture is 80,000 \u00d7 1,000 pixels"},
      {FIF_JPEG, 10, 65501, 24,
       "JPEG holds at most 65,500 pixels a side; the picture is 10 \u00d7 65,501 pixels"},
      {FIF_PNG, 1000000, 3, 32, ""},
      {FIF_PNG, 1000001, 3, 32,
       "PNG holds at most 1,000,000 pixels a side; the picture is 1,000,001 \u00d7 3 pixels"},
      // 1000 pixels of 24 bits: 3000 bytes a row; 1,431,655 rows fit.
      {FIF_BMP, 1000, 1431655, 24, ""},
      {FIF_BMP, 1000, 1431656, 24,
       "BMP holds at most 4 GiB of picture data; the picture is 1,000 \u00d7 1,431,656 pixels"},
      // 1001 pixels of 8 bits are padded to 1004 bytes: 4,277,855 rows fit.
      {FIF_BMP, 1001, 4277855, 8, ""},
      {FIF_BMP, 1001, 4277856, 8,
       "BMP holds at most 4 GiB of picture data; the picture is 1,001 \u00d7 4,277,856 pixels"},
      {FIF_TIFF, 65535, 65537, 8, ""},
      {FIF_TIFF, 65536, 65536, 8,
       "TIFF holds at most 4 GiB of picture data; the picture is 65,536 \u00d7 65,536 pixels"},
  };
  // BMP and TIFF hold any side; a result none of the four holds is refused.
  EXPECT_EQ(files::NoSaveFormatHolds(1000001, 3, 24), "");
  EXPECT_EQ(files::NoSaveFormatHolds(1000001, 1500, 24),
            "no file type Magnova saves can hold it: PNG holds at most 1,000,000 pixels a side; "
            "the picture is 1,000,001 \u00d7 1,500 pixels");
  for (const LimitCase& c : cases)
    EXPECT_EQ(files::FormatLimitFailure(c.fif, c.width, c.height, c.bpp), c.refusal)
        << c.fif << " " << c.width << " x " << c.height;
}

// Real failures of the safe save, told in words.
TEST(SaveFailureTest, ReasonsOfRealFailures) {
  TempDir dir;
  FIBITMAP* bitmap = testimages::MakePattern(64, 48, 24);

  // A full disk: /dev/full takes nothing.
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  int error = 0;
  files::WriteExtras extras;
  extras.error = &error;
  EXPECT_FALSE(files::WriteImage(bitmap, FIF_BMP, full, {}, nullptr, 0, extras));
  std::fclose(full);
  EXPECT_EQ(files::SaveFailureReason(error, "/dev/full"), "the disk is full");

  const struct {
    std::string target;
    const char* reason;
  } made[] = {
      {dir.File(std::string(300, 'n') + ".bmp"), "the name is not valid"},
      {dir.File("missing/x.bmp"), "its folder does not exist"},
      {dir.File("plain.txt/x.bmp"), "its folder does not exist"},
  };
  testimages::WriteAll(dir.File("plain.txt"), "text");
  for (const auto& c : made) {
    files::CReplacingFile file(c.target);
    EXPECT_FALSE(file.Stream() && file.Replace()) << c.target;
    EXPECT_EQ(files::SaveFailureReason(file.Error(), c.target), c.reason) << c.target;
  }
  EXPECT_EQ(files::SaveFailureReason(EROFS, "/x/y.png"), "the folder is on a read-only disk");
  FreeImage_Unload(bitmap);
}

// Quality and subsampling as ImageMagick reads them from the file, and the
// default choices giving the bytes FreeImage's default JPEG gives.
TEST(JpegChoicesTest, QualityAndSubsamplingReachTheFile) {
  TempDir dir;
  FIBITMAP* bitmap = testimages::MakePattern(64, 48, 24);
  const struct {
    files::JpegChoices choices;
    const char* identified;
  } cases[] = {
      {{75, false}, "75 2x2,1x1,1x1"},
      {{92, true}, "92 1x1,1x1,1x1"},
      {{1, false}, "1 2x2,1x1,1x1"},
      {{100, true}, "100 1x1,1x1,1x1"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File("q" + std::to_string(c.choices.quality) + ".jpg");
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(
        files::WriteImage(bitmap, FIF_JPEG, stream, {}, nullptr, files::JpegSaveFlags(c.choices)));
    std::fclose(stream);
    EXPECT_EQ(testimages::CommandOutput("identify -format '%Q %[jpeg:sampling-factor]' " + path),
              c.identified);
  }
  const std::string plain = dir.File("plain.jpg");
  ASSERT_TRUE(testimages::Write(bitmap, FIF_JPEG, plain));
  EXPECT_EQ(testimages::ReadAll(plain), testimages::ReadAll(dir.File("q75.jpg")));
  // The estimate of a file's quality, against the quality it was written at
  // and ImageMagick's own estimate.
  for (const int quality : {20, 50, 75, 92}) {
    const std::string path = dir.File("e" + std::to_string(quality) + ".jpg");
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(files::WriteImage(bitmap, FIF_JPEG, stream, {}, nullptr, quality));
    std::fclose(stream);
    EXPECT_EQ(files::EstimateJpegQuality(path), quality);
    EXPECT_EQ(testimages::CommandOutput("identify -format %Q " + path), std::to_string(quality));
  }
  EXPECT_EQ(files::EstimateJpegQuality(dir.File("missing.jpg")), std::nullopt);
  testimages::WriteAll(dir.File("text.jpg"), "not a picture");
  EXPECT_EQ(files::EstimateJpegQuality(dir.File("text.jpg")), std::nullopt);
  EXPECT_EQ(files::QualityBelowSourceNote(60, 90),
            "Saved at JPEG quality 60, well below the source's (about 90): fine detail may be "
            "lost.");
  EXPECT_EQ(files::QualityBelowSourceNote(81, 90), "");
  EXPECT_EQ(files::QualityBelowSourceNote(95, 90), "");
  EXPECT_EQ(files::QualityBelowSourceNote(20, std::nullopt), "");
  EXPECT_EQ(files::ParseSubsampling("4:4:4"), true);
  EXPECT_EQ(files::ParseSubsampling("420"), false);
  EXPECT_EQ(files::ParseSubsampling("4:2:2"), std::nullopt);
  FreeImage_Unload(bitmap);
}

}  // namespace
