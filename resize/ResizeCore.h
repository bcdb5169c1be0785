#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <string>

// What a resize job works on, taken by value when the job starts so that a
// later job never changes an earlier one's inputs.
struct ResizeRequest {
  FIBITMAP* source = nullptr;  // read only while the job runs
  double scale = 1.0;          // percent / 100
  int width = 0;               // target size
  int height = 0;
  bool cropToBudget = false;  // memory is short: enlarge a centred part only
  uint64_t pixelBudget = 0;   // pixels the job may produce while cropping
};

// The resize itself, without a window: the reduction through the strip-wise
// Lanczos3 filter, the enlargement through the engine, and the source's
// metadata carried to the result. The window's worker and the command-line
// tool both run it, so that both make the same bytes. Runs on the calling
// thread (and threads of its own); every hook is called on that thread
// unless said otherwise.
namespace resize {

struct ResizeHooks {
  // A progress report: the engine's stage (0 keeps the current one) and the
  // step value 0..255. True once the job is abandoned.
  std::function<bool(int stage, int value)> report;
  // Asked by the reduction's threads between scanlines, from any thread:
  // true cuts its strips short, so that report is asked at once.
  std::function<bool()> interrupted;
  // True once the job is abandoned.
  std::function<bool()> abandoned;
  // A failure worth telling the user: its text and its caption.
  std::function<void(const std::string& text, const std::string& caption)> failed;
};

enum class ResizeOutcome {
  Made,               // made holds the result, or null when none could be made
  FailedWithMessage,  // failed has been told; made is null
  Abandoned,          // stopped early; made is null
};

// Resizes request.source to request.width x request.height: below a scale of
// 1 by the reduction, from 1 on by the engine. The result, owned by the
// caller, carries the source's profile and metadata sized for itself;
// notice, when given, receives the word on metadata too large to carry
// (empty when all was carried).
ResizeOutcome ResizeImage(const ResizeRequest& request, const ResizeHooks& hooks, FIBITMAP*& made,
                          std::string* notice = nullptr);

}  // namespace resize
