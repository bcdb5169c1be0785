// Saving the result: the unsaved-result prompt, the Save Resized As
// command, its worker and its done message.
#include <QFileInfo>
#include <QLabel>
#include <mutex>

#include "app/CMainFrame.h"
#include "files/ImageFiles.h"
#include "files/Remembered.h"
#include "files/SaveNames.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/NoThrow.h"
#include "platform/PathBytes.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"

bool CMainFrame::SettleUnsavedResult() {
  EndWorker();
  if (m_resultSaved) return true;
  int answer = platform::MessageBox(this, QStringLiteral("Do you want to save the resized image?"),
                                    QStringLiteral("Confirm"), platform::MbIcon::Question,
                                    platform::MbButtons::YesNoCancel);
  if (answer == ids::IdYes) {
    // A cancelled, failed or aborted save keeps the result, as Cancel does.
    OnSaveResizedAs();
    return m_resultSaved;
  }
  return answer == ids::IdNo;
}

void CMainFrame::OnSaveResizedAs() {
  if (!m_result) return;
  m_savePath = files::ProposedSaveName(m_sourcePasted ? "pasted" : m_sourcePath, m_scale);

  std::vector<platform::FileFilter> filters;
  for (const files::SaveFormat& format : files::SaveFormats()) {
    filters.push_back({QString::fromUtf8(format.description), QString::fromUtf8(format.patterns)});
  }
  // The dialog starts in the folder it was last left in, in this run or
  // before, else beside the source; with the type chosen last in this run.
  // It settles the name the type's extension makes before it asks
  // about replacing a file, so that the file asked about is the one written.
  const std::optional<platform::FileChoice> choice = platform::GetSaveFileName(
      DialogOwner(), filters, platform::PathText(m_savePath), SaveFolder(), m_saveFormat,
      [](const QString& typed, int index) {
        return platform::PathText(files::FinalSaveName(platform::PathBytes(typed), index));
      });
  if (!choice) return;
  const std::string chosen = platform::PathBytes(choice->path);
  files::RememberFolder(files::FileDialogKind::Save, QFileInfo(choice->path).absolutePath());

  const std::shared_ptr<platform::CJob> job = StartWaitJob(&CMainFrame::SaveWorker);
  if (!job) return;
  m_savePath = chosen;
  m_saveFormat = choice->filterIndex;
  RunWaitJob(job, WM_SAVE_DONE, QStringLiteral("Saving picture..."));
}

QString CMainFrame::SaveFolder() const {
  const QString last = files::LastFolder(files::FileDialogKind::Save);
  if (!last.isEmpty() || m_sourcePasted) return last;
  return platform::PathText(files::FolderPart(m_sourcePath));
}

void CMainFrame::SaveWorker(platform::CJob& job) {
  std::string name;
  FREE_IMAGE_FORMAT fif = FIF_UNKNOWN;
  {
    std::lock_guard lock(m_imageLock);
    if (!job.Commit([&] {
          name = files::FinalSaveName(m_savePath, m_saveFormat);
          fif = files::SaveFormatOf(m_saveFormat).fif;
        })) {
      return;
    }
  }
  bool written = false;
  std::string leftOut;
  {
    // The target is replaced only by a complete file; anything else leaves
    // it as it was and takes the temporary file away.
    files::CReplacingFile file(name);
    written = platform::NoThrow([&] {
      return files::WriteImage(
          m_result, fif, file.Stream(), [&job] { return job.IsAbandoned(); }, &leftOut);
    });
    if (written && !job.Commit([&] {
          written = file.Replace();
          m_metadataNotice = leftOut;
        }))
      written = false;
  }
  job.PostDone(this, WM_SAVE_DONE, written ? 1 : 0);
}

void CMainFrame::OnSaveDone(uintptr_t wParam, intptr_t lParam,
                            const std::shared_ptr<platform::CJob>& job) {
  const WaitOutcome outcome = SettleWaitJob(wParam, job);
  if (outcome != WaitOutcome::Completed) return;
  if (lParam != 0) {
    m_resultSaved = true;
    ShowMetadataNotice();
    return;
  }
  platform::MessageBox(this, QStringLiteral("Can't save image."), QStringLiteral("Error"),
                       platform::MbIcon::Error, platform::MbButtons::Ok);
}

void CMainFrame::ShowMetadataNotice() {
  if (!m_metadataNotice.empty()) m_readyLabel->setText(QString::fromStdString(m_metadataNotice));
}
