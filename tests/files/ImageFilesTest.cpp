#include "files/ImageFiles.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>

#include "TestImages.h"

namespace {

using testimages::TempDir;

const files::StopRequested kNeverStop = [] { return false; };

class FreeImageEnvironment : public testing::Environment {
 public:
  void SetUp() override { FreeImage_Initialise(TRUE); }
  void TearDown() override { FreeImage_DeInitialise(); }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new FreeImageEnvironment);

struct FormatCase {
  const char* label;
  FREE_IMAGE_FORMAT fif;
  FREE_IMAGE_TYPE type;
  int bpp;
  const char* fileName;
  bool lossless;
};

class OpenFormatTest : public testing::TestWithParam<FormatCase> {};

TEST_P(OpenFormatTest, OpensWithoutConversion) {
  const FormatCase& c = GetParam();
  TempDir dir;
  FIBITMAP* written = c.type == FIT_BITMAP ? testimages::MakePattern(37, 23, c.bpp)
                                           : testimages::MakePatternOfType(c.type, 37, 23);
  std::string path = dir.File(c.fileName);
  ASSERT_TRUE(testimages::Write(written, c.fif, path));

  files::LoadOutcome outcome = files::LoadImageFile(path, kNeverStop);
  ASSERT_EQ(outcome.code, files::kLoaded);
  ASSERT_NE(outcome.bitmap, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(outcome.bitmap), 37u);
  EXPECT_EQ(FreeImage_GetHeight(outcome.bitmap), 23u);
  EXPECT_EQ(FreeImage_GetImageType(outcome.bitmap), c.type);
  EXPECT_EQ(FreeImage_GetBPP(outcome.bitmap), static_cast<unsigned>(c.bpp));
  if (c.lossless) {
    EXPECT_TRUE(testimages::SamePixels(written, outcome.bitmap));
  }
  FreeImage_Unload(outcome.bitmap);
  FreeImage_Unload(written);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, OpenFormatTest,
    testing::Values(FormatCase{"Png24", FIF_PNG, FIT_BITMAP, 24, "a.png", true},
                    FormatCase{"Jpeg24", FIF_JPEG, FIT_BITMAP, 24, "a.jpg", false},
                    FormatCase{"Bmp24", FIF_BMP, FIT_BITMAP, 24, "a.bmp", true},
                    FormatCase{"Tiff24", FIF_TIFF, FIT_BITMAP, 24, "a.tif", true},
                    FormatCase{"GifPalette", FIF_GIF, FIT_BITMAP, 8, "a.gif", true},
                    FormatCase{"BmpPalette4", FIF_BMP, FIT_BITMAP, 4, "p.bmp", true},
                    FormatCase{"Png1Bit", FIF_PNG, FIT_BITMAP, 1, "one.png", true},
                    FormatCase{"PngGrey16", FIF_PNG, FIT_UINT16, 16, "g16.png", true},
                    FormatCase{"Tiff48", FIF_TIFF, FIT_RGB16, 48, "c48.tif", true},
                    FormatCase{"PngRgba", FIF_PNG, FIT_BITMAP, 32, "rgba.png", true},
                    FormatCase{"PngNamedJpg", FIF_PNG, FIT_BITMAP, 24, "really-png.jpg", true},
                    FormatCase{"NoExtension", FIF_TIFF, FIT_BITMAP, 24, "noext", true}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.label; });

// Writes a valid file of fif and keeps only its first bytes.
std::string Truncated(const TempDir& dir, FREE_IMAGE_FORMAT fif, const std::string& name) {
  std::string path = dir.File(name);
  FIBITMAP* bitmap = testimages::MakePattern(64, 64, 24);
  testimages::Write(bitmap, fif, path);
  FreeImage_Unload(bitmap);
  std::string bytes = testimages::ReadAll(path);
  testimages::WriteAll(path, bytes.substr(0, bytes.size() / 3));
  return path;
}

TEST(OpenBadInputTest, UnreadableInputIsNotRecognised) {
  TempDir dir;
  std::string random(4096, '\0');
  std::mt19937 generator(7);
  for (char& c : random) c = static_cast<char>(generator());
  testimages::WriteAll(dir.File("random.jpg"), random);
  testimages::WriteAll(dir.File("empty.png"), "");
  ::mkdir(dir.File("folder.png").c_str(), 0700);

  for (const std::string& path : {dir.File("random.jpg"), dir.File("empty.png"),
                                  dir.File("folder.png"), dir.File("missing.png")}) {
    files::LoadOutcome outcome = files::LoadImageFile(path, kNeverStop);
    EXPECT_EQ(outcome.code, files::kNotRecognised) << path;
    EXPECT_EQ(outcome.bitmap, nullptr) << path;
  }
}

TEST(OpenBadInputTest, TruncatedFilesAreRecognisedAndNeverHalfReported) {
  TempDir dir;
  // A truncated PNG cannot be decoded: a failed read of a known type.
  files::LoadOutcome png = files::LoadImageFile(Truncated(dir, FIF_PNG, "t.png"), kNeverStop);
  EXPECT_EQ(png.code, files::kReadFailed);
  EXPECT_EQ(png.bitmap, nullptr);
  // The JPEG decoder fills what is missing: a whole image of the full size.
  files::LoadOutcome jpeg = files::LoadImageFile(Truncated(dir, FIF_JPEG, "t.jpg"), kNeverStop);
  ASSERT_EQ(jpeg.code, files::kLoaded);
  EXPECT_EQ(FreeImage_GetWidth(jpeg.bitmap), 64u);
  FreeImage_Unload(jpeg.bitmap);
}

TEST(OpenBadInputTest, StopRequestEndsTheReadWithoutAnImage) {
  TempDir dir;
  FIBITMAP* bitmap = testimages::MakePattern(64, 64, 24);
  testimages::Write(bitmap, FIF_PNG, dir.File("s.png"));
  FreeImage_Unload(bitmap);
  files::LoadOutcome outcome = files::LoadImageFile(dir.File("s.png"), [] { return true; });
  EXPECT_EQ(outcome.bitmap, nullptr);
  EXPECT_NE(outcome.code, files::kLoaded);
}

// A folder path longer than 259 bytes with non-ASCII names in it.
std::string DeepUtf8Folder(const TempDir& dir) {
  std::string folder = dir.Path();
  for (int i = 0; i < 6; ++i) {
    folder += "/\xc3\xa9\xc3\xa8\xe5\x86\x99\xe7\x9c\x9f-" + std::string(40, 'd');
    ::mkdir(folder.c_str(), 0700);
  }
  return folder;
}

TEST(LongPathTest, OpensAndReplacesUnderLongUtf8Paths) {
  TempDir dir;
  std::string path = DeepUtf8Folder(dir) + "/\xe5\x86\x99\xe7\x9c\x9f.png";
  ASSERT_GT(path.size(), 300u);
  FIBITMAP* bitmap = testimages::MakePattern(9, 5, 24);
  {
    files::CReplacingFile file(path);
    ASSERT_TRUE(files::WriteImage(bitmap, FIF_PNG, file.Stream(), kNeverStop));
    ASSERT_TRUE(file.Replace());
  }
  files::LoadOutcome outcome = files::LoadImageFile(path, kNeverStop);
  ASSERT_EQ(outcome.code, files::kLoaded);
  EXPECT_TRUE(testimages::SamePixels(bitmap, outcome.bitmap));
  FreeImage_Unload(outcome.bitmap);
  FreeImage_Unload(bitmap);
}

class ReplacingFileTest : public testing::Test {
 protected:
  void SetUp() override {
    testimages::WriteAll(m_target, "the file that was there");
    ::chmod(m_target.c_str(), 0640);
  }
  void TearDown() override { FreeImage_Unload(m_bitmap); }
  // Only the target: no temporary file stays behind.
  void ExpectTargetAlone() { EXPECT_EQ(testimages::CountEntries(m_dir.Path()), 1); }

  TempDir m_dir;
  std::string m_target = m_dir.File("out.png");
  FIBITMAP* m_bitmap = testimages::MakePattern(16, 8, 24);
};

TEST_F(ReplacingFileTest, CompleteWriteReplacesTargetAndKeepsItsPermissions) {
  {
    files::CReplacingFile file(m_target);
    ASSERT_NE(file.Stream(), nullptr);
    EXPECT_EQ(testimages::CountEntries(m_dir.Path()), 2);
    ASSERT_TRUE(files::WriteImage(m_bitmap, FIF_PNG, file.Stream(), kNeverStop));
    // Until it is replaced the target is untouched.
    EXPECT_EQ(testimages::ReadAll(m_target), "the file that was there");
    ASSERT_TRUE(file.Replace());
  }
  ExpectTargetAlone();
  struct stat info {};
  ::stat(m_target.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  FIBITMAP* reread = FreeImage_Load(FIF_PNG, m_target.c_str(), 0);
  EXPECT_TRUE(testimages::SamePixels(m_bitmap, reread));
  FreeImage_Unload(reread);
}

TEST_F(ReplacingFileTest, FailedWriteLeavesTargetAsItWas) {
  FIBITMAP* deep = FreeImage_AllocateT(FIT_COMPLEX, 16, 8);
  {
    files::CReplacingFile file(m_target);
    // Complex samples have no picture that JPEG could hold.
    EXPECT_FALSE(files::WriteImage(deep, FIF_JPEG, file.Stream(), kNeverStop));
  }
  FreeImage_Unload(deep);
  EXPECT_EQ(testimages::ReadAll(m_target), "the file that was there");
  ExpectTargetAlone();
}

TEST_F(ReplacingFileTest, StoppedWriteLeavesTargetAsItWas) {
  int writes = 0;
  {
    files::CReplacingFile file(m_target);
    // Stops after the first piece has gone out.
    EXPECT_FALSE(files::WriteImage(m_bitmap, FIF_BMP, file.Stream(), [&] { return ++writes > 1; }));
  }
  EXPECT_GT(writes, 1);
  EXPECT_EQ(testimages::ReadAll(m_target), "the file that was there");
  ExpectTargetAlone();
}

TEST_F(ReplacingFileTest, MissingFolderGivesNoStreamAndNoFile) {
  files::CReplacingFile file(m_dir.File("no-such-folder/out.png"));
  EXPECT_EQ(file.Stream(), nullptr);
  EXPECT_FALSE(files::WriteImage(m_bitmap, FIF_PNG, file.Stream(), kNeverStop));
  EXPECT_FALSE(file.Replace());
  ExpectTargetAlone();
}

}  // namespace

namespace {

// How a saved file meets its target.
enum class Target { SymbolicLink, HardLink, ReadOnlyFolder };

struct ReplaceCase {
  const char* name;
  Target target;
};

class ReplaceLikeADesktopTest : public testing::TestWithParam<ReplaceCase> {
 protected:
  // Writes a picture over path; in a child process of user nobody when
  // asked, since the superuser writes into any folder.
  static bool Save(FIBITMAP* bitmap, const std::string& path, bool asNobody) {
    auto save = [&] {
      files::CReplacingFile file(path);
      return files::WriteImage(bitmap, FIF_PNG, file.Stream(), kNeverStop) && file.Replace();
    };
    if (!asNobody) return save();
    const pid_t child = ::fork();
    if (child == 0) {
      const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
      ::_exit(dropped && save() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
};

TEST_P(ReplaceLikeADesktopTest, TargetIsReplacedAndKeepsWhatMakesItThatFile) {
  const ReplaceCase& c = GetParam();
  TempDir dir;
  const std::string folder = dir.File("pictures");
  ::chmod(dir.Path().c_str(), 0755);
  ::mkdir(folder.c_str(), 0755);
  const std::string real = folder + "/real.png";
  testimages::WriteAll(real, "the file that was there");
  ::chmod(real.c_str(), 0666);
  std::string target = real;
  if (c.target == Target::SymbolicLink) {
    target = dir.File("link.png");
    ASSERT_EQ(::symlink("pictures/real.png", target.c_str()), 0);
  } else if (c.target == Target::HardLink) {
    target = dir.File("second-name.png");
    ASSERT_EQ(::link(real.c_str(), target.c_str()), 0);
  }
  struct stat before {};
  ::stat(real.c_str(), &before);
  const bool readOnly = c.target == Target::ReadOnlyFolder;
  if (readOnly) ::chmod(folder.c_str(), 0555);

  FIBITMAP* bitmap = testimages::MakePattern(12, 7, 24);
  EXPECT_TRUE(Save(bitmap, target, readOnly && ::geteuid() == 0));
  ::chmod(folder.c_str(), 0755);

  // The file the target named now holds the picture, whichever name reads it.
  FIBITMAP* reread = FreeImage_Load(FIF_PNG, real.c_str(), 0);
  EXPECT_TRUE(testimages::SamePixels(bitmap, reread));
  if (reread) FreeImage_Unload(reread);
  struct stat after {};
  ::lstat(target.c_str(), &after);
  if (c.target == Target::SymbolicLink) {
    EXPECT_TRUE(S_ISLNK(after.st_mode));
  } else {
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, before.st_nlink);
    EXPECT_EQ(after.st_mode & 07777, 0666u);
  }
  EXPECT_EQ(testimages::CountEntries(folder), 1);
  FreeImage_Unload(bitmap);
}

INSTANTIATE_TEST_SUITE_P(Targets, ReplaceLikeADesktopTest,
                         testing::Values(ReplaceCase{"SymbolicLink", Target::SymbolicLink},
                                         ReplaceCase{"HardLink", Target::HardLink},
                                         ReplaceCase{"ReadOnlyFolder", Target::ReadOnlyFolder}),
                         [](const testing::TestParamInfo<ReplaceCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
