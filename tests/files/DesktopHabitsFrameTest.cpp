// The recent pictures of the File menu and the clipboard, through the running
// frame: what the menu lists as pictures open and fail, and what Paste and
// Copy Result take and give.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "FrameHarness.h"
#include "TestImages.h"
#include "files/Remembered.h"

namespace {

using platform::PromptRecord;
using testimages::TempDir;

class DesktopHabitsFrameTest : public testing::Test {
 protected:
  DesktopHabitsFrameTest() { m_frame->OnClearRecent(); }
  ~DesktopHabitsFrameTest() override { m_frame->OnClearRecent(); }

  std::string Picture(const std::string& name, int width = 24, int height = 16) {
    const std::string path = m_dir.File(name);
    FIBITMAP* bitmap = testimages::MakePattern(width, height, 24);
    testimages::Write(bitmap, FIF_PNG, path);
    FreeImage_Unload(bitmap);
    return path;
  }
  void Open(const std::string& path) {
    m_prompts.File(path);
    ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnCommand(ids::FileOpen); }));
  }
  void Command(int id) {
    ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnCommand(id); }));
  }
  // The File menu's recent pictures as shown: text, then status prompt.
  QStringList Recent() const {
    QStringList shown;
    for (QAction* action : m_frame->m_recentActions)
      if (action->isVisible()) shown << action->text() + " | " + action->statusTip();
    return shown;
  }
  // The entry a picture of the test's folder should have: its name with any
  // "&" doubled so that it shows as itself, and its full path.
  QString Entry(int number, const std::string& name) const {
    return QStringLiteral("&%1 %2 | %3")
        .arg(number)
        .arg(QString::fromStdString(name).replace("&", "&&"))
        .arg(QString::fromStdString(m_dir.File(name)));
  }

  TempDir m_dir;
  harness::Prompts m_prompts;
  std::unique_ptr<CMainFrame> m_frame = std::make_unique<CMainFrame>();
};

TEST_F(DesktopHabitsFrameTest, RecentPicturesFollowOpensAndDropNamesThatNoLongerOpen) {
  EXPECT_TRUE(Recent().isEmpty());
  EXPECT_FALSE(m_frame->UIIsEnabled(ids::FileClearRecent));
  // Nine pictures opened: the last eight, most recent first; a "&" in a name
  // is shown as itself.
  for (const char* name :
       {"p1.png", "p2.png", "p3.png", "p4.png", "p5.png", "p6.png", "p7.png", "p8.png", "r&d.png"})
    Open(Picture(name));
  EXPECT_EQ(Recent(), (QStringList{Entry(1, "r&d.png"), Entry(2, "p8.png"), Entry(3, "p7.png"),
                                   Entry(4, "p6.png"), Entry(5, "p5.png"), Entry(6, "p4.png"),
                                   Entry(7, "p3.png"), Entry(8, "p2.png")}));
  // The Open dialog started in the folder it was left in.
  EXPECT_EQ(m_prompts.shown.back().folder, QString::fromStdString(m_dir.Path()));
  EXPECT_TRUE(m_frame->UIIsEnabled(ids::FileClearRecent));

  // Chosen from the menu, a picture opens and comes first.
  Command(ids::FileRecentFirst + 4);  // p5.png
  EXPECT_EQ(m_frame->m_sourcePath, m_dir.File("p5.png"));
  EXPECT_EQ(Recent().mid(0, 3),
            (QStringList{Entry(1, "p5.png"), Entry(2, "r&d.png"), Entry(3, "p8.png")}));

  // One that no longer opens says why, as Open does, and leaves the list.
  std::remove(m_dir.File("p8.png").c_str());
  Command(ids::FileRecentFirst + 2);
  EXPECT_EQ(m_frame->m_source, nullptr);
  EXPECT_EQ(m_frame->m_readyLabel->text(), "Cannot open p8.png: the file does not exist.");
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  EXPECT_EQ(Recent().size(), 7);
  EXPECT_FALSE(Recent().join('\n').contains("p8.png"));

  m_frame->OnCommand(ids::FileClearRecent);
  EXPECT_TRUE(Recent().isEmpty());
  EXPECT_TRUE(files::RecentPictures().isEmpty()) << "the emptied list is remembered";
  EXPECT_FALSE(m_frame->UIIsEnabled(ids::FileClearRecent));
}

TEST_F(DesktopHabitsFrameTest, PasteOpensTheClipboardsPictureAndCopyResultGivesTheResult) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  // Nothing to paste: said, and nothing changes.
  clipboard->setText("words");
  Command(ids::EditPaste);
  EXPECT_EQ(m_frame->m_source, nullptr);
  EXPECT_EQ(m_frame->m_readyLabel->text(), "The clipboard holds no picture.");

  // Image data, as another program gives it: opened by the decoder, named
  // "Pasted picture", each pixel as FreeImage reads the file.
  const std::string png = Picture("copied.png", 30, 20);
  auto* data = new QMimeData;
  data->setData("image/png", QByteArray::fromStdString(testimages::ReadAll(png)));
  clipboard->setMimeData(data);
  Command(ids::EditPaste);
  ASSERT_NE(m_frame->m_source, nullptr);
  FIBITMAP* oracle = FreeImage_Load(FIF_PNG, png.c_str(), 0);
  ASSERT_NE(oracle, nullptr);
  int wrong = 0;
  for (unsigned y = 0; y < 20; ++y)
    for (unsigned x = 0; x < 30; ++x) {
      RGBQUAD a{}, b{};
      FreeImage_GetPixelColor(m_frame->m_source, x, y, &a);
      FreeImage_GetPixelColor(oracle, x, y, &b);
      wrong += a.rgbRed != b.rgbRed || a.rgbGreen != b.rgbGreen || a.rgbBlue != b.rgbBlue;
    }
  FreeImage_Unload(oracle);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(m_frame->m_imageInfoLabel->text(), "Pasted picture  30 \u00d7 20");
  EXPECT_TRUE(Recent().isEmpty()) << "a pasted picture has no name to offer again";

  // Its result is proposed as pasted_<percent>percents.
  m_frame->m_percentEdit->setText("200%");
  Command(ids::Resize);
  ASSERT_NE(m_frame->m_result, nullptr);
  m_prompts.CancelDialog();
  Command(ids::FileSaveResizedAs);
  ASSERT_EQ(m_prompts.shown.back().kind, PromptRecord::SaveFile);
  EXPECT_EQ(m_prompts.shown.back().text, "pasted_200percents");

  // Copy Result: the result's pixels, as FreeImage holds them.
  Command(ids::EditCopyResult);
  const QImage copied = clipboard->image();
  const unsigned width = FreeImage_GetWidth(m_frame->m_result);
  const unsigned height = FreeImage_GetHeight(m_frame->m_result);
  ASSERT_EQ(copied.size(), QSize(int(width), int(height)));
  wrong = 0;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      RGBQUAD c{};
      FreeImage_GetPixelColor(m_frame->m_result, x, height - 1 - y, &c);
      wrong += copied.pixel(int(x), int(y)) != qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
  EXPECT_EQ(wrong, 0);

  // Pasted back, as Open does: the unsaved result is asked about first.
  m_prompts.Button(ids::IdNo);
  Command(ids::EditPaste);
  EXPECT_EQ(m_prompts.shown.back().caption, "Confirm");
  ASSERT_NE(m_frame->m_source, nullptr);
  EXPECT_EQ(m_frame->m_result, nullptr);
  EXPECT_EQ(m_frame->m_imageInfoLabel->text(),
            QStringLiteral("Pasted picture  %1 \u00d7 %2").arg(width).arg(height));

  // A copied file opens under its own name, and is a recent picture.
  auto* file = new QMimeData;
  file->setUrls({QUrl::fromLocalFile(QString::fromStdString(m_dir.File("copied.png")))});
  clipboard->setMimeData(file);
  Command(ids::EditPaste);
  EXPECT_EQ(m_frame->m_imageInfoLabel->text(), "copied.png  30 \u00d7 20");
  EXPECT_EQ(Recent(), QStringList{Entry(1, "copied.png")});
  clipboard->clear();
}

}  // namespace
