// Opening an image: the Open command, its worker and its done message.
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <unistd.h>

#include <mutex>

#include "app/CMainFrame.h"
#include "files/DecoderProcess.h"
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

// The status bar's word on a picture whose file ended early.
constexpr char kIncompleteText[] = "The file is incomplete: part of the picture is missing.";

// The memory figure when /proc/meminfo tells none.
uint64_t PhysicalMemoryBytes() {
  return uint64_t(::sysconf(_SC_PHYS_PAGES)) * uint64_t(::sysconf(_SC_PAGESIZE));
}

}  // namespace

void CMainFrame::PumpMessages() { QCoreApplication::processEvents(); }

void CMainFrame::OnFileOpen() {
  if (!SettleUnsavedResult()) return;

  std::optional<platform::FileChoice> choice = platform::GetOpenFileName(
      DialogOwner(), {{QStringLiteral("All Supported Files"),
                       QStringLiteral("*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff")}});
  if (!choice) return;
  OpenFile(platform::PathBytes(choice->path));
}

void CMainFrame::OpenFile(const std::string& path) {
  // The worker is made before anything is discarded: when none can be
  // had, the frame stays as it was.
  const std::shared_ptr<platform::CJob> job = StartWaitJob(&CMainFrame::LoadWorker);
  if (!job) return;
  m_sourcePath = path;
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
  if (outcome == WaitOutcome::Aborted || lParam == 0) {
    // The captions show the marks as they now stand.
    if (!m_source) m_leftPane->m_active = false;
    if (!m_result) m_rightPane->m_active = false;
    RedrawCaptions();
    return;
  }

  if (m_source && m_sourceIncomplete) m_readyLabel->setText(QString::fromUtf8(kIncompleteText));
  m_leftView->SetImage(m_source);
  m_leftView->m_scrollOffset = QPoint(0, 0);
  m_leftView->UpdateScrollSize(true);

  m_syncScroll = false;
  UISetCheck(ids::SyncScroll, false);
  m_syncZoom = false;
  UISetCheck(ids::SyncZoom, false);
  UIEnable(ids::SyncScroll, false);
  UIEnable(ids::SyncZoom, false);
  for (int id : {ids::Resize, ids::ZoomIn, ids::ZoomOut, ids::ZoomToFit, ids::ZoomTo100}) {
    UIEnable(id, true);
  }
  UIEnable(ids::FileSaveResizedAs, false);

  m_percentCombo->setEditText(QStringLiteral("200%"));
  m_percentCombo->setEnabled(true);
  EnableZoomToMenu(true);

  ActivateView(0);
  m_leftView->SetZoom(1.0);
  if (m_leftView->Image()) CheckZoomMenuItem(viewmath::ZoomPercent(m_leftView->GetZoom()));
}
