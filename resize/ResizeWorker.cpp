#include "resize/ResizeWorker.h"

#include <QObject>
#include <QString>

#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/Prompts.h"

namespace {

// A box without owner, shown on the UI thread while the worker waits.
void ShowBox(platform::CJob& job, QObject* frame, const QString& text, const QString& caption,
             platform::MbIcon icon) {
  job.RunOnUiThread(frame, [text, caption, icon] {
    platform::MessageBox(nullptr, text, caption, icon, platform::MbButtons::Ok);
  });
}

}  // namespace

void ResizeWorker(platform::CJob& job, const ResizeRequest& request, QObject* frame,
                  std::mutex& imageLock, FIBITMAP*& result, std::string* notice) {
  std::unique_lock lock(imageLock);
  // A job abandoned while it waited for the lock has nothing left to do.
  if (job.IsAbandoned()) return;

  // Reports go through the job, so that they wait while it is paused.
  const resize::ResizeHooks hooks{
      [&](int stage, int value) {
        return job.AbandonedAfterSend(frame, WM_RESIZE_PROGRESS, static_cast<uintptr_t>(stage),
                                      value);
      },
      [&job] { return job.IsAbandoned() || job.IsPaused(); }, [&job] { return job.IsAbandoned(); },
      [&](const std::string& text, const std::string& caption) {
        ShowBox(job, frame, QString::fromLocal8Bit(text), QString::fromStdString(caption),
                platform::MbIcon::Error);
      }};
  FIBITMAP* made = nullptr;
  std::string leftOut;
  const resize::ResizeOutcome outcome = resize::ResizeImage(request, hooks, made, &leftOut);
  if (made && !job.Commit([&] {
        result = made;
        if (notice) *notice = leftOut;
      })) {
    FreeImage_Unload(made);
    made = nullptr;
  }
  if (outcome == resize::ResizeOutcome::Abandoned || job.IsAbandoned()) return;
  if (!made && outcome == resize::ResizeOutcome::Made)
    ShowBox(job, frame, QStringLiteral("Error. Can't create FIBITMAP."), QStringLiteral("Error"),
            platform::MbIcon::None);
  lock.unlock();
  job.PostDone(frame, WM_RESIZE_DONE, made ? 1 : 0);
}
