#include "files/SaveNames.h"

#include <gtest/gtest.h>

namespace {

struct ProposalCase {
  const char* label;
  const char* sourcePath;
  double scale;
  const char* proposal;
};

class ProposalTest : public testing::TestWithParam<ProposalCase> {};

TEST_P(ProposalTest, BuildsNameFromBaseNameAndPercent) {
  const ProposalCase& c = GetParam();
  EXPECT_EQ(files::ProposedSaveName(c.sourcePath, c.scale), c.proposal);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ProposalTest,
    testing::Values(ProposalCase{"PlainJpeg", "/home/u/pics/photo.jpg", 2.5, "photo_250percents"},
                    ProposalCase{"DotInFolderOnly", "/d/a/b.c/shot", 3.0, "shot_300percents"},
                    ProposalCase{"LastDotOnly", "/x/archive.tar.png", 1.5,
                                 "archive.tar_150percents"},
                    ProposalCase{"NoFolder", "image.bmp", 0.5, "image_50percents"},
                    ProposalCase{"Smallest", "/a/s.tif", 0.01, "s_1percents"},
                    ProposalCase{"Largest", "/a/l.tif", 20.0, "l_2000percents"},
                    // 1.15 x 100 is 114.999...; the percent is rounded, not truncated.
                    ProposalCase{"RoundedNotTruncated", "/a/r.png", 1.15, "r_115percents"},
                    ProposalCase{"Utf8Name", "/tmp/\xc3\xa9t\xc3\xa9/\xe5\x86\x99\xe7\x9c\x9f.jpeg",
                                 2.0, "\xe5\x86\x99\xe7\x9c\x9f_200percents"},
                    ProposalCase{"HiddenFile", "/h/.hidden", 2.0, "_200percents"},
                    ProposalCase{"TrailingDot", "/h/name.", 2.0, "name_200percents"}),
    [](const testing::TestParamInfo<ProposalCase>& info) { return info.param.label; });

struct ExtensionCase {
  const char* label;
  const char* typed;
  int format;  // 1 JPEG, 2 BMP, 3 TIFF, 4 PNG
  const char* written;
};

class ExtensionTest : public testing::TestWithParam<ExtensionCase> {};

TEST_P(ExtensionTest, KeepsAcceptedExtensionOrAppendsTheFormats) {
  const ExtensionCase& c = GetParam();
  EXPECT_EQ(files::FinalSaveName(c.typed, c.format), c.written);
  // Applying the rule to its own result changes nothing, so the name asked
  // about before saving is the name written.
  EXPECT_EQ(files::FinalSaveName(files::FinalSaveName(c.typed, c.format), c.format), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExtensionTest,
    testing::Values(ExtensionCase{"JpegNone", "/o/out", 1, "/o/out.jpg"},
                    ExtensionCase{"JpegUpperLong", "/o/out.JPEG", 1, "/o/out.JPEG"},
                    ExtensionCase{"JpegMixed", "/o/out.Jpg", 1, "/o/out.Jpg"},
                    ExtensionCase{"JpegOtherType", "/o/out.png", 1, "/o/out.png.jpg"},
                    ExtensionCase{"TiffLong", "/o/scan.tiff", 3, "/o/scan.tiff"},
                    ExtensionCase{"TiffNone", "/o/scan", 3, "/o/scan.tif"},
                    ExtensionCase{"TiffShort", "/o/scan.TIF", 3, "/o/scan.TIF"},
                    ExtensionCase{"BmpInside", "/o/x.bmp.txt", 2, "/o/x.bmp.txt.bmp"},
                    ExtensionCase{"BmpKept", "/o/x.BMP", 2, "/o/x.BMP"},
                    ExtensionCase{"PngKept", "/o/p.png", 4, "/o/p.png"},
                    ExtensionCase{"PngFromJpegName", "/o/p.jpg", 4, "/o/p.jpg.png"},
                    ExtensionCase{"ShortName", "jpg", 1, "jpg.jpg"},
                    ExtensionCase{"ExactExtension", ".jpg", 1, ".jpg"},
                    ExtensionCase{"UnknownIndexIsJpeg", "/o/u", 0, "/o/u.jpg"},
                    ExtensionCase{"IndexFiveIsJpeg", "/o/u.bmp", 5, "/o/u.bmp.jpg"}),
    [](const testing::TestParamInfo<ExtensionCase>& info) { return info.param.label; });

TEST(SaveFormatsTest, FourTypesInDialogOrder) {
  const auto& formats = files::SaveFormats();
  ASSERT_EQ(formats.size(), 4u);
  EXPECT_STREQ(formats[0].description, "JPEGs (*.jpg, *.jpeg)");
  EXPECT_STREQ(formats[0].patterns, "*.jpg;*.jpeg");
  EXPECT_STREQ(formats[1].description, "Bitmaps (*.bmp)");
  EXPECT_STREQ(formats[2].description, "TIFFs (*.tif)");
  EXPECT_STREQ(formats[3].description, "PNGs (*.png)");
  EXPECT_EQ(files::SaveFormatOf(1).fif, FIF_JPEG);
  EXPECT_EQ(files::SaveFormatOf(2).fif, FIF_BMP);
  EXPECT_EQ(files::SaveFormatOf(3).fif, FIF_TIFF);
  EXPECT_EQ(files::SaveFormatOf(4).fif, FIF_PNG);
  EXPECT_EQ(files::SaveFormatOf(-3).fif, FIF_JPEG);
}

TEST(TemporaryNameTest, StaysInTheTargetsFolder) {
  EXPECT_EQ(files::TemporaryNameBeside("/a/b/out.png", "t1"), "/a/b/.magnova-t1.part");
  EXPECT_EQ(files::TemporaryNameBeside("out.png", "t1"), ".magnova-t1.part");
  EXPECT_EQ(files::TemporaryNameBeside("/out.png", "t2"), "/.magnova-t2.part");
  // A target name at the file system's length limit still leaves a short
  // temporary name.
  std::string longName(250, 'n');
  EXPECT_LT(files::FileNamePart(files::TemporaryNameBeside("/d/" + longName, "t")).size(), 40u);
}

}  // namespace

namespace {

// A proposal too long for a file name is cut in its base name, at a
// character's start, so that the name with any appended extension fits.
TEST(LongProposalTest, ShortenedToFitKeepingThePercentTail) {
  const struct {
    const char* unit;  // repeated to make the base name
    int repeat;
    double scale;
    const char* tail;
  } cases[] = {{"a", 300, 2.0, "_200percents"},
               {"\xe5\x86\x99", 100, 20.0, "_2000percents"},  // three bytes a character
               {"\xc3\xa9", 130, 0.01, "_1percents"},         // two bytes a character
               {"b", 239, 0.5, "_50percents"}};               // fits exactly: 239 + 12 + 4
  for (const auto& c : cases) {
    std::string base;
    for (int i = 0; i < c.repeat; ++i) base += c.unit;
    const std::string proposal = files::ProposedSaveName("/p/" + base + ".jpg", c.scale);
    const std::string tail = c.tail;
    ASSERT_GE(proposal.size(), tail.size());
    EXPECT_EQ(proposal.substr(proposal.size() - tail.size()), tail);
    EXPECT_LE(proposal.size() + 4, 255u) << c.unit;
    const std::string kept = proposal.substr(0, proposal.size() - tail.size());
    EXPECT_EQ(base.compare(0, kept.size(), kept), 0);
    EXPECT_EQ(kept.size() % std::string(c.unit).size(), 0u) << "cut inside a character";
    // Nothing is cut that did not have to be: one more character would not fit.
    const size_t unit = std::string(c.unit).size();
    if (kept.size() < base.size()) {
      EXPECT_GT(kept.size() + unit + tail.size() + 4, 255u);
    }
  }
}

}  // namespace
