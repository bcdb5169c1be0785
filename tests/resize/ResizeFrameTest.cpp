// The resize job in the running main window: real frame, real threads, real
// engine, prompts answered through the prompt seam.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <random>

#include "WorkerHarness.h"
#include "app/CMainFrame.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "resize/CProgressDlg.h"
#include "resize/CResizeDlg.h"
#include "views/CEnlargerView.h"

namespace {

class AppScope : public testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "resize_frame_tests";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app.reset(); }
  std::unique_ptr<QApplication> app;
};
const auto* const kApp = testing::AddGlobalTestEnvironment(new AppScope);

class ResizeFrameTest : public testing::Test {
 protected:
  void SetUp() override { frame.show(); }

  // The source as a load leaves it: in the frame and in the left view.
  void Load(FIBITMAP* source) {
    frame.m_leftView->SetImage(nullptr);
    if (frame.m_source) FreeImage_Unload(frame.m_source);
    frame.m_source = source;
    frame.m_leftView->SetImage(source);
  }

  // Types text into the percent box and runs Resize; returns when its
  // progress dialog has closed.
  void Resize(const QString& text) {
    frame.m_percentEdit->setText(text);
    frame.OnResize();
    QCoreApplication::processEvents();
  }

  bool LockIsFree() {
    std::unique_lock lock(frame.m_imageLock, std::try_to_lock);
    return lock.owns_lock();
  }

  // Runs body inside the progress dialog's loop once it is open.
  void WhileJobRuns(std::function<void()> body) {
    auto* poll = new QTimer(&frame);
    poll->setInterval(1);
    QObject::connect(poll, &QTimer::timeout, &frame, [this, poll, body] {
      if (!frame.m_progressDlg || !frame.m_progressDlg->IsWindow()) return;
      poll->stop();
      poll->deleteLater();
      body();
    });
    poll->start();
  }

  std::vector<platform::PromptRecord> prompts;
  int answer = ids::IdOk;
  platform::ScopedPromptResponder responder{[this](const platform::PromptRecord& record) {
    prompts.push_back(record);
    return platform::PromptAnswer{answer, std::nullopt};
  }};
  CMainFrame frame;
};

TEST_F(ResizeFrameTest, PercentTextsAcceptedAndRefused) {
  Load(MakePicture(10, 10));
  for (const char* text : {"150%", "150", "150%%"}) {
    frame.m_scale = 2.0;
    Resize(text);
    EXPECT_TRUE(prompts.empty()) << text;
    EXPECT_EQ(frame.m_scale, 1.5) << text;
    ASSERT_NE(frame.m_result, nullptr) << text;
    EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 15u) << text;
  }
  FIBITMAP* before = frame.m_result;
  for (const char* text : {"abc", "", "0", "2001", "99999999999999999999"}) {
    prompts.clear();
    Resize(text);
    ASSERT_EQ(prompts.size(), 1u) << text;
    EXPECT_EQ(prompts[0].text, "Percent value must be integer from 1 to 2000.");
    EXPECT_EQ(prompts[0].caption, "Warning");
    EXPECT_EQ(prompts[0].icon, platform::MbIcon::Information);
    EXPECT_EQ(prompts[0].owner, &frame);
    EXPECT_EQ(frame.m_percentEdit->text(), "25%") << text;
    EXPECT_EQ(frame.m_result, before) << "no job for " << text;
    EXPECT_EQ(frame.m_worker, nullptr);
  }
  prompts.clear();
  Resize("2000");
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 200u);
  Load(MakePicture(300, 200));
  Resize("1");
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 3u);
  EXPECT_EQ(FreeImage_GetHeight(frame.m_result), 2u);
  EXPECT_TRUE(prompts.empty());
}

TEST_F(ResizeFrameTest, EnterInThePercentBoxStartsResize) {
  Load(MakePicture(20, 10));
  frame.m_percentEdit->setText("300%");
  frame.m_percentEdit->setFocus();
  QTest::keyClick(frame.m_percentEdit, Qt::Key_Return);
  QCoreApplication::processEvents();
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 60u);
}

TEST_F(ResizeFrameTest, OddSourceAt150GivesTruncatedTarget) {
  Load(MakePicture(333, 333));
  Resize("150%");
  EXPECT_EQ(frame.m_resultWidth, 499);
  EXPECT_EQ(frame.m_resultHeight, 499);
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 499u);
  EXPECT_EQ(FreeImage_GetHeight(frame.m_result), 499u);
  EXPECT_EQ(FreeImage_GetBPP(frame.m_result), 24u);
}

TEST_F(ResizeFrameTest, StateRightAfterASuccessfulJob) {
  Load(MakePicture(40, 30));
  Resize("200%");
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(frame.m_worker, nullptr);
  EXPECT_TRUE(LockIsFree());
  EXPECT_EQ(frame.m_rightView->Image(), frame.m_result);
  EXPECT_TRUE(frame.UIIsEnabled(ids::FileSaveResizedAs));
  EXPECT_TRUE(frame.UIIsEnabled(ids::SyncScroll));
  EXPECT_TRUE(frame.UIIsEnabled(ids::SyncZoom));
  EXPECT_TRUE(frame.m_syncScroll);
  EXPECT_TRUE(frame.m_syncZoom);
  EXPECT_TRUE(frame.UIIsChecked(ids::SyncScroll));
  EXPECT_TRUE(frame.UIIsChecked(ids::SyncZoom));
  EXPECT_EQ(frame.m_activePane, 1);
  EXPECT_EQ(frame.m_activeView, frame.m_rightView);
  EXPECT_DOUBLE_EQ(frame.m_rightView->GetZoom(), 1.0);
  EXPECT_DOUBLE_EQ(frame.m_leftView->GetZoom(), 2.0);
  EXPECT_FALSE(frame.m_resultSaved);
  EXPECT_EQ(frame.windowTitle(), "Magnova");
  EXPECT_FALSE(frame.m_progressDlg->IsWindow());
}

// XMP is the source's text, hostile or not: a packet of 40,000 digits is
// sized anew for the result, and one larger than is carried stays behind
// with a word in the status bar. The job ends either way.
TEST_F(ResizeFrameTest, HostileXmpIsCarriedOrLeftOutWithAWord) {
  const struct {
    std::string xmp;
    const char* kept;  // in the result's XMP; null when none is carried
  } cases[] = {
      {"<d exif:PixelXDimension=\"" + std::string(40000, '9') + "\"/>",
       "<d exif:PixelXDimension=\"80\"/>"},
      {std::string((size_t{5} << 20), 'x'), nullptr},
  };
  for (const auto& c : cases) {
    FIBITMAP* source = MakePicture(40, 30);
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, "XMLPacket");
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagCount(tag, DWORD(c.xmp.size() + 1));
    FreeImage_SetTagLength(tag, DWORD(c.xmp.size() + 1));
    FreeImage_SetTagValue(tag, c.xmp.c_str());
    FreeImage_SetMetadata(FIMD_XMP, source, "XMLPacket", tag);
    FreeImage_DeleteTag(tag);
    Load(source);
    frame.m_readyLabel->setText("Ready");
    Resize("200%");
    ASSERT_NE(frame.m_result, nullptr);
    FITAG* carried = nullptr;
    FreeImage_GetMetadata(FIMD_XMP, frame.m_result, "XMLPacket", &carried);
    if (c.kept) {
      ASSERT_NE(carried, nullptr);
      EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(carried)), c.kept);
      EXPECT_EQ(frame.m_readyLabel->text(), "Ready");
    } else {
      EXPECT_EQ(carried, nullptr);
      EXPECT_EQ(frame.m_readyLabel->text(),
                "The XMP metadata (over 4 MB) was left out of the result.");
    }
  }
}

// No thread to be had: an "Error" box, and Resize, Open and Save leave the
// frame as it was before the command.
TEST_F(ResizeFrameTest, WorkerThatCannotStartLeavesEverythingAsItWas) {
  Load(MakePicture(64, 48));
  Resize("150%");
  FIBITMAP* result = frame.m_result;
  ASSERT_NE(result, nullptr);
  for (int command : {ids::Resize, ids::FileOpen, ids::FileSaveResizedAs}) {
    SCOPED_TRACE(command);
    prompts.clear();
    platform::CJob::RefuseNextStarts(1);
    answer = ids::IdOk;
    platform::ScopedPromptResponder files{[&](const platform::PromptRecord& record) {
      prompts.push_back(record);
      // The file dialogs choose a file; every box is answered OK.
      if (record.kind == platform::PromptRecord::Message)
        return platform::PromptAnswer{ids::IdOk, std::nullopt};
      return platform::PromptAnswer{0, platform::FileChoice{QStringLiteral("/tmp/x.png"), 4}};
    }};
    frame.m_resultSaved = true;
    frame.OnCommand(command);
    QCoreApplication::processEvents();
    ASSERT_FALSE(prompts.empty());
    EXPECT_EQ(prompts.back().caption, "Error");
    EXPECT_EQ(prompts.back().icon, platform::MbIcon::Error);
    EXPECT_EQ(frame.m_result, result);
    EXPECT_EQ(frame.m_rightView->Image(), result);
    EXPECT_NE(frame.m_source, nullptr);
    EXPECT_EQ(frame.m_worker, nullptr);
    EXPECT_TRUE(frame.UIIsEnabled(ids::FileSaveResizedAs));
    EXPECT_TRUE(frame.m_syncScroll);
    EXPECT_EQ(frame.windowTitle(), "Magnova");
  }
}

TEST_F(ResizeFrameTest, MemoryQuestionOnlyAboveHundredPercent) {
  Load(MakePicture(200, 100));
  frame.m_memoryStatus = [] { return std::optional<uint64_t>(0); };
  for (const char* text : {"100%", "50%", "1%"}) {
    Resize(text);
    EXPECT_TRUE(prompts.empty()) << text;
    EXPECT_FALSE(frame.m_cropToBudget);
    EXPECT_NE(frame.m_result, nullptr) << text;
  }
  FIBITMAP* previous = frame.m_result;
  // Not even a one-pixel crop fits: said at once, nothing allocated or changed.
  Resize("101%");
  ASSERT_EQ(prompts.size(), 1u);
  // The written message, then what would run whole: nothing above 100 %.
  const char* largest = "The largest enlargement that fits in the memory available now is 100%.";
  EXPECT_EQ(prompts[0].text,
            QStringLiteral("There is not enough memory to enlarge the picture to 202 x 101 "
                           "pixels.\n") +
                largest);
  EXPECT_EQ(frame.m_readyLabel->text(), largest);
  EXPECT_EQ(prompts[0].caption, "Memory allocation error");
  EXPECT_EQ(frame.m_result, previous);
  prompts.clear();
  // A crop fits: the question.
  frame.m_memoryStatus = [] { return std::optional<uint64_t>(300'000); };
  answer = ids::IdNo;
  Resize("101%");
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text,
            "Avaible memory is not quite enough.\nThe operation may take a long time.\n\nDo you "
            "want to continue?");
  EXPECT_EQ(prompts[0].caption, "WARNING");
  EXPECT_EQ(prompts[0].icon, platform::MbIcon::Question);
  EXPECT_EQ(prompts[0].buttons, platform::MbButtons::YesNo);
  // No: only the target size has changed.
  EXPECT_EQ(frame.m_resultWidth, 202);
  EXPECT_EQ(frame.m_result, previous);
  EXPECT_DOUBLE_EQ(frame.m_scale, 0.01);
}

// Red border, blue inside: a cropped enlargement has blue corners.
FIBITMAP* FramedPicture() {
  FIBITMAP* bitmap = FreeImage_Allocate(40, 40, 24);
  for (unsigned y = 0; y < 40; ++y)
    for (unsigned x = 0; x < 40; ++x) {
      const bool border = x < 6 || y < 6 || x >= 34 || y >= 34;
      RGBQUAD colour{static_cast<BYTE>(border ? 0 : 255), 0, static_cast<BYTE>(border ? 255 : 0),
                     0};
      FreeImage_SetPixelColor(bitmap, x, y, &colour);
    }
  return bitmap;
}

TEST_F(ResizeFrameTest, CropRunThenRunThatFitsTakesTheWholeSource) {
  Load(FramedPicture());
  // 80 x 80 needs 70 400 bytes besides the region copy, 76 800 in all; seven
  // eighths of 84 000 leave room for a centre of about 27 x 27 inside the border,
  // a budget of four times that in target pixels.
  frame.m_memoryStatus = [] { return std::optional<uint64_t>(84'000); };
  answer = ids::IdYes;
  Resize("200%");
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_TRUE(frame.m_cropToBudget);
  EXPECT_GT(frame.m_pixelBudget, 27u * 27 * 4);
  EXPECT_LT(frame.m_pixelBudget, 28u * 28 * 4);
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 80u);
  RGBQUAD corner;
  FreeImage_GetPixelColor(frame.m_result, 0, 0, &corner);
  EXPECT_GT(corner.rgbBlue, 200);
  EXPECT_LT(corner.rgbRed, 50);

  prompts.clear();
  frame.m_memoryStatus = nullptr;
  Resize("200%");
  EXPECT_TRUE(prompts.empty());
  EXPECT_FALSE(frame.m_cropToBudget);
  ASSERT_NE(frame.m_result, nullptr);
  FreeImage_GetPixelColor(frame.m_result, 0, 0, &corner);
  EXPECT_GT(corner.rgbRed, 200);
  EXPECT_LT(corner.rgbBlue, 50);
}

TEST_F(ResizeFrameTest, TitleShowsTheOverallBarNeverHundred) {
  frame.m_progressDlg = new CProgressDlg(&frame);
  frame.m_progressDlg->m_notifyWnd = &frame;
  frame.m_progressDlg->m_doneMsg = WM_RESIZE_DONE;
  std::vector<QString> titles;
  QTimer::singleShot(0, &frame, [&] {
    frame.OnJobTimer(frame.m_timerId);
    titles.push_back(frame.windowTitle());
    for (int stage = 3; stage <= 17; ++stage) {
      frame.m_progressDlg->Update(stage, 0);
      frame.OnJobTimer(frame.m_timerId);
      titles.push_back(frame.windowTitle());
    }
    frame.m_progressDlg->Button(1007)->click();
    frame.OnJobTimer(frame.m_timerId);
    titles.push_back(frame.windowTitle());
    frame.OnJobTimer(frame.m_timerId + 1);
    titles.push_back(frame.windowTitle());
    frame.m_progressDlg->EndDialog(0);
  });
  frame.m_progressDlg->DoModal();
  ASSERT_EQ(titles.size(), 18u);
  EXPECT_EQ(titles[0], "Magnova [6%] .");
  EXPECT_EQ(titles[1], "Magnova [13%]  .");
  EXPECT_EQ(titles[2], "Magnova [20%]   .");
  EXPECT_EQ(titles[3], "Magnova [26%]     .");
  EXPECT_EQ(titles[4], "Magnova [33%] .");
  EXPECT_EQ(titles[13], "Magnova [93%]  .");
  EXPECT_EQ(titles[14], "Magnova [99%]   .");
  EXPECT_EQ(titles[15], "Magnova [99%]     .");
  EXPECT_EQ(titles[16], "Magnova [99%]  - paused");
  EXPECT_EQ(titles[17], titles[16]) << "another timer's tick changes nothing";
}

TEST_F(ResizeFrameTest, PauseTwiceThenAbortWhilePausedEndsTheJob) {
  Load(MakePicture(600, 400));
  int stepWhilePaused = -1;
  WhileJobRuns([&] {
    CProgressDlg* dlg = frame.m_progressDlg;
    dlg->Button(1007)->click();
    dlg->Button(1007)->click();
    EXPECT_TRUE(dlg->m_running);
    EXPECT_EQ(dlg->Button(1007)->text(), "Pause");
    dlg->Button(1007)->click();
    EXPECT_EQ(dlg->Button(1007)->text(), "Resume");
    QTest::qWait(50);
    stepWhilePaused = dlg->m_stepBar->value();
    const int stage = dlg->Stage();
    QTest::qWait(200);
    EXPECT_EQ(dlg->m_stepBar->value(), stepWhilePaused) << "no report passes the pause";
    EXPECT_EQ(dlg->Stage(), stage);
    dlg->Button(1002)->click();
  });
  Resize("400%");
  EXPECT_NE(stepWhilePaused, -1);
  // The given-up worker ends by itself; the next command waits for it.
  frame.EndWorker();
  EXPECT_EQ(frame.m_worker, nullptr);
  EXPECT_EQ(frame.m_result, nullptr);
  EXPECT_TRUE(frame.m_resultSaved);
  EXPECT_FALSE(frame.UIIsEnabled(ids::FileSaveResizedAs));
  EXPECT_FALSE(frame.UIIsEnabled(ids::SyncScroll));
  EXPECT_EQ(frame.m_rightView->Image(), nullptr);
  EXPECT_EQ(frame.windowTitle(), "Magnova");
  EXPECT_TRUE(LockIsFree());
  EXPECT_TRUE(prompts.empty());
  // Straight away another job runs to its end.
  Resize("150%");
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 900u);
}

// Abort at a random moment of a large enlargement, again and again.
TEST_F(ResizeFrameTest, AbortAtRandomMomentsLeavesTheProgramUsable) {
#if defined(__SANITIZE_ADDRESS__)
  const unsigned side = 700;  // 2 megapixels at 200 %
#else
  const unsigned side = 2236;  // 20 megapixels at 200 %
#endif
  Load(MakePicture(side, side));
  std::mt19937 random(42);
  for (int round = 0; round < 50; ++round) {
    const int delayMs = static_cast<int>(random() % 400);
    WhileJobRuns([&, delayMs] {
      // Only this round's job: a job that ends first must not leave its Abort
      // to the next one, which reuses the dialog.
      std::weak_ptr<platform::CJob> armedFor = frame.m_worker;
      QTimer::singleShot(delayMs, frame.m_progressDlg, [&, armedFor] {
        if (frame.m_progressDlg->IsWindow() && frame.m_worker == armedFor.lock())
          frame.m_progressDlg->Button(1002)->click();
      });
    });
    Resize("200%");
    frame.EndWorker();
    ASSERT_EQ(frame.m_worker, nullptr) << "round " << round;
    ASSERT_TRUE(LockIsFree()) << "round " << round;
    ASSERT_TRUE(prompts.empty()) << "round " << round;
    EXPECT_EQ(frame.m_resultSaved, frame.m_result == nullptr) << "round " << round;
  }
  Load(MakePicture(50, 40));
  Resize("200%");
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 100u);
}

TEST_F(ResizeFrameTest, OtherInThePercentBoxCommitsOrRestores) {
  Load(MakePicture(64, 48));
  frame.m_percentCombo->setEnabled(true);
  frame.m_percentEdit->setText("300%");
  const int other = frame.m_percentCombo->count() - 1;
  auto chooseOther = [&](std::function<void(CResizeDlg&)> inDialog) {
    frame.m_percentCombo->setCurrentIndex(other);
    QTimer::singleShot(0, &frame, [this, inDialog] {
      CResizeDlg* dialog = nullptr;
      for (QDialog* child : frame.findChildren<QDialog*>())
        if (auto* resize = dynamic_cast<CResizeDlg*>(child); resize && resize->isVisible())
          dialog = resize;
      ASSERT_NE(dialog, nullptr);
      inDialog(*dialog);
    });
    frame.OnPercentComboCommand(1, other);
  };

  chooseOther([](CResizeDlg& d) {
    EXPECT_EQ(d.Box(1002)->text(), "200");
    EXPECT_EQ(d.Box(1000)->text(), "128");
    d.reject();
  });
  QCoreApplication::processEvents();
  EXPECT_EQ(frame.m_percentEdit->text(), "300%");
  EXPECT_EQ(frame.m_result, nullptr);

  chooseOther([](CResizeDlg& d) {
    d.Box(1002)->setText("150");
    d.OkButton()->click();
  });
  EXPECT_EQ(frame.m_result, nullptr) << "the resize waits for the posted commit";
  QCoreApplication::processEvents();
  EXPECT_EQ(frame.m_percentEdit->text(), "150%");
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 96u);

  // Any other item, or another notification, opens nothing.
  const QString shown = frame.m_percentEdit->text();
  frame.OnPercentComboCommand(1, 0);
  frame.OnPercentComboCommand(0, other);
  QCoreApplication::processEvents();
  EXPECT_EQ(frame.m_percentEdit->text(), shown);
}

TEST_F(ResizeFrameTest, TypedSideInOtherIsMadeExactlyAndThePercentKeepsItsName) {
  Load(MakePicture(64, 48));
  frame.m_percentCombo->setEnabled(true);
  const int other = frame.m_percentCombo->count() - 1;
  // Sides by hand: 100 x 48 / 64 = 75; 64 x 100 / 48 = 133.3. The whole
  // percents (156, 208) alone would give 99 x 74 and 133 x 99.
  struct Case {
    int box;
    const char* typed;
    const char* percentText;
    double scale;
    unsigned width, height;
  };
  for (const Case& c :
       {Case{1000, "100", "156%", 1.56, 100, 75}, Case{1001, "100", "208%", 2.08, 133, 100}}) {
    frame.m_percentCombo->setCurrentIndex(other);
    QTimer::singleShot(0, &frame, [this, c] {
      for (QDialog* child : frame.findChildren<QDialog*>())
        if (auto* d = dynamic_cast<CResizeDlg*>(child); d && d->isVisible()) {
          d->Box(c.box)->setText(c.typed);
          d->OkButton()->click();
        }
    });
    frame.OnPercentComboCommand(1, other);
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.m_percentEdit->text(), c.percentText);
    EXPECT_DOUBLE_EQ(frame.m_scale, c.scale);
    ASSERT_NE(frame.m_result, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(frame.m_result), c.width) << c.box;
    EXPECT_EQ(FreeImage_GetHeight(frame.m_result), c.height) << c.box;
  }
  // Resize started from the box again makes the whole percent.
  Resize("208%");
  ASSERT_NE(frame.m_result, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(frame.m_result), 133u);
  EXPECT_EQ(FreeImage_GetHeight(frame.m_result), 99u);
}

// Last: closing the main window ends the application's event loops for
// the rest of the process.
TEST_F(ResizeFrameTest, ClosingTheWindowDuringAJobEndsQuietly) {
  Load(MakePicture(800, 600));
  WhileJobRuns([&] { QTimer::singleShot(100, &frame, [&] { frame.close(); }); });
  QElapsedTimer timer;
  timer.start();
  Resize("500%");
  EXPECT_LT(timer.elapsed(), 30000);
  EXPECT_FALSE(frame.isVisible());
  EXPECT_TRUE(prompts.empty());
  EXPECT_FALSE(frame.m_progressDlg->IsWindow());
}

}  // namespace
