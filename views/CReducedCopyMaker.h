#pragma once

#include <QObject>
#include <QSize>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "views/DisplayBitmap.h"

// Does a view's work on its picture's pixels on worker threads, so that the
// view keeps answering: the survey a picture needs before it can be drawn,
// and box-reduced copies. Called on the UI thread only.
// A worker reads its picture for as long as it runs: pixels that nobody can
// share (a bitmap the view only borrows) are read no more once Stop() has
// returned, which stops every worker at its next row and waits for it.
class CReducedCopyMaker {
 public:
  using Picture = std::shared_ptr<const views::DisplayBitmap>;
  // Run on the UI thread, in receiver's thread: with each finished copy (null
  // when it could not be made) and the zoom it was made for, to keep or to
  // Release(); with the survey of a picture.
  using CopyDone = std::function<void(double zoom, Picture copy)>;
  using SurveyDone = std::function<void(const views::Survey& survey)>;
  CReducedCopyMaker(QObject* receiver, CopyDone copyDone, SurveyDone surveyDone);
  ~CReducedCopyMaker();
  CReducedCopyMaker(const CReducedCopyMaker&) = delete;
  CReducedCopyMaker& operator=(const CReducedCopyMaker&) = delete;

  // Surveys picture, once, before any copy of it is asked for.
  void Survey(Picture picture);
  // Starts a copy of picture reduced to size, top row first; workers still
  // making an older copy are told to stop, so that quick requests never pile
  // up. The picture is the same for every call until Stop().
  void Start(Picture picture, QSize size, double zoom);
  // Lets go of a copy on a worker: returning the pages of a large picture to
  // the system takes longer than the UI thread may stand still.
  void Release(Picture copy);
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
  // Runs work(cancel) on a new worker that reads the picture.
  void Launch(std::function<void(const std::atomic<bool>& cancel)> work);
  void JoinEnded();

  QObject* m_receiver;
  CopyDone m_copyDone;
  SurveyDone m_surveyDone;
  std::vector<Worker> m_workers;
  double m_pending = 0.0;
  unsigned m_generation = 0;  // counts Stop() calls
  Picture m_halfLevel;        // the picture at half its size, once made
};
