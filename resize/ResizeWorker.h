#pragma once

#include <FreeImage.h>

#include <mutex>
#include <string>

#include "resize/ResizeCore.h"

class QObject;
namespace platform {
class CJob;
}

// The resize job's thread routine. Runs on the worker thread and holds
// imageLock for the whole job; sends WM_RESIZE_PROGRESS to frame and posts
// WM_RESIZE_DONE after leaving the lock; shows its failures on the UI thread.
// It writes result only through the job's Commit, and a job that was
// abandoned frees whatever it made, ends without a message and posts nothing.
// With the result, notice receives the status bar's word on metadata too
// large to carry (empty when all was carried).
void ResizeWorker(platform::CJob& job, const ResizeRequest& request, QObject* frame,
                  std::mutex& imageLock, FIBITMAP*& result, std::string* notice = nullptr);
