#include "views/CReducedCopyMaker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "views/BoxReduce.h"

namespace {

constexpr int kWorkerNice = 5;

// A reduced copy of picture, top row first, or a null image when memory ran
// out or the work was stopped.
QImage Reduce(const QImage& picture, bool bottomUp, QSize size, const std::atomic<bool>& cancel) {
  QImage copy(size, picture.format());
  if (copy.isNull()) return copy;
  const int bytes = picture.depth() / 8;
  const ptrdiff_t pitch = static_cast<ptrdiff_t>(picture.bytesPerLine());
  const views::PixelRows in{
      const_cast<uint8_t*>(picture.constScanLine(bottomUp ? picture.height() - 1 : 0)),
      bottomUp ? -pitch : pitch, picture.width(), picture.height(), bytes};
  const views::PixelRows out{copy.bits(), static_cast<ptrdiff_t>(copy.bytesPerLine()), copy.width(),
                             copy.height(), bytes};
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (!views::BoxReduce(in, out, cancel, threads)) return {};
  return copy;
}

QSize HalfSize(const QImage& picture) {
  return {std::max(1, picture.width() / 2), std::max(1, picture.height() / 2)};
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
  worker.thread = std::thread([this, bottomUp, keepAlive = std::move(keepAlive), size, zoom,
                               known = m_halfLevel, generation = m_generation,
                               cancel = worker.cancel, ended = worker.ended] {
    // Below the UI thread, so that the window answers while copies are made;
    // the threads the reduction starts inherit this.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
    // Copies of half the size or less are made from the half-size level,
    // a quarter of the pixels to read; the level is made once, by the
    // first of them, and a copy of just that size is the level itself.
    const QSize half = HalfSize(bottomUp);
    const bool fromLevel = size.width() <= half.width() && size.height() <= half.height();
    QImage level = known;
    if (fromLevel && level.isNull()) level = Reduce(bottomUp, true, half, *cancel);
    QImage copy;
    if (fromLevel && !level.isNull()) {
      copy = size == level.size() ? level : Reduce(level, false, size, *cancel);
    } else if (!cancel->load()) {
      copy = Reduce(bottomUp, true, size, *cancel);
    }
    if (!cancel->load()) {
      // The receiver drops the call if it is gone; it never is while a
      // worker runs, since its maker joins them first.
      QMetaObject::invokeMethod(
          m_receiver,
          [this, zoom, copy, level, generation] {
            // A copy of a picture given up by Stop() is of no use.
            if (generation != m_generation) return;
            if (m_halfLevel.isNull()) m_halfLevel = level;
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
  Release(std::exchange(m_halfLevel, QImage()));
}

void CReducedCopyMaker::JoinEnded() {
  std::erase_if(m_workers, [](Worker& worker) {
    if (!worker.ended->load()) return false;
    worker.thread.join();
    return true;
  });
}
