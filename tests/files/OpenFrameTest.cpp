// Opening through the running frame: prompts, dialogs, the worker and the
// states the frame ends up in.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <random>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "FrameHarness.h"
#include "TestImages.h"
#include "frame/CMyPaneContainer.h"
#include "platform/FrameMessages.h"
#include "views/CEnlargerView.h"

namespace {

using platform::PromptRecord;
using testimages::TempDir;

class OpenFrameTest : public testing::Test {
 protected:
  // Writes a small image of fif to name and returns its path.
  std::string ImageFile(const std::string& name, FREE_IMAGE_FORMAT fif = FIF_PNG, int bpp = 24) {
    FIBITMAP* bitmap = testimages::MakePattern(24, 16, bpp);
    std::string path = m_dir.File(name);
    testimages::Write(bitmap, fif, path);
    FreeImage_Unload(bitmap);
    return path;
  }

  void Open(const std::string& path) {
    m_prompts.File(path);
    ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnFileOpen(); }));
  }

  // Gives the frame a result as a finished resize leaves it.
  void GiveUnsavedResult() {
    m_frame->m_result = testimages::MakePattern(48, 32, 24);
    m_frame->View(1)->SetImage(m_frame->m_result);
    m_frame->m_resultSaved = false;
  }

  bool ImageCommandsEnabled() const {
    return m_frame->UIIsEnabled(ids::Resize) && m_frame->UIIsEnabled(ids::ZoomIn) &&
           m_frame->UIIsEnabled(ids::ZoomOut) && m_frame->UIIsEnabled(ids::ZoomToFit) &&
           m_frame->UIIsEnabled(ids::ZoomTo100);
  }

  void ExpectNothingOpen() {
    EXPECT_EQ(m_frame->m_source, nullptr);
    EXPECT_EQ(m_frame->View(0)->Image(), nullptr);
    EXPECT_EQ(m_frame->View(1)->Image(), nullptr);
    EXPECT_FALSE(m_frame->UIIsEnabled(ids::Resize));
    EXPECT_FALSE(m_frame->m_percentCombo->isEnabled());
    EXPECT_EQ(m_frame->m_worker, nullptr);
    EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  }

  TempDir m_dir;
  harness::Prompts m_prompts;
  std::unique_ptr<CMainFrame> m_frame = std::make_unique<CMainFrame>();
};

TEST_F(OpenFrameTest, OpenShowsImageAtFullSizeWithCommandsReady) {
  m_frame->m_syncScroll = true;
  m_frame->m_syncZoom = true;
  std::string path = ImageFile("photo.png");
  Open(path);

  ASSERT_EQ(m_prompts.shown.size(), 1u);  // nothing asked before the open dialog
  const PromptRecord& dialog = m_prompts.shown[0];
  EXPECT_EQ(dialog.kind, PromptRecord::OpenFile);
  ASSERT_EQ(dialog.filters.size(), 1u);
  EXPECT_EQ(dialog.filters[0].description, "All Supported Files");
  EXPECT_EQ(dialog.filters[0].patterns, "*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff");

  ASSERT_NE(m_frame->m_source, nullptr);
  EXPECT_EQ(m_frame->m_sourcePath, path);
  EXPECT_EQ(m_frame->View(0)->Image(), m_frame->m_source);
  EXPECT_EQ(m_frame->View(0)->GetZoom(), 1.0);
  EXPECT_EQ(m_frame->m_activePane, 0);
  EXPECT_TRUE(ImageCommandsEnabled());
  EXPECT_FALSE(m_frame->UIIsEnabled(ids::FileSaveResizedAs));
  EXPECT_FALSE(m_frame->UIIsEnabled(ids::SyncScroll));
  EXPECT_FALSE(m_frame->UIIsChecked(ids::SyncScroll));
  EXPECT_FALSE(m_frame->UIIsChecked(ids::SyncZoom));
  EXPECT_FALSE(m_frame->m_syncScroll);
  EXPECT_FALSE(m_frame->m_syncZoom);
  EXPECT_TRUE(m_frame->m_percentCombo->isEnabled());
  EXPECT_EQ(m_frame->m_percentCombo->currentText(), "200%");
  EXPECT_EQ(m_frame->m_worker, nullptr);
  EXPECT_TRUE(m_frame->m_resultSaved);
  EXPECT_EQ(m_frame->windowTitle(), "Magnova");
}

TEST_F(OpenFrameTest, OpenMakesTheLeftPaneActiveAtHundredPercent) {
  Open(ImageFile("photo.png"));
  EXPECT_EQ(m_frame->m_activeView, m_frame->View(0));
  EXPECT_TRUE(m_frame->Pane(0)->m_active);
  EXPECT_FALSE(m_frame->Pane(1)->m_active);
  EXPECT_EQ(m_frame->m_zoomToMark, ids::ZoomTo100);
}

TEST_F(OpenFrameTest, ContentsDecideTheTypeNotTheName) {
  Open(ImageFile("really-a-png.jpg", FIF_PNG));
  ASSERT_NE(m_frame->m_source, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(m_frame->m_source), 24u);
  // A palette image keeps its palette.
  Open(ImageFile("palette.gif", FIF_GIF, 8));
  ASSERT_NE(m_frame->m_source, nullptr);
  EXPECT_EQ(FreeImage_GetBPP(m_frame->m_source), 8u);
  EXPECT_EQ(FreeImage_GetColorType(m_frame->m_source), FIC_MINISBLACK);
}

TEST_F(OpenFrameTest, NonImageClearsViewsSilently) {
  Open(ImageFile("first.png"));
  GiveUnsavedResult();
  m_frame->m_resultSaved = true;
  testimages::WriteAll(m_dir.File("notes.png"), "this is not an image at all");
  Open(m_dir.File("notes.png"));
  ExpectNothingOpen();
  EXPECT_FALSE(m_frame->Pane(0)->m_active);
  EXPECT_FALSE(m_frame->Pane(1)->m_active);
  EXPECT_EQ(m_frame->m_result, nullptr);
}

TEST_F(OpenFrameTest, BadInputOfEveryKindIsSilentAndLeavesNothingOpen) {
  std::string random(2048, '\0');
  std::mt19937 generator(11);
  for (char& c : random) c = static_cast<char>(generator());
  testimages::WriteAll(m_dir.File("random.jpg"), random);
  testimages::WriteAll(m_dir.File("empty.png"), "");
  ::mkdir(m_dir.File("folder.png").c_str(), 0700);
  for (const std::string& path : {m_dir.File("random.jpg"), m_dir.File("empty.png"),
                                  m_dir.File("folder.png"), m_dir.File("missing.tif")}) {
    Open(ImageFile("good.png"));
    ASSERT_NE(m_frame->m_source, nullptr);
    Open(path);
    SCOPED_TRACE(path);
    ExpectNothingOpen();
  }
}

TEST_F(OpenFrameTest, TruncatedPngIsAFailedReadOfAKnownType) {
  std::string path = ImageFile("cut.png");
  std::string bytes = testimages::ReadAll(path);
  testimages::WriteAll(path, bytes.substr(0, bytes.size() / 2));
  Open(ImageFile("good.png"));
  Open(path);
  // Recognised but unreadable: the commands come back, no image is shown,
  // nothing is said.
  EXPECT_EQ(m_frame->m_source, nullptr);
  EXPECT_EQ(m_frame->View(0)->Image(), nullptr);
  EXPECT_TRUE(ImageCommandsEnabled());
  EXPECT_EQ(m_frame->m_percentCombo->currentText(), "200%");
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
}

TEST_F(OpenFrameTest, HundredCorruptOpensInARow) {
  std::string png = ImageFile("cut.png");
  std::string bytes = testimages::ReadAll(png);
  testimages::WriteAll(png, bytes.substr(0, bytes.size() / 2));
  std::string jpeg = ImageFile("cut.jpg", FIF_JPEG);
  bytes = testimages::ReadAll(jpeg);
  testimages::WriteAll(jpeg, bytes.substr(0, bytes.size() / 3));
  for (int i = 0; i < 100; ++i) Open(i % 2 ? png : jpeg);
  EXPECT_EQ(m_frame->m_worker, nullptr);
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
}

TEST_F(OpenFrameTest, UnsavedResultPromptAnswers) {
  Open(ImageFile("first.png"));
  GiveUnsavedResult();
  FIBITMAP* result = m_frame->m_result;
  m_prompts.shown.clear();

  // Cancel: nothing else is shown and nothing changes.
  m_prompts.Button(ids::IdCancel);
  m_frame->OnFileOpen();
  ASSERT_EQ(m_prompts.shown.size(), 1u);
  EXPECT_EQ(m_prompts.shown[0].text, "Do you want to save the resized image?");
  EXPECT_EQ(m_prompts.shown[0].caption, "Confirm");
  EXPECT_EQ(m_prompts.shown[0].icon, platform::MbIcon::Question);
  EXPECT_EQ(m_prompts.shown[0].buttons, platform::MbButtons::YesNoCancel);
  EXPECT_EQ(m_frame->m_result, result);

  // No, then a cancelled open dialog: the result stays unsaved and is asked about again.
  m_prompts.Button(ids::IdNo);
  m_prompts.CancelDialog();
  m_frame->OnFileOpen();
  EXPECT_EQ(m_frame->m_result, result);
  EXPECT_FALSE(m_frame->m_resultSaved);
  m_prompts.shown.clear();
  m_prompts.Button(ids::IdCancel);
  m_frame->OnFileOpen();
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 1);
}

TEST_F(OpenFrameTest, LongUtf8PathOpens) {
  std::string folder = m_dir.Path();
  for (int i = 0; i < 5; ++i) {
    folder += "/\xc3\xa9\xe5\x86\x99-" + std::string(50, 'p');
    ::mkdir(folder.c_str(), 0700);
  }
  std::string path = folder + "/\xe5\x86\x99\xe7\x9c\x9f.png";
  ASSERT_GT(path.size(), 259u);
  FIBITMAP* bitmap = testimages::MakePattern(24, 16, 24);
  ASSERT_TRUE(testimages::Write(bitmap, FIF_PNG, path));
  Open(path);
  EXPECT_EQ(m_frame->m_sourcePath, path);
  EXPECT_TRUE(testimages::SamePixels(bitmap, m_frame->m_source));
  FreeImage_Unload(bitmap);
}

TEST_F(OpenFrameTest, AbortShowsNothingAndTheLateWorkerChangesNothing) {
  Open(ImageFile("first.png"));
  std::string second = ImageFile("second.png");
  {
    harness::LockHolder holder(m_frame->m_imageLock);
    std::shared_ptr<platform::CJob> job;
    QTimer::singleShot(50, m_frame.get(), [&] {
      ASSERT_TRUE(m_frame->m_waitDlg->isVisible());
      EXPECT_EQ(m_frame->m_waitDlg->TextLabel()->text(), "Opening picture...");
      job = m_frame->m_worker;
      holder.Watch(job);
      m_frame->m_waitDlg->AbortButton()->click();
    });
    Open(second);
    EXPECT_FALSE(m_frame->m_waitDlg->isVisible());
    ASSERT_TRUE(job);
    // The given-up worker is kept until it has ended.
    EXPECT_EQ(m_frame->m_worker, job);
    m_frame->EndWorker();
    EXPECT_TRUE(job->HasEnded());
  }
  harness::PumpUntil([] { return false; }, 100);
  ExpectNothingOpen();
  // The lock is free once the worker has ended.
  EXPECT_TRUE(m_frame->m_imageLock.try_lock());
  m_frame->m_imageLock.unlock();
}

// Hostile files and decoders, each opened in the running frame: the frame
// lives, answers, and opens a good file afterwards.
struct HostileOpen {
  const char* label;
  std::string (*bytes)();  // null: a good picture, spoilt by the decoder's fault
  const char* fault;
  bool shown;
  bool abort;  // pressed while the decoder still runs
};

void PrintTo(const HostileOpen& c, std::ostream* out) { *out << c.label; }

class HostileOpenTest : public OpenFrameTest, public testing::WithParamInterface<HostileOpen> {};

TEST_P(HostileOpenTest, FrameLivesAnswersAndOpensTheNextFile) {
  const HostileOpen& c = GetParam();
  const std::string good = ImageFile("good.png");
  std::string path = good;
  if (c.bytes) {
    path = m_dir.File("hostile.jpg");
    testimages::WriteAll(path, c.bytes());
  }
  // Far below what a bomb needs, far above what a small picture needs.
  m_frame->m_memoryStatus = [] { return std::optional<uint64_t>(uint64_t{1} << 30); };
  m_frame->m_decoderTestFault = c.fault;
  std::shared_ptr<platform::CJob> job;
  if (c.abort) {
    QTimer::singleShot(300, m_frame.get(), [&] {
      job = m_frame->m_worker;
      m_frame->m_waitDlg->AbortButton()->click();
    });
  }
  Open(path);
  if (c.abort) {
    ASSERT_TRUE(job);
    // The Abort's message abandons the job; the decoder is killed with it,
    // so the worker ends at once.
    EXPECT_TRUE(harness::PumpUntil([&] { return job->HasEnded(); }, 2000));
  }
  EXPECT_EQ(m_frame->m_source != nullptr, c.shown);
  EXPECT_EQ(m_frame->View(0)->Image(), m_frame->m_source);
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  bool answered = false;
  QTimer::singleShot(0, m_frame.get(), [&] { answered = true; });
  EXPECT_TRUE(harness::PumpUntil([&] { return answered; }, 2000));

  m_frame->m_decoderTestFault.clear();
  Open(good);
  ASSERT_NE(m_frame->m_source, nullptr);
  EXPECT_EQ(FreeImage_GetWidth(m_frame->m_source), 24u);
  EXPECT_EQ(m_frame->m_readyLabel->text(), "Ready");
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileOpenTest,
    testing::Values(
        HostileOpen{"BmpDeclaringHugeSize", [] { return testimages::BmpDeclaring(30000, 30000); },
                    "", false, false},
        HostileOpen{"JpegDeclaringHugeSize", [] { return testimages::JpegDeclaring(65500, 65500); },
                    "", false, false},
        HostileOpen{"TruncatedJpeg", [] { return testimages::TruncatedFile(FIF_JPEG, 0.5); }, "",
                    true, false},
        HostileOpen{"CrashingDecoder", nullptr, "crash", false, false},
        HostileOpen{"EndlessDecoder", nullptr, "hang", false, true}),
    [](const testing::TestParamInfo<HostileOpen>& info) { return info.param.label; });

TEST_F(OpenFrameTest, IncompleteFileIsShownAndTheStatusBarSaysSo) {
  const std::string cut = m_dir.File("cut.bmp");
  testimages::WriteAll(cut, testimages::TruncatedFile(FIF_BMP, 0.5));
  Open(cut);
  ASSERT_NE(m_frame->m_source, nullptr);
  EXPECT_EQ(FreeImage_GetHeight(m_frame->m_source), 64u);
  EXPECT_TRUE(ImageCommandsEnabled());
  EXPECT_EQ(m_frame->m_readyLabel->text(),
            "The file is incomplete: part of the picture is missing.");
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
}

TEST_F(OpenFrameTest, NamedPipeIsRefusedAtOnce) {
  Open(ImageFile("first.png"));
  const std::string pipe = m_dir.File("pipe.png");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // Nobody writes to the pipe: opening it for reading would wait for ever.
  Open(pipe);
  ExpectNothingOpen();
  Open(ImageFile("second.png"));
  EXPECT_NE(m_frame->m_source, nullptr);
}

// The worker's own done message and the Abort's, in both orders: a load
// whose done message was posted before the Abort was handled is shown.
TEST_F(OpenFrameTest, LoadFinishedAtTheMomentOfAbortIsShownInEitherOrder) {
  for (bool abortFirst : {false, true}) {
    SCOPED_TRACE(abortFirst ? "Abort first" : "worker first");
    m_frame = std::make_unique<CMainFrame>();
    m_frame->m_sourcePath = ImageFile("race.png");
    CMainFrame* frame = m_frame.get();
    auto job = platform::CJob::Prepare([frame](platform::CJob& j) { frame->LoadWorker(j); });
    m_frame->m_worker = job;
    if (abortFirst) platform::PostFrameMessage(m_frame.get(), WM_LOAD_DONE, 1, 0, job);
    job->Go();
    ASSERT_TRUE(job->WaitForEnd(std::chrono::seconds(10)));
    if (!abortFirst) platform::PostFrameMessage(m_frame.get(), WM_LOAD_DONE, 1, 0, job);
    ASSERT_TRUE(harness::PumpUntil([&] { return m_frame->View(0)->Image() != nullptr; }));
    harness::PumpUntil([] { return false; }, 50);
    EXPECT_EQ(m_frame->View(0)->Image(), m_frame->m_source);
    EXPECT_TRUE(ImageCommandsEnabled());
    EXPECT_EQ(m_frame->m_worker, nullptr);
  }
}

}  // namespace

namespace {

// A drop of urls on the frame, as the window system delivers one: true
// when the frame took it.
bool Drop(CMainFrame& frame, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  const QPoint at = frame.rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&frame, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&frame, &drop);
  return drop.isAccepted();
}

TEST_F(OpenFrameTest, DroppedPictureOpensAsOpenDoesAndTheStatusBarNamesIt) {
  const std::string first = ImageFile("first.png");
  const std::string second = ImageFile("second.png", FIF_BMP, 8);
  testimages::WriteAll(m_dir.File("notes.txt"), "not a picture");
  const QLabel* info = m_frame->findChild<QLabel*>("imageInfo");
  ASSERT_NE(info, nullptr);

  // What is not a picture is refused at once.
  EXPECT_FALSE(
      Drop(*m_frame, {QUrl::fromLocalFile(QString::fromStdString(m_dir.File("notes.txt")))}));
  EXPECT_FALSE(Drop(*m_frame, {QUrl("https://example.org/picture.png")}));

  // Of several files the first opens, with the wait dialog of Open.
  ASSERT_TRUE(harness::RunBounded(*m_frame, [&] {
    ASSERT_TRUE(Drop(*m_frame, {QUrl::fromLocalFile(QString::fromStdString(first)),
                                QUrl::fromLocalFile(QString::fromStdString(second))}));
    ASSERT_TRUE(harness::PumpUntil([&] { return m_frame->m_source && !m_frame->m_worker; }));
  }));
  EXPECT_EQ(m_frame->m_sourcePath, first);
  EXPECT_EQ(m_frame->View(0)->Image(), m_frame->m_source);
  EXPECT_TRUE(ImageCommandsEnabled());
  EXPECT_EQ(info->text(), QStringLiteral("first.png  24 \u00d7 16"));

  // A result shows its size; an unsaved one is asked about first, and
  // Cancel keeps everything.
  GiveUnsavedResult();
  m_frame->UpdateImageInfo();
  EXPECT_EQ(info->text(), QStringLiteral("first.png  24 \u00d7 16  \u2192  48 \u00d7 32"));
  m_prompts.Button(ids::IdCancel);
  ASSERT_TRUE(Drop(*m_frame, {QUrl::fromLocalFile(QString::fromStdString(second))}));
  ASSERT_TRUE(harness::PumpUntil([&] { return m_prompts.Count(PromptRecord::Message) == 1; }));
  EXPECT_EQ(m_prompts.shown.back().text, "Do you want to save the resized image?");
  EXPECT_EQ(m_frame->m_sourcePath, first);
  EXPECT_NE(m_frame->m_result, nullptr);
}

}  // namespace
