// Opening an image: the Open command, its worker and its done message.
#include <QComboBox>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QCoreApplication>
#include <QLabel>
#include <unistd.h>

#include <mutex>

#include "app/CMainFrame.h"
#include "files/DecoderProcess.h"
#include "files/Remembered.h"
#include "files/SaveNames.h"
#include "frame/CMyPaneContainer.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/PathBytes.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "views/CEnlargerView.h"
#include "views/ViewMath.h"

namespace {

// The status bar's word on a load: why it gave no picture (name is the
// file's), or that its file ended early. Empty when there is nothing to say.
QString LoadStatusText(files::LoadFailure failure, bool incomplete, const QString& name,
                       uint32_t width, uint32_t height) {
  using files::LoadFailure;
  switch (failure) {
    case LoadFailure::None:
      return incomplete ? QStringLiteral("The file is incomplete: part of the picture is missing.")
                        : QString();
    case LoadFailure::Missing:
      return QStringLiteral("Cannot open %1: the file does not exist.").arg(name);
    case LoadFailure::NoPermission:
      return QStringLiteral("Cannot open %1: no permission to read it.").arg(name);
    case LoadFailure::NotAPicture:
      return QStringLiteral("Cannot open %1: it is not a picture Magnova can read.").arg(name);
    case LoadFailure::TooLarge:
      if (width == 0 || height == 0)
        return QStringLiteral("Cannot open %1: the picture is too large for the memory available.")
            .arg(name);
      return QStringLiteral(
                 "Cannot open %1: the picture, %2 \u00d7 %3, is too large for the memory "
                 "available.")
          .arg(name)
          .arg(width)
          .arg(height);
    case LoadFailure::Damaged:
      return QStringLiteral("Cannot open %1: the file is damaged; the decoder failed on it.")
          .arg(name);
    case LoadFailure::TooSlow:
      return QStringLiteral("Cannot open %1: the decoder took too long on it.").arg(name);
    case LoadFailure::Aborted:
      return QStringLiteral("Opening %1 was aborted.").arg(name);
    case LoadFailure::NoDecoder:
      return QStringLiteral("Cannot open %1: Magnova's decoder could not be started.").arg(name);
  }
  return QString();
}

// The memory figure when /proc/meminfo tells none.
uint64_t PhysicalMemoryBytes() {
  return uint64_t(::sysconf(_SC_PHYS_PAGES)) * uint64_t(::sysconf(_SC_PAGESIZE));
}

}  // namespace

void CMainFrame::PumpMessages() { QCoreApplication::processEvents(); }

void CMainFrame::ShowLoadStatus() {
  const QString text = LoadStatusText(m_loadFailure, m_source && m_sourceIncomplete, SourceName(),
                                      m_loadFailureWidth, m_loadFailureHeight);
  m_readyLabel->setText(text.isEmpty() ? res::LoadString(ids::StrReady) : text);
}

QString CMainFrame::SourceName() const {
  return m_sourcePasted ? QStringLiteral("Pasted picture")
                        : platform::PathText(files::FileNamePart(m_sourcePath));
}

void CMainFrame::EndLoadFailureWord() {
  if (m_loadFailure == files::LoadFailure::None) return;
  m_loadFailure = files::LoadFailure::None;
  ShowLoadStatus();
}

void CMainFrame::OnFileOpen() {
  if (!SettleUnsavedResult()) return;

  // The dialog starts in the folder it was last left in, in this run or before.
  std::optional<platform::FileChoice> choice =
      platform::GetOpenFileName(DialogOwner(),
                                {{QStringLiteral("All Supported Files"),
                                  QStringLiteral("*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff")}},
                                files::LastFolder(files::FileDialogKind::Open));
  if (!choice) return;
  files::RememberFolder(files::FileDialogKind::Open, QFileInfo(choice->path).absolutePath());
  OpenFile(platform::PathBytes(choice->path));
}

void CMainFrame::OpenFile(const std::string& path, std::unique_ptr<QTemporaryFile> pasted) {
  // The worker is made before anything is discarded: when none can be
  // had, the frame stays as it was.
  const std::shared_ptr<platform::CJob> job = StartWaitJob(&CMainFrame::LoadWorker);
  if (!job) return;
  EndCompare();
  m_sourcePath = path;
  m_sourcePasted = pasted != nullptr;
  // A decoder still reading the previous one has it open: it reads on.
  m_pasteFile = std::move(pasted);
  m_sourceIncomplete = false;
  m_loadFailure = files::LoadFailure::None;
  m_readyLabel->setText(res::LoadString(ids::StrReady));

  // With nothing loaded the UI is still in its start-up state.
  if (m_source) {
    m_leftView->SetImage(nullptr);
    FreeImage_Unload(m_source);
    m_source = nullptr;
    m_leftView->UpdateScrollSize(true);
    if (m_result) {
      m_rightView->SetImage(nullptr);
      FreeImage_Unload(m_result);
      m_result = nullptr;
      m_rightView->UpdateScrollSize(true);
    }
    m_resultSaved = true;
    PumpMessages();
    m_percentCombo->setEnabled(false);
    for (int id : ids::ImageCommands) UIEnable(id, false);
    EnableZoomToMenu(false);
    UIUpdateToolBar();
    UpdateImageInfo();
  }

  RunWaitJob(job, WM_LOAD_DONE, QStringLiteral("Opening picture..."));
}

void CMainFrame::LoadWorker(platform::CJob& job) {
  files::DecodeRequest request;
  // Reading the inputs through Commit keeps an abandoned job from reading
  // them while the next Open writes them.
  if (!job.Commit([&] {
        request.path = m_sourcePath;
        request.testFault = m_decoderTestFault;
        const std::optional<uint64_t> available = AvailableMemory();
        request.memoryAvailable = available ? *available : PhysicalMemoryBytes();
      })) {
    return;
  }
  // The decoder process runs without the lock; abandoning the job kills it.
  request.stopFd = job.AbandonFd();
  files::DecodeOutcome outcome = files::DecodeImageFile(request);
  {
    std::lock_guard lock(m_imageLock);
    if (!job.Commit([&] {
          m_source = outcome.bitmap;
          m_sourceIncomplete = outcome.incomplete;
          m_sourceFrames = outcome.frames;
          m_loadFailure = outcome.failure;
          m_loadFailureWidth = outcome.width;
          m_loadFailureHeight = outcome.height;
        }) &&
        outcome.bitmap) {
      FreeImage_Unload(outcome.bitmap);
    }
  }
  job.PostDone(this, WM_LOAD_DONE, outcome.code);
}

void CMainFrame::OnLoadDone(uintptr_t wParam, intptr_t lParam,
                            const std::shared_ptr<platform::CJob>& job) {
  const WaitOutcome outcome = SettleWaitJob(wParam, job);
  if (outcome == WaitOutcome::Ignored) return;

  if (outcome == WaitOutcome::Aborted && m_source) {
    // The load was committed just before the abandonment, so its done
    // message was never posted: an aborted load shows nothing, and the
    // worker no longer touches the bitmap.
    FreeImage_Unload(m_source);
    m_source = nullptr;
  }
  UpdateImageInfo();
  if (outcome == WaitOutcome::Aborted) m_loadFailure = files::LoadFailure::Aborted;
  ShowLoadStatus();
  NoteRecentPicture();
  m_pasteFile.reset();
  if (outcome == WaitOutcome::Aborted || lParam == 0) {
    // The captions show the marks as they now stand.
    if (!m_source) m_leftPane->m_active = false;
    if (!m_result) m_rightPane->m_active = false;
    RedrawCaptions();
    return;
  }

  m_leftView->SetImage(m_source);
  m_leftView->m_scrollOffset = QPoint(0, 0);
  m_leftView->UpdateScrollSize(true);

  m_syncScroll = false;
  UISetCheck(ids::SyncScroll, false);
  m_syncZoom = false;
  UISetCheck(ids::SyncZoom, false);
  for (int id : ids::ResultCommands) UIEnable(id, false);
  for (int id : {ids::Resize, ids::ZoomIn, ids::ZoomOut, ids::ZoomToFit, ids::ZoomTo100}) {
    UIEnable(id, true);
  }

  m_percentCombo->setEditText(QStringLiteral("200%"));
  m_percentCombo->setEnabled(true);
  EnableZoomToMenu(true);

  ActivateView(0);
  m_leftView->SetZoom(1.0);
  if (m_leftView->Image()) CheckZoomMenuItem(viewmath::ZoomPercent(m_leftView->GetZoom()));
}
