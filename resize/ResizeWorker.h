#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <mutex>
#include <string>

class QObject;
namespace platform {
class CJob;
}

// What a resize job works on, taken by value when the job starts so that a
// later job never changes an earlier one's inputs.
struct ResizeRequest {
  FIBITMAP* source = nullptr;  // read only, under the image lock
  double scale = 1.0;          // percent / 100
  int width = 0;               // target size
  int height = 0;
  bool cropToBudget = false;  // memory is short: enlarge a centred part only
  uint64_t pixelBudget = 0;   // pixels the job may produce while cropping
};

// The resize job's thread routine. Runs on the worker thread and holds
// imageLock for the whole job; sends WM_RESIZE_PROGRESS to frame and posts
// WM_RESIZE_DONE after leaving the lock; shows its failures on the UI thread.
// It writes result only through the job's Commit, and a job that was
// abandoned frees whatever it made, ends without a message and posts nothing.
// With the result, notice receives the status bar's word on metadata too
// large to carry (empty when all was carried).
void ResizeWorker(platform::CJob& job, const ResizeRequest& request, QObject* frame,
                  std::mutex& imageLock, FIBITMAP*& result, std::string* notice = nullptr);
