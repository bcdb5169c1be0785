#pragma once

#include <FreeImage.h>

#include <mutex>

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
void ResizeWorker(platform::CJob& job, const ResizeRequest& request, QObject* frame,
                  std::mutex& imageLock, FIBITMAP*& result);
