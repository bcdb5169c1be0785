#include "files/ImageFiles.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

struct StopCase {
  const char* name;
  FREE_IMAGE_FORMAT fif;
  bool exif;  // carried EXIF: PNG and TIFF are made in memory first
};

class StopWhileEncodingTest : public ReplacingFileTest,
                              public testing::WithParamInterface<StopCase> {};

// The stop is asked for before each piece written; the encoder must end at
// the first "stop", not encode the rest of the picture and ask again for
// every piece it would write.
TEST_P(StopWhileEncodingTest, EncoderEndsAtTheFirstStop) {
  FIBITMAP* picture = testimages::MakePattern(1200, 900, 24);
  if (GetParam().exif) {
    const char block[] = "Exif\0\0MM\0*\0\0\0\x08\0\0";
    testimages::SetTag(picture, FIMD_EXIF_RAW, "ExifRaw", FIDT_BYTE, block, sizeof block - 1);
  }
  constexpr int kStopAt = 4;
  int asked = 0;
  {
    files::CReplacingFile file(m_target);
    EXPECT_FALSE(files::WriteImage(picture, GetParam().fif, file.Stream(),
                                   [&] { return ++asked >= kStopAt; }));
  }
  FreeImage_Unload(picture);
  EXPECT_EQ(asked, kStopAt);
  EXPECT_EQ(testimages::ReadAll(m_target), "the file that was there");
  ExpectTargetAlone();
}

INSTANTIATE_TEST_SUITE_P(Formats, StopWhileEncodingTest,
                         testing::Values(StopCase{"Png", FIF_PNG, false},
                                         StopCase{"Tiff", FIF_TIFF, false},
                                         StopCase{"Jpeg", FIF_JPEG, false},
                                         StopCase{"PngWithExif", FIF_PNG, true},
                                         StopCase{"TiffWithExif", FIF_TIFF, true}),
                         [](const auto& info) { return std::string(info.param.name); });

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
  FREE_IMAGE_FORMAT fif = FIF_PNG;
};

class ReplaceLikeADesktopTest : public testing::TestWithParam<ReplaceCase> {
 protected:
  // Writes a picture over path; in a child process of user nobody when
  // asked, since the superuser writes into any folder.
  static bool Save(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, const std::string& path,
                   bool asNobody) {
    auto save = [&] {
      files::CReplacingFile file(path);
      return files::WriteImage(bitmap, fif, file.Stream(), kNeverStop) && file.Replace();
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
  EXPECT_TRUE(Save(bitmap, c.fif, target, readOnly && ::geteuid() == 0));
  ::chmod(folder.c_str(), 0755);

  // The file the target named now holds the picture, whichever name reads it.
  FIBITMAP* reread = FreeImage_Load(c.fif, real.c_str(), 0);
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
                                         ReplaceCase{"ReadOnlyFolder", Target::ReadOnlyFolder},
                                         // The TIFF writer reads back what it wrote.
                                         ReplaceCase{"HardLinkTiff", Target::HardLink, FIF_TIFF}),
                         [](const testing::TestParamInfo<ReplaceCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
