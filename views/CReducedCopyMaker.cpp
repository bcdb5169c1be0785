#include "views/CReducedCopyMaker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <utility>

#include "views/BoxReduce.h"

namespace {

constexpr int kWorkerNice = 5;

using Picture = CReducedCopyMaker::Picture;

// A reduced copy of picture, top row first, or null when memory ran out or
// the work was stopped.
Picture Reduce(const views::DisplayBitmap& picture, QSize size, const std::atomic<bool>& cancel) {
  QImage copy(size, picture.ReducedFormat());
  if (copy.isNull()) return nullptr;
  const views::PixelRows out{copy.bits(), static_cast<ptrdiff_t>(copy.bytesPerLine()), copy.width(),
                             copy.height(), copy.depth() / 8};
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (!views::BoxReduce(picture.ReductionRows(), out, cancel, threads)) return nullptr;
  return views::DisplayBitmap::OfCopy(std::move(copy), picture);
}

QSize HalfSize(const views::DisplayBitmap& picture) {
  return {std::max(1, picture.Width() / 2), std::max(1, picture.Height() / 2)};
}

}  // namespace

CReducedCopyMaker::CReducedCopyMaker(QObject* receiver, CopyDone copyDone, SurveyDone surveyDone)
    : m_receiver(receiver), m_copyDone(std::move(copyDone)), m_surveyDone(std::move(surveyDone)) {}

CReducedCopyMaker::~CReducedCopyMaker() {
  Stop();
  for (Worker& worker : m_workers) worker.thread.join();
}

void CReducedCopyMaker::Launch(std::function<void(const std::atomic<bool>& cancel)> work) {
  JoinEnded();
  Worker worker{
      {}, std::make_shared<std::atomic<bool>>(false), std::make_shared<std::atomic<bool>>(false)};
  worker.thread =
      std::thread([work = std::move(work), cancel = worker.cancel, ended = worker.ended] {
        // Below the UI thread, so that the window answers while the work runs;
        // the threads a reduction starts inherit this.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
        work(*cancel);
        ended->store(true);
      });
  m_workers.push_back(std::move(worker));
}

void CReducedCopyMaker::Survey(Picture picture) {
  Launch([this, picture = std::move(picture),
          generation = m_generation](const std::atomic<bool>& cancel) {
    const std::optional<views::Survey> survey = picture->RunSurvey(cancel);
    if (!survey || cancel.load()) return;
    // The receiver drops the call if it is gone; it never is while a worker
    // runs, since its maker joins them first.
    QMetaObject::invokeMethod(
        m_receiver,
        [this, survey = *survey, generation] {
          if (generation == m_generation) m_surveyDone(survey);
        },
        Qt::QueuedConnection);
  });
}

void CReducedCopyMaker::Start(Picture picture, QSize size, double zoom) {
  for (Worker& worker : m_workers) worker.cancel->store(true);
  m_pending = zoom;
  Launch([this, picture = std::move(picture), size, zoom, known = m_halfLevel,
          generation = m_generation](const std::atomic<bool>& cancel) {
    // Copies of half the size or less are made from the half-size level,
    // a quarter of the pixels to read; the level is made once, by the
    // first of them, and a copy of just that size is the level itself.
    const QSize half = HalfSize(*picture);
    const bool fromLevel = size.width() <= half.width() && size.height() <= half.height();
    Picture level = known;
    if (fromLevel && !level) level = Reduce(*picture, half, cancel);
    Picture copy;
    if (fromLevel && level) {
      copy = size == half ? level : Reduce(*level, size, cancel);
    } else if (!cancel.load()) {
      copy = Reduce(*picture, size, cancel);
    }
    if (cancel.load()) return;
    QMetaObject::invokeMethod(
        m_receiver,
        [this, zoom, copy = std::move(copy), level = std::move(level), generation]() mutable {
          // A copy of a picture given up by Stop() is of no use.
          if (generation != m_generation) {
            Release(std::move(copy));
            Release(std::move(level));
            return;
          }
          if (!m_halfLevel) m_halfLevel = std::move(level);
          if (level != m_halfLevel) Release(std::move(level));
          if (m_pending == zoom) m_pending = 0.0;
          m_copyDone(zoom, std::move(copy));
        },
        Qt::QueuedConnection);
  });
}

void CReducedCopyMaker::Release(Picture copy) {
  if (!copy) return;
  JoinEnded();
  Worker worker{{},
                std::make_shared<std::atomic<bool>>(false),
                std::make_shared<std::atomic<bool>>(false),
                false};
  worker.thread = std::thread([copy = std::move(copy), ended = worker.ended]() mutable {
    copy.reset();
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
  Release(std::exchange(m_halfLevel, nullptr));
}

void CReducedCopyMaker::JoinEnded() {
  std::erase_if(m_workers, [](Worker& worker) {
    if (!worker.ended->load()) return false;
    worker.thread.join();
    return true;
  });
}
