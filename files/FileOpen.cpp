// Opening an image: the Open command, its worker and its done message.
#include <QComboBox>
#include <QCoreApplication>
#include <mutex>

#include "app/CMainFrame.h"
#include "files/ImageFiles.h"
#include "frame/CMyPaneContainer.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/PathBytes.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "views/CEnlargerView.h"
#include "views/ViewMath.h"

void CMainFrame::PumpMessages() { QCoreApplication::processEvents(); }

void CMainFrame::OnFileOpen() {
  if (!PromptToSaveResult()) return;

  std::optional<platform::FileChoice> choice = platform::GetOpenFileName(
      DialogOwner(), {{QStringLiteral("All Supported Files"),
                       QStringLiteral("*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff")}});
  if (!choice) return;
  OpenFile(platform::PathBytes(choice->path));
}

void CMainFrame::OpenFile(const std::string& path) {
  m_sourcePath = path;

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

  RunWaitJob(&CMainFrame::LoadWorker, WM_LOAD_DONE, QStringLiteral("Opening picture..."));
}

void CMainFrame::LoadWorker(platform::CJob& job) {
  files::LoadOutcome outcome;
  {
    std::lock_guard lock(m_imageLock);
    std::string path;
    // Reading the path through Commit keeps an abandoned job from reading it
    // while the next Open writes it.
    if (!job.Commit([&] { path = m_sourcePath; })) return;
    outcome = files::LoadImageFile(path, [&job] { return job.IsAbandoned(); });
    if (!job.Commit([&] { m_source = outcome.bitmap; }) && outcome.bitmap) {
      FreeImage_Unload(outcome.bitmap);
    }
  }
  job.PostDone(this, WM_LOAD_DONE, outcome.code);
}

void CMainFrame::OnLoadDone(uintptr_t, intptr_t lParam,
                            const std::shared_ptr<platform::CJob>& job) {
  const WaitOutcome outcome = SettleWaitJob(job);
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
    if (!m_source) m_leftPane->m_active = false;
    if (!m_result) m_rightPane->m_active = false;
    return;
  }

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
