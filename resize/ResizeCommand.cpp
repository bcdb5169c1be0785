// The frame's side of a resize job: the Resize command, the job timer, the
// worker's reports and completion, and the percent chosen in the
// resize-parameters dialog.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <climits>
#include <utility>

#include "app/CMainFrame.h"
#include "files/SaveLimits.h"
#include "frame/CMyPaneContainer.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "resize/CProgressDlg.h"
#include "resize/CResizeDlg.h"
#include "resize/ResizeParams.h"
#include "resize/ResizeRules.h"
#include "resize/ResizeWorker.h"
#include "views/CEnlargerView.h"

namespace {

constexpr int kSelectionChange = 1;

// A side kept in the frame's 32-bit members; one beyond them fails in the
// worker as a size FreeImage cannot hold.
int StoredSide(int64_t side) { return static_cast<int>(std::min<int64_t>(side, INT_MAX)); }

}  // namespace

void CMainFrame::OnResize() {
  const int typedWidth = std::exchange(m_typedWidth, 0);
  const int typedHeight = std::exchange(m_typedHeight, 0);
  if (!m_source) return;
  // The word on a refused size lasts until the next try.
  if (std::exchange(m_memoryHintShown, false)) ShowLoadStatus();
  // A given-up job may still read the source; the new one waits for it.
  EndWorker();
  const std::optional<int> percent = resize::ReadPercentText(m_percentEdit->text().toStdString());
  if (!percent) {
    platform::MessageBox(this, QStringLiteral("Percent value must be integer from 1 to 2000."),
                         QStringLiteral("Warning"), platform::MbIcon::Information,
                         platform::MbButtons::Ok);
    m_percentEdit->setText(m_percentCombo->itemText(0));
    m_percentEdit->setFocus();
    return;
  }
  const double scale = *percent / 100.0;
  // The whole percent names the job (title, save name, the source's zoom
  // beside the result); a typed side is made exactly.
  const resize::Size64 target =
      resize::TargetFor(FreeImage_GetWidth(m_source), FreeImage_GetHeight(m_source),
                        {*percent, typedWidth, typedHeight});
  // A result no file type can hold is refused before any work.
  const std::string unsavable = files::NoSaveFormatHolds(
      target.width, target.height, files::ResultBitsPerPixel(m_source, *percent >= 100));
  if (!unsavable.empty()) {
    platform::MessageBox(this,
                         QStringLiteral("The picture cannot be resized to this size: %1.")
                             .arg(QString::fromStdString(unsavable)),
                         QStringLiteral("Error"), platform::MbIcon::Error, platform::MbButtons::Ok);
    return;
  }
  m_resultHeight = StoredSide(target.height);
  m_resultWidth = StoredSide(target.width);

  // Memory that cannot be read is not short.
  const std::optional<uint64_t> available = AvailableMemory();
  const uint64_t freeable =
      m_result ? uint64_t{FreeImage_GetPitch(m_result)} * FreeImage_GetHeight(m_result) : 0;
  const resize::MemoryPlan plan =
      resize::PlanMemory(*percent, FreeImage_GetWidth(m_source), FreeImage_GetHeight(m_source),
                         target, available.value_or(UINT64_MAX), freeable);
  if (plan.fit == resize::MemoryFit::Never) {
    // Not even the smallest crop fits: nothing is allocated. The user is
    // told what would run whole today.
    const QString hint = QString::fromStdString(resize::LargestPercentText(
        resize::LargestWholePercent(FreeImage_GetWidth(m_source), FreeImage_GetHeight(m_source),
                                    available.value_or(UINT64_MAX), freeable, *percent)));
    m_readyLabel->setText(hint);
    m_memoryHintShown = true;
    platform::MessageBox(
        this,
        QString::fromStdString(resize::NotEnoughMemoryText(target.width, target.height)) +
            QStringLiteral("\n") + hint,
        QStringLiteral("Memory allocation error"), platform::MbIcon::Error,
        platform::MbButtons::Ok);
    return;
  }
  if (plan.fit == resize::MemoryFit::Cropped) {
    const int answer = platform::MessageBox(
        this,
        QStringLiteral("Avaible memory is not quite enough.\nThe operation may take a long "
                       "time.\n\nDo you want to continue?"),
        QStringLiteral("WARNING"), platform::MbIcon::Question, platform::MbButtons::YesNo);
    if (answer != ids::IdYes) return;
    m_pixelBudget = plan.pixelBudget;
    m_cropToBudget = true;
  } else {
    m_cropToBudget = false;
  }

  // The worker is made before anything changes: when none can be had, the
  // frame stays as it was. It runs once the old result is gone.
  const ResizeRequest request{m_source,       scale,          m_resultWidth,
                              m_resultHeight, m_cropToBudget, m_pixelBudget};
  const std::shared_ptr<platform::CJob> job = StartWorker([this, request](platform::CJob& worker) {
    ResizeWorker(worker, request, this, m_imageLock, m_result, &m_metadataNotice);
  });
  if (!job) return;

  EndCompare();
  m_syncZoom = false;
  m_syncScroll = false;
  for (int id : {ids::SyncScroll, ids::SyncZoom}) UISetCheck(id, false);
  for (int id : ids::ResultCommands) UIEnable(id, false);

  m_rightView->SetImage(nullptr);
  if (m_result) FreeImage_Unload(m_result);
  m_result = nullptr;
  update();
  m_rightView->viewport()->update();
  m_rightPane->update();
  m_rightView->UpdateScrollSize(true);
  UpdateImageInfo();
  PumpMessages();
  m_resultSaved = true;
  UIUpdateToolBar();

  m_scale = scale;
  m_showCmd = isMaximized() ? kShowMaximize : kShowRestore;
  SetTimer(m_timerId, 1000);
  m_worker = job;
  job->Go();

  if (!m_progressDlg) m_progressDlg = new CProgressDlg(this);
  m_progressDlg->m_thread = m_worker;
  m_progressDlg->m_notifyWnd = this;
  m_progressDlg->m_doneMsg = WM_RESIZE_DONE;
  m_progressDlg->DoModal();
}

void CMainFrame::OnJobTimer(int timerId) {
  if (timerId != m_timerId || !m_progressDlg) return;
  if (m_jobTitleBase.isEmpty()) m_jobTitleBase = res::LoadString(ids::StrAppName);
  const int percent =
      resize::TitlePercent(m_progressDlg->OverallPosition(), m_progressDlg->OverallUpper());
  setWindowTitle(QString::fromStdString(resize::JobTitle(m_jobTitleBase.toStdString(), percent,
                                                         !m_progressDlg->m_running, m_jobTicks)));
  PumpMessages();
  ++m_jobTicks;
}

void CMainFrame::OnResizeDone(uintptr_t wParam, intptr_t lParam,
                              const std::shared_ptr<platform::CJob>& job) {
  // A message of a job that is no longer ours, or was given up, changes nothing.
  if (!job || job != m_worker || job->IsAbandoned()) return;
  const bool aborted = wParam != 0;
  // Abort after the worker posted its own done message: the job completed,
  // and that message brings the result.
  if (aborted && !AbandonWorker()) return;

  if (m_progressDlg && m_progressDlg->IsWindow()) m_progressDlg->EndDialog(0);
  KillTimer(m_timerId);
  // A completed worker returns at once; an abandoned one at its next report,
  // and whatever next needs the images waits for it (EndWorker), so Abort
  // itself never waits.
  if (!aborted) EndWorker();
  setWindowTitle(res::LoadString(ids::StrAppName));
  UpdateImageInfo();

  if (aborted || lParam == 0) {
    // A result committed just before the abandonment belongs to no job.
    if (m_result) FreeImage_Unload(m_result);
    m_result = nullptr;
    m_resultSaved = true;
    UpdateImageInfo();
    return;
  }
  if (isMinimized()) RestoreFrame();
  for (int id : ids::ResultCommands) UIEnable(id, true);
  ShowMetadataNotice();
  m_rightView->SetImage(m_result);
  if (m_result) ActivateView(1);
  m_rightView->SetZoom(1.0);
  CheckZoomMenuItem(100);

  // Scrolling the point half a view beyond the image's centre into view
  // brings that centre to the middle of the view.
  const QRect image = m_rightView->GetImageRect();
  const QSize client = m_rightView->viewport()->size();
  const int x = (image.left() + image.left() + image.width()) / 2 + client.width() / 2;
  const int y = (image.top() + image.top() + image.height()) / 2 + client.height() / 2;
  m_rightView->ScrollToView(QRect(x, y, 0, 0));

  // Both toggle from off to on.
  m_syncZoom = false;
  m_syncScroll = false;
  OnSyncScroll();
  OnSyncZoom();
  m_resultSaved = false;
}

void CMainFrame::OnResizeProgress(uintptr_t wParam, intptr_t lParam) {
  if (m_progressDlg && m_progressDlg->IsWindow())
    m_progressDlg->Update(static_cast<int>(wParam), static_cast<int>(lParam));
}

void CMainFrame::OnPercentCommit(intptr_t lParam) {
  m_percentEdit->setText(m_percentText);
  m_percentEdit->selectAll();
  m_percentEdit->setFocus();
  if (lParam != 0) OnResize();
}

void CMainFrame::OnPercentComboCommand(int notifyCode, int index) {
  if (notifyCode != kSelectionChange || index != m_percentCombo->count() - 1) return;
  CResizeDlg dialog(this);
  dialog.m_percent = static_cast<int>(std::lround(m_scale * 100.0));
  dialog.m_srcWidth = m_source ? static_cast<int>(FreeImage_GetWidth(m_source)) : 0;
  dialog.m_srcHeight = m_source ? static_cast<int>(FreeImage_GetHeight(m_source)) : 0;
  dialog.m_maxWidth = resize::MaxSide(dialog.m_srcWidth);
  dialog.m_maxHeight = resize::MaxSide(dialog.m_srcHeight);
  // The box already shows "Other..."; what it showed before is put back on Cancel.
  m_percentText = m_percentTextShown;
  intptr_t commit = 0;
  if (dialog.DoModal() == ids::IdOk) {
    m_percentText = QString::asprintf("%d%%", dialog.m_percent);
    m_typedWidth = dialog.m_typed == CResizeDlg::Typed::Width ? dialog.m_width : 0;
    m_typedHeight = dialog.m_typed == CResizeDlg::Typed::Height ? dialog.m_height : 0;
    commit = 1;
  }
  // Posted, so that the combo box has finished with the selection before its
  // text ("Other...") is replaced.
  platform::PostFrameMessage(this, WM_PERCENT_COMMIT, 0, commit);
}

void CMainFrame::OnPercentTextChanged(const QString& text) {
  if (text != m_percentCombo->itemText(m_percentCombo->count() - 1)) m_percentTextShown = text;
}
