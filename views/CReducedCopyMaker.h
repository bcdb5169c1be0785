#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Makes box-reduced copies of a view's picture on worker threads, so that the
// view keeps answering while a copy is made. Called on the UI thread only.
// A worker reads the rows it was given for as long as it runs: it shares the
// ownership of them through keepAlive, and pixels that nobody can share (a
// bitmap the view only borrows) are read no more once Stop() has returned,
// which stops every worker at its next row and waits for it.
class CReducedCopyMaker {
 public:
  // done runs on the UI thread, in receiver's thread, with each finished copy
  // (a null image when it could not be made) and the zoom it was made for.
  using Done = std::function<void(double zoom, const QImage& copy)>;
  CReducedCopyMaker(QObject* receiver, Done done);
  ~CReducedCopyMaker();
  CReducedCopyMaker(const CReducedCopyMaker&) = delete;
  CReducedCopyMaker& operator=(const CReducedCopyMaker&) = delete;

  // Starts a copy of bottomUp (rows stored bottom row first) reduced to size,
  // top row first, in the same format; workers still making an older copy
  // are told to stop, so that quick requests never pile up. The picture is
  // the same for every call until Stop().
  void Start(const QImage& bottomUp, std::shared_ptr<const void> keepAlive, QSize size,
             double zoom);
  // Lets go of a copy on a worker: returning the pages of a large picture to
  // the system takes longer than the UI thread may stand still.
  void Release(QImage copy);
  // Stops every worker that reads a picture and waits until each has ended;
  // what was made of that picture is dropped.
  void Stop();
  // The zoom of the copy under way, 0 when none is.
  double Pending() const { return m_pending; }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::shared_ptr<std::atomic<bool>> ended;
    bool reads = true;  // false for a worker that only lets a copy go
  };
  void JoinEnded();

  QObject* m_receiver;
  Done m_done;
  std::vector<Worker> m_workers;
  double m_pending = 0.0;
  unsigned m_generation = 0;  // counts Stop() calls
  QImage m_halfLevel;         // the picture at half its size, once made
};
