// How many pictures a file holds, as the decoder process tells it along with
// the first: counted against FreeImage's own multi-page reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestImages.h"
#include "files/DecoderProcess.h"

namespace {

using testimages::TempDir;

// Writes pages pictures of 24 x 16 (8-bit for GIF, 24-bit otherwise)
// as one file, through FreeImage's multi-page writer where it has one.
std::string MultiPage(const TempDir& dir, FREE_IMAGE_FORMAT fif, const char* name, int pages) {
  const std::string path = dir.File(name);
  if (fif == FIF_ICO) {
    // FreeImage writes one icon a file: ImageMagick makes the icon file.
    std::string command = "convert";
    for (int page = 0; page < pages; ++page) command += " -size 24x16 xc:red";
    testimages::CommandOutput(command + " '" + path + "'");
    return path;
  }
  FIMULTIBITMAP* file = FreeImage_OpenMultiBitmap(fif, path.c_str(), TRUE, FALSE, FALSE, 0);
  if (!file) return path;
  for (int page = 0; page < pages; ++page) {
    FIBITMAP* picture = testimages::MakePattern(24, 16, fif == FIF_GIF ? 8 : 24);
    FreeImage_AppendPage(file, picture);
    FreeImage_Unload(picture);
  }
  FreeImage_CloseMultiBitmap(file, 0);
  return path;
}

int FreeImagePages(FREE_IMAGE_FORMAT fif, const std::string& path) {
  FIMULTIBITMAP* file = FreeImage_OpenMultiBitmap(fif, path.c_str(), FALSE, TRUE, FALSE, 0);
  if (!file) return -1;
  const int pages = FreeImage_GetPageCount(file);
  FreeImage_CloseMultiBitmap(file, 0);
  return pages;
}

files::DecodeOutcome Decode(const std::string& path) {
  return files::DecodeImageFile({path, uint64_t{1} << 30, -1, ""});
}

TEST(FrameCount, TheDecoderCountsThePicturesOfAFileAsFreeImageDoes) {
  TempDir dir;
  struct Case {
    FREE_IMAGE_FORMAT fif;
    const char* name;
    int pages;
  };
  for (const Case& c :
       {Case{FIF_GIF, "three.gif", 3}, Case{FIF_TIFF, "four.tif", 4}, Case{FIF_ICO, "two.ico", 2},
        Case{FIF_GIF, "one.gif", 1}, Case{FIF_TIFF, "one.tif", 1}}) {
    const std::string path = MultiPage(dir, c.fif, c.name, c.pages);
    ASSERT_EQ(FreeImagePages(c.fif, path), c.pages) << c.name;
    const files::DecodeOutcome outcome = Decode(path);
    ASSERT_NE(outcome.bitmap, nullptr) << c.name;
    EXPECT_EQ(outcome.frames, uint32_t(c.pages)) << c.name;
    EXPECT_EQ(FreeImage_GetWidth(outcome.bitmap), 24u) << c.name;
    FreeImage_Unload(outcome.bitmap);
  }
  // A single picture of a format without pages.
  FIBITMAP* picture = testimages::MakePattern(24, 16, 24);
  testimages::Write(picture, FIF_PNG, dir.File("one.png"));
  FreeImage_Unload(picture);
  const files::DecodeOutcome png = Decode(dir.File("one.png"));
  EXPECT_EQ(png.frames, 1u);
  FreeImage_Unload(png.bitmap);
}

// A TIFF whose second directory points back at the first: the count ends,
// and the picture opens.
TEST(FrameCount, ADirectoryChainThatLoopsIsCountedOnce) {
  TempDir dir;
  const std::string path = MultiPage(dir, FIF_TIFF, "loop.tif", 2);
  std::string bytes = testimages::ReadAll(path);
  ASSERT_EQ(bytes.substr(0, 2), "II");
  const auto little = [&](size_t at, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) value |= uint64_t(uint8_t(bytes[at + i])) << (8 * i);
    return value;
  };
  const uint64_t first = little(4, 4);
  const uint64_t second = little(first + 2 + 12 * little(first, 2), 4);
  ASSERT_NE(second, 0u);
  const uint64_t link = second + 2 + 12 * little(second, 2);
  for (size_t i = 0; i < 4; ++i) bytes[link + i] = char((first >> (8 * i)) & 0xFF);
  testimages::WriteAll(path, bytes);
  const files::DecodeOutcome outcome = Decode(path);
  ASSERT_NE(outcome.bitmap, nullptr);
  EXPECT_EQ(outcome.frames, 2u);
  FreeImage_Unload(outcome.bitmap);
}

}  // namespace
