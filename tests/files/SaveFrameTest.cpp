// Saving through the running frame: the proposal, the file types, the
// extension rule, the replace question, failures and Abort.
#include <QLabel>
#include <cstdio>
#include <QPushButton>
#include <QComboBox>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include "FrameHarness.h"
#include "files/CJpegOptionsDlg.h"
#include "TestImages.h"
#include "platform/FrameMessages.h"
#include "views/CEnlargerView.h"

namespace {

using platform::PromptRecord;
using testimages::TempDir;

class SaveFrameTest : public testing::Test {
 protected:
  void SetUp() override { GiveResult(testimages::MakePattern(41, 27, 24)); }

  // Gives the frame a result as a finished resize leaves it.
  void GiveResult(FIBITMAP* result, double scale = 2.0) {
    m_frame->View(1)->SetImage(result);
    if (m_frame->m_result) FreeImage_Unload(m_frame->m_result);
    m_frame->m_result = result;
    m_frame->m_scale = scale;
    m_frame->m_resultSaved = false;
    m_frame->m_sourcePath = "/pictures/holiday.jpg";
  }

  // Answers the save dialog with path and type, and any question after it
  // with then (0 for none).
  void Save(const std::string& path, int format, int then = 0) {
    m_prompts.File(path, format);
    if (then != 0) m_prompts.Button(then);
    ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnSaveResizedAs(); }));
  }

  // The proposal the save dialog was given last.
  QString LastProposal() const {
    for (auto it = m_prompts.shown.rbegin(); it != m_prompts.shown.rend(); ++it) {
      if (it->kind == PromptRecord::SaveFile) return it->text;
    }
    return {};
  }

  TempDir m_dir;
  harness::Prompts m_prompts;
  std::unique_ptr<CMainFrame> m_frame = std::make_unique<CMainFrame>();
};

TEST_F(SaveFrameTest, ProposalComesFromSourceNameAndPercentOfTheResult) {
  m_frame->m_sourcePath = "/d/a/b.c/shot";
  m_frame->m_scale = 3.0;
  m_prompts.CancelDialog();
  m_frame->OnSaveResizedAs();
  EXPECT_EQ(LastProposal(), "shot_300percents");

  m_frame->m_sourcePath = "/x/archive.tar.png";
  m_frame->m_scale = 1.5;
  Save(m_dir.File("first"), 4);
  // Saving again proposes the default again, not the name used last.
  m_prompts.CancelDialog();
  m_frame->OnSaveResizedAs();
  EXPECT_EQ(LastProposal(), "archive.tar_150percents");

  const PromptRecord& dialog = m_prompts.shown.back();
  ASSERT_EQ(dialog.filters.size(), 4u);
  EXPECT_EQ(dialog.filters[0].description, "JPEGs (*.jpg, *.jpeg)");
  EXPECT_EQ(dialog.filters[0].patterns, "*.jpg;*.jpeg");
  EXPECT_EQ(dialog.filters[1].description, "Bitmaps (*.bmp)");
  EXPECT_EQ(dialog.filters[2].description, "TIFFs (*.tif)");
  EXPECT_EQ(dialog.filters[3].description, "PNGs (*.png)");
  EXPECT_EQ(dialog.filters[3].patterns, "*.png");
}

TEST_F(SaveFrameTest, NoResultDoesNothing) {
  m_frame->View(1)->SetImage(nullptr);
  FreeImage_Unload(m_frame->m_result);
  m_frame->m_result = nullptr;
  m_frame->OnSaveResizedAs();
  EXPECT_TRUE(m_prompts.shown.empty());
}

struct WrittenCase {
  const char* label;
  const char* typed;
  int format;
  const char* written;
  FREE_IMAGE_FORMAT fif;
};

class SaveExtensionTest : public SaveFrameTest, public testing::WithParamInterface<WrittenCase> {};

TEST_P(SaveExtensionTest, WritesTheResultUnderTheRuledName) {
  const WrittenCase& c = GetParam();
  Save(m_dir.File(c.typed), c.format);
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  EXPECT_TRUE(m_frame->m_resultSaved);
  // The name as chosen is kept; only the written file carries the extension.
  EXPECT_EQ(m_frame->m_savePath, m_dir.File(c.typed));
  EXPECT_EQ(m_frame->m_saveFormat, c.format);
  // Only the written file is in the folder: no temporary file is left.
  EXPECT_EQ(testimages::CountEntries(m_dir.Path()), 1);

  std::string written = m_dir.File(c.written);
  ASSERT_EQ(FreeImage_GetFileType(written.c_str(), 0), c.fif);
  FIBITMAP* reread = FreeImage_Load(c.fif, written.c_str(), 0);
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(reread), 41u);
  EXPECT_EQ(FreeImage_GetHeight(reread), 27u);
  if (c.fif != FIF_JPEG) {
    EXPECT_TRUE(testimages::SamePixels(m_frame->m_result, reread));
  }
  FreeImage_Unload(reread);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SaveExtensionTest,
    testing::Values(WrittenCase{"JpegAppended", "out", 1, "out.jpg", FIF_JPEG},
                    WrittenCase{"JpegUpperKept", "out.JPEG", 1, "out.JPEG", FIF_JPEG},
                    WrittenCase{"JpegMixedKept", "out.Jpg", 1, "out.Jpg", FIF_JPEG},
                    WrittenCase{"JpegAfterPng", "out.png", 1, "out.png.jpg", FIF_JPEG},
                    WrittenCase{"TiffAppended", "scan", 3, "scan.tif", FIF_TIFF},
                    WrittenCase{"TiffLongKept", "scan.tiff", 3, "scan.tiff", FIF_TIFF},
                    WrittenCase{"BmpAfterTxt", "x.bmp.txt", 2, "x.bmp.txt.bmp", FIF_BMP},
                    WrittenCase{"PngKept", "p.png", 4, "p.png", FIF_PNG}),
    [](const testing::TestParamInfo<WrittenCase>& info) { return info.param.label; });

// A profile that PNG cannot take (its length disagrees with its header)
// costs only itself: the picture is saved, reopens, and the status bar says
// what was left out. JPEG keeps the profile as it stands.
TEST_F(SaveFrameTest, ProfilePngCannotTakeIsLeftOutWithAWord) {
  std::vector<uint8_t> profile = testimages::IccProfile();
  profile[3] = 200;  // declares 200 bytes, holds 164
  FreeImage_CreateICCProfile(m_frame->m_result, profile.data(), long(profile.size()));
  Save(m_dir.File("p.png"), 4);
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  EXPECT_TRUE(m_frame->m_resultSaved);
  EXPECT_EQ(m_frame->m_readyLabel->text(),
            "The colour profile was left out of the file: PNG cannot hold this profile.");
  FIBITMAP* reread = FreeImage_Load(FIF_PNG, m_dir.File("p.png").c_str(), 0);
  ASSERT_NE(reread, nullptr);
  EXPECT_TRUE(testimages::SamePixels(m_frame->m_result, reread));
  EXPECT_EQ(FreeImage_GetICCProfile(reread)->size, 0);
  FreeImage_Unload(reread);

  m_frame->m_readyLabel->setText("Ready");
  Save(m_dir.File("p.jpg"), 1);
  EXPECT_EQ(m_frame->m_readyLabel->text(), "Ready");
  FIBITMAP* jpeg = FreeImage_Load(FIF_JPEG, m_dir.File("p.jpg").c_str(), 0);
  ASSERT_NE(jpeg, nullptr);
  EXPECT_EQ(FreeImage_GetICCProfile(jpeg)->size, long(profile.size()));
  FreeImage_Unload(jpeg);
}

// The question names the file that the type's extension makes, which is
// the one written; No goes back to the save dialog with what was chosen.
TEST_F(SaveFrameTest, TheFileAskedAboutIsTheFileWritten) {
  const std::string png = m_dir.File("soft_200.png");
  const std::string jpg = m_dir.File("soft_200.png.jpg");
  testimages::WriteAll(png, "the png");
  testimages::WriteAll(jpg, "the jpg");
  auto run = [&] {
    ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnSaveResizedAs(); }));
  };
  auto expectQuestionAbout = [&](size_t at, const QString& name) {
    ASSERT_GT(m_prompts.shown.size(), at);
    const PromptRecord& question = m_prompts.shown[at];
    EXPECT_EQ(question.kind, PromptRecord::Message);
    EXPECT_EQ(question.caption, "Confirm");
    EXPECT_EQ(question.buttons, platform::MbButtons::YesNo);
    EXPECT_EQ(question.text, name + " already exists.\nDo you want to replace it?");
  };

  // soft_200.png typed with the JPEG type: asked about soft_200.png.jpg; No
  // shows the dialog again, in the same folder with the same name and type.
  m_prompts.File(png, 1);
  m_prompts.Button(ids::IdNo);
  m_prompts.CancelDialog();
  run();
  ASSERT_EQ(m_prompts.shown.size(), 3u);
  expectQuestionAbout(1, "soft_200.png.jpg");
  EXPECT_EQ(m_prompts.shown[2].kind, PromptRecord::SaveFile);
  EXPECT_EQ(m_prompts.shown[2].text, "soft_200.png");
  EXPECT_EQ(m_prompts.shown[2].folder, QString::fromStdString(m_dir.Path()));
  EXPECT_EQ(m_prompts.shown[2].filterIndex, 1);
  EXPECT_EQ(testimages::ReadAll(jpg), "the jpg");
  EXPECT_FALSE(m_frame->m_resultSaved);

  // Yes replaces exactly that file.
  m_prompts.shown.clear();
  m_prompts.File(png, 1);
  m_prompts.Button(ids::IdYes);
  run();
  expectQuestionAbout(1, "soft_200.png.jpg");
  EXPECT_EQ(FreeImage_GetFileType(jpg.c_str(), 0), FIF_JPEG);
  EXPECT_EQ(testimages::ReadAll(png), "the png");
  EXPECT_TRUE(m_frame->m_resultSaved);

  // A name that already ends in the type's extension is asked about too.
  m_prompts.shown.clear();
  m_prompts.File(png, 4);
  m_prompts.Button(ids::IdYes);
  run();
  ASSERT_EQ(m_prompts.shown.size(), 2u);
  expectQuestionAbout(1, "soft_200.png");
  EXPECT_EQ(FreeImage_GetFileType(png.c_str(), 0), FIF_PNG);

  // Only an existing file is asked about.
  std::remove(jpg.c_str());
  m_prompts.shown.clear();
  m_prompts.File(png, 1);
  run();
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  EXPECT_EQ(FreeImage_GetFileType(jpg.c_str(), 0), FIF_JPEG);
}

TEST_F(SaveFrameTest, FailedSaveLeavesTheOldFileAndAsksAgainLater) {
  std::string existing = m_dir.File("keep.jpg");
  testimages::WriteAll(existing, "the old picture");
  // Complex samples have no picture that JPEG could hold.
  GiveResult(FreeImage_AllocateT(FIT_COMPLEX, 12, 9));
  Save(existing, 1, ids::IdYes);

  // The replace question, then the failure.
  ASSERT_EQ(m_prompts.Count(PromptRecord::Message), 2);
  const PromptRecord& error = m_prompts.shown.back();
  EXPECT_EQ(error.text, "Can't save image.");
  EXPECT_EQ(error.caption, "Error");
  EXPECT_EQ(error.icon, platform::MbIcon::Error);
  EXPECT_EQ(error.buttons, platform::MbButtons::Ok);
  EXPECT_EQ(testimages::ReadAll(existing), "the old picture");
  EXPECT_EQ(testimages::CountEntries(m_dir.Path()), 1);
  EXPECT_FALSE(m_frame->m_resultSaved);

  // An unwritable place fails the same way.
  m_prompts.shown.clear();
  Save(m_dir.File("no-such-folder/out.png"), 4);
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 1);
  EXPECT_FALSE(m_frame->m_resultSaved);
  // The result is still unsaved, so it is asked about again.
  m_prompts.Button(ids::IdCancel);
  EXPECT_FALSE(m_frame->SettleUnsavedResult());
  EXPECT_EQ(m_prompts.shown.back().text, "Do you want to save the resized image?");
}

// The box stays as it was; the status bar says why, with the file's name.
// A picture too large for the chosen type is refused before any work.
TEST_F(SaveFrameTest, FailureSaysWhyInTheStatusBar) {
  const std::string longName(300, 'n');
  const struct {
    int width;
    std::string typed;
    int type;
    QString box;
    QString status;
  } cases[] = {
      {65501, "wide", 1,
       "Can't save image.\n\nJPEG holds at most 65,500 pixels a side; the picture is 65,501 "
       "\u00d7 2 pixels.",
       "Cannot save wide.jpg: too large for its format: JPEG holds at most 65,500 pixels a side; "
       "the picture is 65,501 \u00d7 2 pixels."},
      {41, "no-such-folder/out", 4, "Can't save image.",
       "Cannot save out.png: its folder does not exist."},
      {41, longName, 4, "Can't save image.",
       QString::fromStdString("Cannot save " + longName + ".png: the name is not valid.")},
  };
  for (const auto& c : cases) {
    GiveResult(testimages::MakePattern(c.width, 2, 24));
    m_prompts.shown.clear();
    Save(m_dir.File(c.typed), c.type);
    ASSERT_EQ(m_prompts.Count(PromptRecord::Message), 1) << c.typed;
    EXPECT_EQ(m_prompts.Count(PromptRecord::Dialog), 0) << c.typed;
    EXPECT_EQ(m_prompts.shown.back().text, c.box);
    EXPECT_EQ(m_frame->m_readyLabel->text(), c.status);
    EXPECT_FALSE(m_frame->m_resultSaved);
    EXPECT_EQ(testimages::CountEntries(m_dir.Path()), 0);
  }
}

// The JPEG options come right after the save dialog, reach the file as
// ImageMagick reads it, and are offered again by the next run.
TEST_F(SaveFrameTest, JpegOptionsAreAskedKeptAndWritten) {
  m_prompts.dialogAnswer = [](const PromptRecord& record) {
    auto* dialog = dynamic_cast<CJpegOptionsDlg*>(record.owner);
    if (dialog) {
      dialog->QualityBox()->setValue(91);
      dialog->SubsamplingBox()->setCurrentIndex(1);
    }
    return platform::PromptAnswer{dialog ? ids::IdOk : ids::IdCancel, std::nullopt};
  };
  Save(m_dir.File("first"), 1);
  ASSERT_TRUE(m_frame->m_resultSaved);
  EXPECT_EQ(m_prompts.shown.back().caption, "JPEG Options");
  EXPECT_EQ(testimages::CommandOutput("identify -format '%Q %[jpeg:sampling-factor]' " +
                                      m_dir.File("first.jpg")),
            "91 1x1,1x1,1x1");

  // A new run offers what was chosen; accepted as it stands, it is written.
  m_frame = std::make_unique<CMainFrame>();
  GiveResult(testimages::MakePattern(41, 27, 24));
  int offered = 0;
  bool whole = false;
  m_prompts.dialogAnswer = [&](const PromptRecord& record) {
    auto* dialog = dynamic_cast<CJpegOptionsDlg*>(record.owner);
    offered = dialog ? dialog->QualityBox()->value() : 0;
    whole = dialog && dialog->SubsamplingBox()->currentIndex() == 1;
    return platform::PromptAnswer{ids::IdOk, std::nullopt};
  };
  Save(m_dir.File("second"), 1);
  EXPECT_EQ(offered, 91);
  EXPECT_TRUE(whole);
  EXPECT_EQ(testimages::CommandOutput("identify -format '%Q %[jpeg:sampling-factor]' " +
                                      m_dir.File("second.jpg")),
            "91 1x1,1x1,1x1");

  // Cancelled, nothing is saved.
  m_prompts.dialogAnswer = [](const PromptRecord&) {
    return platform::PromptAnswer{ids::IdCancel, std::nullopt};
  };
  m_frame->m_resultSaved = false;
  Save(m_dir.File("third"), 1);
  EXPECT_FALSE(m_frame->m_resultSaved);
  EXPECT_FALSE(testimages::Exists(m_dir.File("third.jpg")));
  // Later tests of this run start from the default again.
  files::WriteJpegChoices({});
}

// An enlargement of a 16-bit picture is made in 8 bits: its first save says
// so, later saves of the same result and saved reductions do not.
TEST_F(SaveFrameTest, SixteenBitSourceSavedInEightBitsIsToldOnce) {
  m_frame->m_source = testimages::MakePatternOfType(FIT_RGB16, 20, 14);
  const QString note = QStringLiteral(
      "Saved with 8 bits a channel: enlargements are made in 8 bits, the source has 16.");
  const struct {
    double scale;
    bool fresh;  // a new result
    bool told;
  } cases[] = {{2.0, true, true}, {2.0, false, false}, {2.0, true, true}, {0.5, true, false}};
  int n = 0;
  for (const auto& c : cases) {
    if (c.fresh) GiveResult(testimages::MakePattern(41, 27, 24), c.scale);
    m_frame->m_readyLabel->setText("Ready");
    Save(m_dir.File("deep" + std::to_string(n++)), 4);
    ASSERT_TRUE(m_frame->m_resultSaved);
    EXPECT_EQ(m_frame->m_readyLabel->text(), c.told ? note : QStringLiteral("Ready")) << n;
  }
}

// A JPEG saved well below the source's quality earns a word; near or above
// it, none.
TEST_F(SaveFrameTest, QualityWellBelowTheSourcesIsTold) {
  const std::string source = m_dir.File("source.jpg");
  FIBITMAP* picture = testimages::MakePattern(20, 14, 24);
  ASSERT_TRUE(FreeImage_Save(FIF_JPEG, picture, source.c_str(), 90));
  FreeImage_Unload(picture);
  const struct {
    int quality;
    QString status;
  } cases[] = {
      {60,
       "Saved at JPEG quality 60, well below the source's (about 90): fine detail may be lost."},
      {85, "Ready"},
      {100, "Ready"},
  };
  for (const auto& c : cases) {
    GiveResult(testimages::MakePattern(41, 27, 24));
    m_frame->m_sourcePath = source;
    m_prompts.dialogAnswer = [&c](const PromptRecord& record) {
      if (auto* dialog = dynamic_cast<CJpegOptionsDlg*>(record.owner))
        dialog->QualityBox()->setValue(c.quality);
      return platform::PromptAnswer{ids::IdOk, std::nullopt};
    };
    Save(m_dir.File("q" + std::to_string(c.quality)), 1);
    ASSERT_TRUE(m_frame->m_resultSaved);
    EXPECT_EQ(m_frame->m_readyLabel->text(), c.status) << c.quality;
  }
  files::WriteJpegChoices({});
}

TEST_F(SaveFrameTest, LongUtf8PathSaves) {
  std::string folder = m_dir.Path();
  for (int i = 0; i < 5; ++i) {
    folder += "/\xc3\xa9\xe5\x86\x99-" + std::string(50, 's');
    ::mkdir(folder.c_str(), 0700);
  }
  std::string typed = folder + "/\xe5\x86\x99\xe7\x9c\x9f";
  ASSERT_GT(typed.size(), 259u);
  Save(typed, 4);
  EXPECT_TRUE(m_frame->m_resultSaved);
  FIBITMAP* reread = FreeImage_Load(FIF_PNG, (typed + ".png").c_str(), 0);
  EXPECT_TRUE(testimages::SamePixels(m_frame->m_result, reread));
  FreeImage_Unload(reread);
}

TEST_F(SaveFrameTest, AbortWritesNothingAndSaysNothing) {
  std::string existing = m_dir.File("out.png");
  testimages::WriteAll(existing, "the old picture");
  {
    harness::LockHolder holder(m_frame->m_imageLock);
    std::shared_ptr<platform::CJob> job;
    QTimer::singleShot(50, m_frame.get(), [&] {
      ASSERT_TRUE(m_frame->m_waitDlg->isVisible());
      EXPECT_EQ(m_frame->m_waitDlg->TextLabel()->text(), "Saving picture...");
      job = m_frame->m_worker;
      holder.Watch(job);
      m_frame->m_waitDlg->AbortButton()->click();
    });
    Save(existing, 4, ids::IdYes);
    ASSERT_TRUE(job);
    // The given-up worker is kept until it has ended.
    EXPECT_EQ(m_frame->m_worker, job);
    m_frame->EndWorker();
    EXPECT_TRUE(job->HasEnded());
    EXPECT_EQ(m_frame->m_worker, nullptr);
  }
  harness::PumpUntil([] { return false; }, 100);
  // Only the replace question: no failure is reported.
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 1);
  EXPECT_FALSE(m_frame->m_resultSaved);
  EXPECT_EQ(testimages::ReadAll(existing), "the old picture");
  EXPECT_EQ(testimages::CountEntries(m_dir.Path()), 1);
}

// A save whose done message was posted before the Abort was handled counts
// as saved, whichever of the two messages comes first.
TEST_F(SaveFrameTest, SaveFinishedAtTheMomentOfAbortCountsInEitherOrder) {
  for (bool abortFirst : {false, true}) {
    SCOPED_TRACE(abortFirst ? "Abort first" : "worker first");
    m_frame->m_resultSaved = false;
    m_frame->m_savePath = m_dir.File(abortFirst ? "b" : "a");
    m_frame->m_saveFormat = 4;
    CMainFrame* frame = m_frame.get();
    auto job = platform::CJob::Prepare([frame](platform::CJob& j) { frame->SaveWorker(j); });
    m_frame->m_worker = job;
    if (abortFirst) platform::PostFrameMessage(m_frame.get(), WM_SAVE_DONE, 1, 0, job);
    job->Go();
    ASSERT_TRUE(job->WaitForEnd(std::chrono::seconds(10)));
    if (!abortFirst) platform::PostFrameMessage(m_frame.get(), WM_SAVE_DONE, 1, 0, job);
    ASSERT_TRUE(harness::PumpUntil([&] { return m_frame->m_resultSaved; }));
    harness::PumpUntil([] { return false; }, 50);
    EXPECT_EQ(m_frame->m_worker, nullptr);
    EXPECT_TRUE(testimages::Exists(m_frame->m_savePath + ".png"));
    EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  }
}

// An Abort for a job that is over, arriving while the next one runs,
// leaves the next one alone.
TEST_F(SaveFrameTest, LateAbortOfAnEndedJobLeavesTheNextAlone) {
  m_frame->m_savePath = m_dir.File("late");
  m_frame->m_saveFormat = 4;
  CMainFrame* frame = m_frame.get();
  auto over = platform::CJob::Start([](platform::CJob&) {});
  ASSERT_TRUE(over->WaitForEnd(std::chrono::seconds(10)));
  auto next = platform::CJob::Prepare([frame](platform::CJob& j) { frame->SaveWorker(j); });
  m_frame->m_worker = next;
  platform::PostFrameMessage(m_frame.get(), WM_SAVE_DONE, 1, 0, over);
  harness::PumpUntil([] { return false; }, 50);
  EXPECT_FALSE(next->IsAbandoned());
  next->Go();
  ASSERT_TRUE(harness::PumpUntil([&] { return m_frame->m_resultSaved; }));
  EXPECT_TRUE(testimages::Exists(m_frame->m_savePath + ".png"));
}

enum class Answer { YesThenCancel, YesThenFailedSave, YesThenSaved, No, Cancel };

struct UnsavedCase {
  const char* name;
  bool closing;  // else Open
  Answer answer;
  bool goesOn;
  bool saved;
};

class UnsavedResult : public SaveFrameTest, public testing::WithParamInterface<UnsavedCase> {};

// After Yes, closing or opening goes on only when the result was really saved.
TEST_P(UnsavedResult, GoesOnOnlyWhenNothingIsLost) {
  const UnsavedCase& c = GetParam();
  FIBITMAP* result = m_frame->m_result;
  const bool yes = c.answer != Answer::No && c.answer != Answer::Cancel;
  m_prompts.Button(yes ? ids::IdYes : c.answer == Answer::No ? ids::IdNo : ids::IdCancel);
  if (c.answer == Answer::YesThenCancel) m_prompts.CancelDialog();
  if (c.answer == Answer::YesThenFailedSave) m_prompts.File(m_dir.File("missing/out.png"), 4);
  if (c.answer == Answer::YesThenSaved) m_prompts.File(m_dir.File("out.png"), 4);
  if (!c.closing) m_prompts.CancelDialog();  // the open dialog, when it comes

  if (c.closing) {
    ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnClose(); }));
  } else {
    ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnFileOpen(); }));
  }

  const bool wentOn =
      c.closing ? m_frame->m_result == nullptr : m_prompts.Count(PromptRecord::OpenFile) == 1;
  EXPECT_EQ(wentOn, c.goesOn);
  if (!c.goesOn) {
    EXPECT_EQ(m_frame->m_result, result);
    EXPECT_EQ(m_frame->View(1)->Image(), result);
  }
  if (!c.closing) {
    EXPECT_EQ(m_frame->m_resultSaved, c.saved);
  }
  EXPECT_EQ(testimages::Exists(m_dir.File("out.png")), c.answer == Answer::YesThenSaved);
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), c.answer == Answer::YesThenFailedSave ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    CloseAndOpen, UnsavedResult,
    testing::Values(
        UnsavedCase{"CloseYesCancelledSave", true, Answer::YesThenCancel, false, false},
        UnsavedCase{"CloseYesFailedSave", true, Answer::YesThenFailedSave, false, false},
        UnsavedCase{"CloseYesSaved", true, Answer::YesThenSaved, true, true},
        UnsavedCase{"CloseNo", true, Answer::No, true, false},
        UnsavedCase{"CloseCancel", true, Answer::Cancel, false, false},
        UnsavedCase{"OpenYesCancelledSave", false, Answer::YesThenCancel, false, false},
        UnsavedCase{"OpenYesFailedSave", false, Answer::YesThenFailedSave, false, false},
        UnsavedCase{"OpenYesSaved", false, Answer::YesThenSaved, true, true},
        UnsavedCase{"OpenNo", false, Answer::No, true, false},
        UnsavedCase{"OpenCancel", false, Answer::Cancel, false, false}),
    [](const testing::TestParamInfo<UnsavedCase>& info) { return std::string(info.param.name); });

}  // namespace
