#include "views/CReducedCopyMaker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "views/BoxReduce.h"

namespace {

constexpr int kWorkerNice = 5;

// The copy, or a null image when memory ran out or the work was stopped.
QImage Reduce(const QImage& bottomUp, QSize size, const std::atomic<bool>& cancel) {
  QImage copy(size, bottomUp.format());
  if (copy.isNull()) return copy;
  const int bytes = bottomUp.depth() / 8;
  const views::PixelRows in{const_cast<uint8_t*>(bottomUp.constScanLine(bottomUp.height() - 1)),
                            -static_cast<ptrdiff_t>(bottomUp.bytesPerLine()), bottomUp.width(),
                            bottomUp.height(), bytes};
  const views::PixelRows out{copy.bits(), static_cast<ptrdiff_t>(copy.bytesPerLine()), copy.width(),
                             copy.height(), bytes};
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (!views::BoxReduce(in, out, cancel, threads)) return {};
  return copy;
}

}  // namespace

CReducedCopyMaker::CReducedCopyMaker(QObject* receiver, Done done)
    : m_receiver(receiver), m_done(std::move(done)) {}

CReducedCopyMaker::~CReducedCopyMaker() {
  Stop();
  for (Worker& worker : m_workers) worker.thread.join();
}

void CReducedCopyMaker::Start(const QImage& bottomUp, std::shared_ptr<const void> keepAlive,
                              QSize size, double zoom) {
  JoinEnded();
  for (Worker& worker : m_workers) worker.cancel->store(true);
  m_pending = zoom;
  Worker worker{
      {}, std::make_shared<std::atomic<bool>>(false), std::make_shared<std::atomic<bool>>(false)};
  worker.thread =
      std::thread([this, bottomUp, keepAlive = std::move(keepAlive), size, zoom,
                   generation = m_generation, cancel = worker.cancel, ended = worker.ended] {
        // Below the UI thread, so that the window answers while copies are made;
        // the threads the reduction starts inherit this.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
        const QImage copy = Reduce(bottomUp, size, *cancel);
        if (!cancel->load()) {
          // The receiver drops the call if it is gone; it never is while a
          // worker runs, since its maker joins them first.
          QMetaObject::invokeMethod(
              m_receiver,
              [this, zoom, copy, generation] {
                // A copy of a picture given up by Stop() is of no use.
                if (generation != m_generation) return;
                if (m_pending == zoom) m_pending = 0.0;
                m_done(zoom, copy);
              },
              Qt::QueuedConnection);
        }
        ended->store(true);
      });
  m_workers.push_back(std::move(worker));
}

void CReducedCopyMaker::Release(QImage copy) {
  if (copy.isNull()) return;
  JoinEnded();
  Worker worker{{},
                std::make_shared<std::atomic<bool>>(false),
                std::make_shared<std::atomic<bool>>(false),
                false};
  worker.thread = std::thread([copy = std::move(copy), ended = worker.ended]() mutable {
    copy = QImage();
    ended->store(true);
  });
  m_workers.push_back(std::move(worker));
}

void CReducedCopyMaker::Stop() {
  for (Worker& worker : m_workers) worker.cancel->store(true);
  std::erase_if(m_workers, [](Worker& worker) {
    if (!worker.reads) return false;
    worker.thread.join();
    return true;
  });
  m_pending = 0.0;
  ++m_generation;
}

void CReducedCopyMaker::JoinEnded() {
  std::erase_if(m_workers, [](Worker& worker) {
    if (!worker.ended->load()) return false;
    worker.thread.join();
    return true;
  });
}
