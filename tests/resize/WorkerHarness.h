#pragma once

#include <FreeImage.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "resize/ResizeWorker.h"

// Stands in for the frame when the worker is driven without widgets: records
// the progress reports and done messages it receives on the UI thread.
class FakeFrame : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != platform::FrameMessageEvent::kType) return QObject::event(e);
    auto* m = static_cast<platform::FrameMessageEvent*>(e);
    if (m->message == WM_RESIZE_PROGRESS) {
      reports.emplace_back(static_cast<int>(m->wParam), static_cast<int>(m->lParam));
      if (onReport) onReport(m->job);
    } else if (m->message == WM_RESIZE_DONE) {
      done.push_back(static_cast<int>(m->lParam));
    }
    return true;
  }

  std::vector<std::pair<int, int>> reports;
  std::vector<int> done;
  std::function<void(const std::shared_ptr<platform::CJob>&)> onReport;
};

// One frame's worth of job state: the lock and the result the worker writes.
struct WorkerRig {
  FakeFrame frame;
  std::mutex imageLock;
  FIBITMAP* result = nullptr;

  ~WorkerRig() {
    if (result) FreeImage_Unload(result);
  }

  std::shared_ptr<platform::CJob> Start(const ResizeRequest& request) {
    return platform::CJob::Start([this, request](platform::CJob& job) {
      ResizeWorker(job, request, &frame, imageLock, result);
    });
  }

  // Handles the UI thread's events until the job has ended and its messages
  // are in, or the bound has passed; true when the job ended.
  bool WaitForEnd(const std::shared_ptr<platform::CJob>& job, int boundMs = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < boundMs) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      if (job->HasEnded()) {
        QCoreApplication::processEvents();
        return true;
      }
    }
    return false;
  }

  bool LockIsFree() {
    std::unique_lock lock(imageLock, std::try_to_lock);
    return lock.owns_lock();
  }
};

inline ResizeRequest RequestFor(FIBITMAP* source, int percent) {
  ResizeRequest request;
  request.source = source;
  request.scale = percent / 100.0;
  request.width = static_cast<int>(FreeImage_GetWidth(source) * request.scale);
  request.height = static_cast<int>(FreeImage_GetHeight(source) * request.scale);
  return request;
}

// A 24-bit picture with some structure, so that enlarging it does real work.
inline FIBITMAP* MakePicture(unsigned width, unsigned height) {
  FIBITMAP* bitmap = FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 24);
  for (unsigned y = 0; y < height; ++y) {
    BYTE* line = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) {
      line[x * 3 + 0] = static_cast<BYTE>((x * 7) ^ (y * 3));
      line[x * 3 + 1] = static_cast<BYTE>(x + y);
      line[x * 3 + 2] = static_cast<BYTE>(((x / 8 + y / 8) % 2) * 200);
    }
  }
  return bitmap;
}
