// Open, Resize, Save and Open again with no pause between the steps but the
// program's own: every job's messages must reach the job they belong to.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "FrameHarness.h"
#include "TestImages.h"
#include "views/CEnlargerView.h"

namespace {

using testimages::TempDir;

TEST(BackToBackTest, OpenResizeSaveOpenFiftyTimes) {
  TempDir dir;
  const std::string photo = dir.File("photo.png");
  FIBITMAP* picture = testimages::MakePattern(160, 120, 24);
  ASSERT_TRUE(testimages::Write(picture, FIF_PNG, photo));

  harness::Prompts prompts;
  CMainFrame frame;
  frame.show();
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    prompts.File(photo);
    ASSERT_TRUE(harness::RunBounded(frame, [&] { frame.OnCommand(ids::FileOpen); }));
    ASSERT_NE(frame.m_source, nullptr);
    ASSERT_TRUE(testimages::SamePixels(frame.m_source, picture));
    EXPECT_EQ(frame.View(0)->Image(), frame.m_source);
    ASSERT_TRUE(frame.m_percentCombo->isEnabled());

    // Enter in the percent box, as a user starts a resize.
    frame.m_percentEdit->setText(QStringLiteral("300%"));
    frame.m_percentEdit->setFocus();
    QTest::keyClick(frame.m_percentEdit, Qt::Key_Return);
    ASSERT_NE(frame.m_result, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 480u);
    EXPECT_EQ(FreeImage_GetHeight(frame.m_result), 360u);
    EXPECT_FALSE(frame.m_resultSaved);

    const std::string big = dir.File("big" + std::to_string(round));
    prompts.File(big, 1);
    ASSERT_TRUE(harness::RunBounded(frame, [&] { frame.OnCommand(ids::FileSaveResizedAs); }));
    EXPECT_TRUE(frame.m_resultSaved);
    EXPECT_TRUE(testimages::Exists(big + ".jpg"));
    EXPECT_EQ(frame.m_worker, nullptr);
  }
  EXPECT_EQ(prompts.Pending(), 0u);
  // Nothing but the file dialogs was asked.
  EXPECT_EQ(prompts.Count(platform::PromptRecord::Message), 0);
  FreeImage_Unload(picture);
}

}  // namespace
