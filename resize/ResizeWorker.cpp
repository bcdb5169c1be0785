#include "resize/ResizeWorker.h"

#include <QObject>
#include <QString>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "engine/ampliscale.h"
#include "files/ImageMetadata.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/NoThrow.h"
#include "platform/Prompts.h"
#include "resize/AlphaEnlarge.h"
#include "resize/CEngineBuffers.h"
#include "resize/LanczosReduction.h"
#include "resize/ResizeRules.h"

namespace {

// How the enlargement ended short of a bitmap.
enum class Outcome { Made, FailedWithMessage, Failed, Abandoned };

// The engine's window: its progress reports go through the job, so that they
// wait while the job is paused and tell the engine to stop once abandoned.
struct EngineLink {
  AmpliscaleWindow window;
  platform::CJob* job;
  QObject* frame;
};

intptr_t SendFromEngine(AmpliscaleWindow* window, unsigned message, uintptr_t wParam,
                        intptr_t lParam) {
  auto* link = static_cast<EngineLink*>(window->context);
  return link->job->AbandonedAfterSend(link->frame, message, wParam, lParam) ? 1 : 0;
}

// A box without owner, shown on the UI thread while the worker waits.
void ShowBox(platform::CJob& job, QObject* frame, const QString& text, const QString& caption,
             platform::MbIcon icon) {
  job.RunOnUiThread(frame, [text, caption, icon] {
    platform::MessageBox(nullptr, text, caption, icon, platform::MbButtons::Ok);
  });
}

bool AbandonedAfterReport(platform::CJob& job, QObject* frame, int value) {
  return job.AbandonedAfterSend(frame, WM_RESIZE_PROGRESS, 0, value);
}

Outcome Reduce(platform::CJob& job, const ResizeRequest& request, QObject* frame, FIBITMAP*& made) {
  if (AbandonedAfterReport(job, frame, 128)) return Outcome::Abandoned;
  // A target with no pixels is no picture: only the end of the job reports it.
  if (request.width <= 0 || request.height <= 0)
    return AbandonedAfterReport(job, frame, 255) ? Outcome::Abandoned : Outcome::Made;
  errno = 0;
  // The strips fill the second half of the step bar.
  made = platform::NoThrow([&] {
    return resize::LanczosReduce(
        request.source, request.width, request.height,
        [&](int share) { return AbandonedAfterReport(job, frame, 128 + share * 127 / 255); },
        [&job] { return job.IsAbandoned() || job.IsPaused(); });
  });
  if (job.IsAbandoned()) return Outcome::Abandoned;
  if (!made) {
    // The reduction fails only when it cannot allocate.
    const int error = errno != 0 ? errno : ENOMEM;
    ShowBox(job, frame, QString::fromLocal8Bit(std::strerror(error)), QStringLiteral("Error:"),
            platform::MbIcon::Error);
  }
  return AbandonedAfterReport(job, frame, 255) ? Outcome::Abandoned : Outcome::Made;
}

Outcome Enlarge(platform::CJob& job, const ResizeRequest& request, QObject* frame,
                FIBITMAP*& made) {
  const int64_t width = request.width;
  const int64_t height = request.height;
  const uint64_t stride = resize::CompactStride(static_cast<uint64_t>(width));
  // A result FreeImage cannot hold is not worth the engine's time; the end of
  // the job reports it.
  if (width <= 0 || height <= 0 || stride > INT_MAX) return Outcome::Made;

  CEngineBuffers buffers;
  const resize::Region region =
      resize::SourceRegion(FreeImage_GetWidth(request.source), FreeImage_GetHeight(request.source),
                           {width, height}, request.cropToBudget, request.pixelBudget);
  CEngineBuffers::SourceHeader header;
  uint8_t* source = platform::NoThrow([&] {
    return buffers.CreateSource(request.source, region, header,
                                [&job] { return job.IsAbandoned(); });
  });
  if (job.IsAbandoned()) return Outcome::Abandoned;
  if (!source) {
    ShowBox(job, frame, QStringLiteral("Source bitmap hasn't been created"),
            QStringLiteral("Memory allocation error"), platform::MbIcon::Error);
    return Outcome::FailedWithMessage;
  }

  uint8_t* dest = buffers.CreateDest(width, height);
  if (!dest) {
    ShowBox(job, frame, QString::fromStdString(resize::NotEnoughMemoryText(width, height)),
            QStringLiteral("Memory allocation error"), platform::MbIcon::Error);
    return Outcome::FailedWithMessage;
  }

  // The alpha has a run of its own, before the colour run needs the buffer.
  resize::CAlphaEnlarger alpha;
  if (resize::HasAlpha(source, header.width, header.height)) {
    if (!alpha.Enlarge(source, header.width, header.height, dest, request.width, request.height,
                       [&](int value) { return AbandonedAfterReport(job, frame, value); }))
      return job.IsAbandoned() ? Outcome::Abandoned : Outcome::Made;
    resize::BleedColourUnderTransparency(source, header.width, header.height);
  }

  EngineLink link{{&SendFromEngine, nullptr}, &job, frame};
  link.window.context = &link;
  DllInit(&link.window);
  DllSetSourceImage(header.width, header.height, source);
  DllSetDestImage(request.width, request.height, dest);

  DllFilter();
  if (job.IsAbandoned()) return Outcome::Abandoned;
  DllNextStage();
  if (job.IsAbandoned()) return Outcome::Abandoned;
  DllNextStage();
  if (job.IsAbandoned()) return Outcome::Abandoned;

  // In place, row by row: no second full-size buffer. With an alpha the rows
  // keep their four bytes and take the alpha as the fourth.
  for (uint64_t row = 0; row < static_cast<uint64_t>(height); ++row) {
    if (alpha.HasResult())
      alpha.PutRow(dest, row);
    else
      resize::CompactRowTo24(dest, row, static_cast<uint64_t>(width), stride);
    if (AbandonedAfterReport(job, frame,
                             resize::CompactionReport(row, static_cast<uint64_t>(height))))
      return Outcome::Abandoned;
  }
  // At 24 and 32 bits FreeImage takes the bytes as they stand, whatever the masks.
  const bool withAlpha = alpha.HasResult();
  const uint64_t pitch = withAlpha ? static_cast<uint64_t>(width) * 4 : stride;
  if (pitch <= INT_MAX)
    made = platform::NoThrow([&] {
      return FreeImage_ConvertFromRawBits(dest, request.width, request.height,
                                          static_cast<int>(pitch), withAlpha ? 32 : 24, 0xFF,
                                          0xFF00, 0xFF0000, TRUE);
    });
  return Outcome::Made;
}

// The result carries the source's profile and metadata, sized for itself.
std::string CarrySourceMetadata(const ResizeRequest& request, FIBITMAP* made) {
  const resize::Region region = resize::SourceRegion(
      FreeImage_GetWidth(request.source), FreeImage_GetHeight(request.source),
      {request.width, request.height}, request.cropToBudget, request.pixelBudget);
  if (region.Width() <= 0 || region.Height() <= 0) return {};
  return files::CarryMetadata(request.source, made, double(request.width) / double(region.Width()),
                              double(request.height) / double(region.Height()));
}

}  // namespace

void ResizeWorker(platform::CJob& job, const ResizeRequest& request, QObject* frame,
                  std::mutex& imageLock, FIBITMAP*& result, std::string* notice) {
  std::unique_lock lock(imageLock);
  // A job abandoned while it waited for the lock has nothing left to do.
  if (job.IsAbandoned()) return;

  FIBITMAP* made = nullptr;
  const Outcome outcome =
      request.scale < 1.0 ? Reduce(job, request, frame, made) : Enlarge(job, request, frame, made);
  std::string leftOut;
  if (made && outcome == Outcome::Made) leftOut = CarrySourceMetadata(request, made);
  if (made && (outcome == Outcome::Abandoned || !job.Commit([&] {
        result = made;
        if (notice) *notice = leftOut;
      }))) {
    FreeImage_Unload(made);
    made = nullptr;
  }
  if (outcome == Outcome::Abandoned || job.IsAbandoned()) return;
  if (!made && outcome == Outcome::Made)
    ShowBox(job, frame, QStringLiteral("Error. Can't create FIBITMAP."), QStringLiteral("Error"),
            platform::MbIcon::None);
  lock.unlock();
  job.PostDone(frame, WM_RESIZE_DONE, made ? 1 : 0);
}
