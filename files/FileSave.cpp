// Saving the result: the unsaved-result prompt, the Save Resized As
// command, its worker and its done message.
#include <QFileInfo>
#include <QLabel>
#include <mutex>
#include <utility>

#include "app/CMainFrame.h"
#include "files/CJpegOptionsDlg.h"
#include "files/CWaitDlg.h"
#include "files/ImageFiles.h"
#include "files/SaveFailure.h"
#include "files/SaveLimits.h"
#include "files/Remembered.h"
#include "files/SaveNames.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/NoThrow.h"
#include "platform/PathBytes.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

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
  const files::SaveFormat& format = files::SaveFormatOf(choice->filterIndex);

  // A picture the chosen type cannot hold is refused before any work.
  const std::string tooLarge =
      files::FormatLimitFailure(format.fif, FreeImage_GetWidth(m_result),
                                FreeImage_GetHeight(m_result), FreeImage_GetBPP(m_result));
  if (!tooLarge.empty()) {
    m_saveFormat = choice->filterIndex;
    m_saveFailedName = files::FileNamePart(files::FinalSaveName(chosen, m_saveFormat));
    m_saveFailure = "too large for its format: " + tooLarge;
    ShowSaveFailure(m_saveFailedName, m_saveFailure);
    platform::MessageBox(
        this, QStringLiteral("Can't save image.\n\n%1.").arg(QString::fromStdString(tooLarge)),
        QStringLiteral("Error"), platform::MbIcon::Error, platform::MbButtons::Ok);
    return;
  }
  if (format.fif == FIF_JPEG && !ChooseJpegOptions()) return;

  const std::shared_ptr<platform::CJob> job = StartWaitJob(&CMainFrame::SaveWorker);
  if (!job) return;
  m_savePath = chosen;
  m_saveFormat = choice->filterIndex;
  m_saveProgress = -1;
  WaitDlg().m_progress = &m_saveProgress;
  RunWaitJob(job, WM_SAVE_DONE, QStringLiteral("Saving picture..."));
  WaitDlg().m_progress = nullptr;
}

bool CMainFrame::ChooseJpegOptions() {
  if (!m_jpegChoicesRead) {
    m_jpegChoices = files::ReadJpegChoices();
    m_jpegChoicesRead = true;
  }
  CJpegOptionsDlg dialog(m_jpegChoices, DialogOwner());
  if (!platform::ExecDialog(dialog)) return false;
  m_jpegChoices = dialog.Choices();
  files::WriteJpegChoices(m_jpegChoices);
  return true;
}

void CMainFrame::ShowSaveFailure(const std::string& name, const std::string& reason) {
  m_readyLabel->setText(QStringLiteral("Cannot save %1: %2.")
                            .arg(platform::PathText(name), QString::fromStdString(reason)));
}

QString CMainFrame::SaveFolder() const {
  const QString last = files::LastFolder(files::FileDialogKind::Save);
  if (!last.isEmpty() || m_sourcePasted) return last;
  return platform::PathText(files::FolderPart(m_sourcePath));
}

void CMainFrame::SaveWorker(platform::CJob& job) {
  std::string name;
  FREE_IMAGE_FORMAT fif = FIF_UNKNOWN;
  int flags = 0;
  {
    std::lock_guard lock(m_imageLock);
    if (!job.Commit([&] {
          name = files::FinalSaveName(m_savePath, m_saveFormat);
          fif = files::SaveFormatOf(m_saveFormat).fif;
          if (fif == FIF_JPEG) flags = files::JpegSaveFlags(m_jpegChoices);
        })) {
      return;
    }
  }
  bool written = false;
  std::string leftOut;
  int error = 0;
  {
    // The target is replaced only by a complete file; anything else leaves
    // it as it was and takes the temporary file away.
    files::CReplacingFile file(name);
    error = file.Error();
    files::WriteExtras extras;
    extras.error = &error;
    extras.progress = [this, &job](double share) {
      if (!job.IsAbandoned()) m_saveProgress = static_cast<int>(share * 1000);
    };
    written = file.Stream() && platform::NoThrow([&] {
                return files::WriteImage(
                    m_result, fif, file.Stream(), [&job] { return job.IsAbandoned(); }, &leftOut,
                    flags, extras);
              });
    if (written && !job.Commit([&] {
          written = file.Replace();
          m_metadataNotice = leftOut;
        }))
      written = false;
    if (!written && file.Error() != 0) error = file.Error();
  }
  const std::string reason = files::SaveFailureReason(error, name);
  if (!written) {
    job.Commit([&] {
      m_saveFailedName = files::FileNamePart(name);
      m_saveFailure = reason;
    });
  }
  job.PostDone(this, WM_SAVE_DONE, written ? 1 : 0);
}

void CMainFrame::OnSaveDone(uintptr_t wParam, intptr_t lParam,
                            const std::shared_ptr<platform::CJob>& job) {
  const WaitOutcome outcome = SettleWaitJob(wParam, job);
  if (outcome != WaitOutcome::Completed) return;
  if (lParam != 0) {
    m_resultSaved = true;
    // The words of an earlier save, failed or not, no longer hold.
    if (!std::exchange(m_saveFailure, {}).empty() || m_readyLabel->text() == m_saveWords)
      m_readyLabel->setText(res::LoadString(ids::StrReady));
    ShowMetadataNotice();
    ShowDepthNotice();
    if (files::SaveFormatOf(m_saveFormat).fif == FIF_JPEG)
      AddStatusNote(files::QualityBelowSourceNote(m_jpegChoices.quality,
                                                  files::EstimateJpegQuality(m_sourcePath)));
    m_saveWords = m_readyLabel->text();
    return;
  }
  if (!m_saveFailure.empty()) ShowSaveFailure(m_saveFailedName, m_saveFailure);
  platform::MessageBox(this, QStringLiteral("Can't save image."), QStringLiteral("Error"),
                       platform::MbIcon::Error, platform::MbButtons::Ok);
}

void CMainFrame::ShowDepthNotice() {
  if (!m_source || !m_result || m_depthNotedFor == m_result || m_scale < 1.0) return;
  const FREE_IMAGE_TYPE source = FreeImage_GetImageType(m_source);
  const bool deep = source == FIT_RGB16 || source == FIT_RGBA16 || source == FIT_UINT16;
  if (!deep || FreeImage_GetImageType(m_result) != FIT_BITMAP) return;
  m_depthNotedFor = m_result;
  AddStatusNote("Saved with 8 bits a channel: enlargements are made in 8 bits, the source has 16.");
}

void CMainFrame::AddStatusNote(const std::string& note) {
  if (note.empty()) return;
  const QString text = QString::fromStdString(note);
  // After the save's own words, if it has any; in place of "Ready" otherwise.
  const QString shown = m_readyLabel->text();
  const bool alone = shown == res::LoadString(ids::StrReady);
  m_readyLabel->setText(alone ? text : shown + QStringLiteral("  ") + text);
}

void CMainFrame::ShowMetadataNotice() {
  if (!m_metadataNotice.empty()) m_readyLabel->setText(QString::fromStdString(m_metadataNotice));
}
