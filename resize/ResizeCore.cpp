#include "resize/ResizeCore.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "engine/ampliscale.h"
#include "files/ImageMetadata.h"
#include "platform/NoThrow.h"
#include "resize/AlphaEnlarge.h"
#include "resize/CEngineBuffers.h"
#include "resize/LanczosReduction.h"
#include "resize/ResizeRules.h"

namespace resize {
namespace {

constexpr char kAllocationCaption[] = "Memory allocation error";

// The engine's window: its progress reports go through the hooks, so that
// they wait while the job is paused and tell the engine to stop once
// abandoned.
struct EngineLink {
  AmpliscaleWindow window;
  const ResizeHooks* hooks;
};

intptr_t SendFromEngine(AmpliscaleWindow* window, unsigned, uintptr_t wParam, intptr_t lParam) {
  const auto* link = static_cast<EngineLink*>(window->context);
  return link->hooks->report(static_cast<int>(wParam), static_cast<int>(lParam)) ? 1 : 0;
}

bool AbandonedAfterReport(const ResizeHooks& hooks, int value) { return hooks.report(0, value); }

ResizeOutcome Reduce(const ResizeRequest& request, const ResizeHooks& hooks, FIBITMAP*& made) {
  if (AbandonedAfterReport(hooks, 128)) return ResizeOutcome::Abandoned;
  // A target with no pixels is no picture: only the end of the job reports it.
  if (request.width <= 0 || request.height <= 0)
    return AbandonedAfterReport(hooks, 255) ? ResizeOutcome::Abandoned : ResizeOutcome::Made;
  errno = 0;
  // The strips fill the second half of the step bar.
  made = platform::NoThrow([&] {
    return LanczosReduce(
        request.source, request.width, request.height,
        [&](int share) { return AbandonedAfterReport(hooks, 128 + share * 127 / 255); },
        hooks.interrupted);
  });
  if (hooks.abandoned()) return ResizeOutcome::Abandoned;
  // The reduction fails only when it cannot allocate.
  if (!made) hooks.failed(std::strerror(errno != 0 ? errno : ENOMEM), "Error:");
  return AbandonedAfterReport(hooks, 255) ? ResizeOutcome::Abandoned : ResizeOutcome::Made;
}

ResizeOutcome Enlarge(const ResizeRequest& request, const ResizeHooks& hooks, FIBITMAP*& made) {
  const int64_t width = request.width;
  const int64_t height = request.height;
  const uint64_t stride = CompactStride(static_cast<uint64_t>(width));
  // A result FreeImage cannot hold is not worth the engine's time; the end of
  // the job reports it.
  if (width <= 0 || height <= 0 || stride > INT_MAX) return ResizeOutcome::Made;

  CEngineBuffers buffers;
  const Region region =
      SourceRegion(FreeImage_GetWidth(request.source), FreeImage_GetHeight(request.source),
                   {width, height}, request.cropToBudget, request.pixelBudget);
  CEngineBuffers::SourceHeader header;
  uint8_t* source = platform::NoThrow(
      [&] { return buffers.CreateSource(request.source, region, header, hooks.abandoned); });
  if (hooks.abandoned()) return ResizeOutcome::Abandoned;
  if (!source) {
    hooks.failed("Source bitmap hasn't been created", kAllocationCaption);
    return ResizeOutcome::FailedWithMessage;
  }

  uint8_t* dest = buffers.CreateDest(width, height);
  if (!dest) {
    hooks.failed(NotEnoughMemoryText(width, height), kAllocationCaption);
    return ResizeOutcome::FailedWithMessage;
  }

  // The alpha has a run of its own, before the colour run needs the buffer.
  CAlphaEnlarger alpha;
  if (HasAlpha(source, header.width, header.height)) {
    if (!alpha.Enlarge(source, header.width, header.height, dest, request.width, request.height,
                       [&](int value) { return AbandonedAfterReport(hooks, value); }))
      return hooks.abandoned() ? ResizeOutcome::Abandoned : ResizeOutcome::Made;
    BleedColourUnderTransparency(source, header.width, header.height);
  }

  EngineLink link{{&SendFromEngine, nullptr}, &hooks};
  link.window.context = &link;
  DllInit(&link.window);
  DllSetSourceImage(header.width, header.height, source);
  DllSetDestImage(request.width, request.height, dest);

  DllFilter();
  if (hooks.abandoned()) return ResizeOutcome::Abandoned;
  DllNextStage();
  if (hooks.abandoned()) return ResizeOutcome::Abandoned;
  DllNextStage();
  if (hooks.abandoned()) return ResizeOutcome::Abandoned;

  // In place, row by row: no second full-size buffer. With an alpha the rows
  // keep their four bytes and take the alpha as the fourth.
  for (uint64_t row = 0; row < static_cast<uint64_t>(height); ++row) {
    if (alpha.HasResult())
      alpha.PutRow(dest, row);
    else
      CompactRowTo24(dest, row, static_cast<uint64_t>(width), stride);
    if (AbandonedAfterReport(hooks, CompactionReport(row, static_cast<uint64_t>(height))))
      return ResizeOutcome::Abandoned;
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
  return ResizeOutcome::Made;
}

// The result carries the source's profile and metadata, sized for itself.
std::string CarrySourceMetadata(const ResizeRequest& request, FIBITMAP* made) {
  const Region region =
      SourceRegion(FreeImage_GetWidth(request.source), FreeImage_GetHeight(request.source),
                   {request.width, request.height}, request.cropToBudget, request.pixelBudget);
  if (region.Width() <= 0 || region.Height() <= 0) return {};
  return files::CarryMetadata(request.source, made, double(request.width) / double(region.Width()),
                              double(request.height) / double(region.Height()));
}

}  // namespace

ResizeOutcome ResizeImage(const ResizeRequest& request, const ResizeHooks& hooks, FIBITMAP*& made,
                          std::string* notice) {
  made = nullptr;
  const ResizeOutcome outcome =
      request.scale < 1.0 ? Reduce(request, hooks, made) : Enlarge(request, hooks, made);
  if (made && outcome != ResizeOutcome::Made) {
    FreeImage_Unload(made);
    made = nullptr;
  }
  if (made) {
    std::string leftOut = CarrySourceMetadata(request, made);
    if (notice) *notice = std::move(leftOut);
  }
  return outcome;
}

}  // namespace resize
