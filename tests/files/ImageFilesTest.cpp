#include "files/ImageFiles.h"

#include <sys/stat.h>

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
  FIBITMAP* deep = testimages::MakePatternOfType(FIT_RGB16, 16, 8);
  {
    files::CReplacingFile file(m_target);
    // JPEG cannot take 48-bit colour.
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
