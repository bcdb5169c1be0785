// How quickly a running enlargement and a running reduction answer Abort and
// Pause, and how evenly the overall bar moves. A whole 100-megapixel job is
// the baseline; each figure is also printed as a share of it.
//
// Usage: resize_job_bench [runs, 20] [enlargement | reduction] [enlargement's percent, 200]
#include <FreeImage.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "WorkerHarness.h"
#include "resize/ProgressStages.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The overall bar as the dialog would move it, without widgets.
class CountingBars : public resize::ProgressBars {
 public:
  bool HasBars() const override { return true; }
  void SetOverall(int position) override { overall = std::min(position, resize::kOverallUpper); }
  void SetStep(int) override {}
  void Pump() override {}
  int overall = 1;
};

// CPU time, in milliseconds, that the process's threads other than the
// calling one have used so far (the scheduler's own count, to the nanosecond).
double OtherThreadsCpuMs() {
  const std::string self = std::to_string(gettid());
  double total = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    if (entry.path().filename() == self) continue;
    std::ifstream stat(entry.path() / "schedstat");
    unsigned long long ns = 0;
    if (stat >> ns) total += ns / 1e6;
  }
  return total;
}

void Spin(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

// Abort and Pause of one kind of job, against the whole job as baseline.
bool MeasureJob(const char* kind, FIBITMAP* source, int percent, int runs) {
  const ResizeRequest request = RequestFor(source, percent);
  std::printf("\n%s: %u x %u -> %d x %d (%.1f megapixels)\n", kind, FreeImage_GetWidth(source),
              FreeImage_GetHeight(source), request.width, request.height,
              double(request.width) * request.height / 1e6);
  // Baseline: one whole job, with the overall bar's position at every report.
  double wholeMs = 0;
  double worstDeviation = 0;
  double worstGapMs = 0;
  {
    WorkerRig rig;
    resize::ProgressStages stages;
    CountingBars bars;
    stages.Open();
    std::vector<std::pair<double, int>> samples;
    Clock::time_point last{};
    const Clock::time_point start = Clock::now();
    rig.frame.onReport = [&](const std::shared_ptr<platform::CJob>&) {
      const auto& report = rig.frame.reports.back();
      stages.Update(report.first, report.second, bars);
      const Clock::time_point now = Clock::now();
      if (last != Clock::time_point{}) worstGapMs = std::max(worstGapMs, Ms(now - last));
      last = now;
      samples.emplace_back(Ms(now - start), bars.overall);
    };
    auto job = rig.Start(request);
    if (!rig.WaitForEnd(job, 600000) || rig.frame.done != std::vector<int>{1}) {
      std::printf("the whole job did not succeed\n");
      return false;
    }
    wholeMs = Ms(Clock::now() - start);
    // When the bar reached each position, as a share of the whole job.
    std::printf("overall bar position: share of the job's time when reached\n");
    int shown = 1;
    std::printf("  1: 0.0 %%\n");
    for (const auto& [ms, overall] : samples)
      for (; shown < overall; ++shown)
        std::printf("  %d: %.1f %%\n", shown + 1, 100 * ms / wholeMs);
    std::printf("  first report %.1f %%, last report %.1f %%\n",
                100 * samples.front().first / wholeMs, 100 * samples.back().first / wholeMs);
    for (const auto& [ms, overall] : samples)
      worstDeviation = std::max(worstDeviation,
                                std::abs(overall / double(resize::kOverallUpper) - ms / wholeMs));
    std::printf("baseline, whole job: %.0f ms, %zu reports, longest gap between reports %.1f ms\n",
                wholeMs, samples.size(), worstGapMs);
    // A reduction has no stages: its overall bar stands still by design.
    if (samples.back().second > 1)
      std::printf(
          "overall bar against elapsed time: worst deviation %.1f %% of the bar (goal < 15 %%)\n",
          worstDeviation * 100);
  }

  std::mt19937 random(7);
  std::uniform_real_distribution<double> moment(0.1, 0.8);
  std::vector<double> abortMs, pauseMs;
  for (int run = 0; run < runs; ++run) {
    WorkerRig rig;
    auto job = rig.Start(request);
    Spin(static_cast<int>(moment(random) * std::min(wholeMs, 3000.0)));
    const Clock::time_point t0 = Clock::now();
    job->Abandon();
    job->WaitForEnd(std::chrono::minutes(1));
    abortMs.push_back(Ms(Clock::now() - t0));
    QCoreApplication::processEvents();
  }
  // Pause: no report passes the gate, so what counts is how long the work
  // goes on until the worker reaches it: until the other threads use no CPU.
  std::vector<double> stopMs;
  for (int run = 0; run < runs; ++run) {
    WorkerRig rig;
    Clock::time_point lastReport{};
    rig.frame.onReport = [&](const std::shared_ptr<platform::CJob>&) { lastReport = Clock::now(); };
    auto job = rig.Start(request);
    Spin(static_cast<int>(moment(random) * std::min(wholeMs, 3000.0)));
    const Clock::time_point t0 = Clock::now();
    job->Pause();
    Clock::time_point lastBusy = t0;
    double cpu = OtherThreadsCpuMs();
    while (Clock::now() - t0 < std::chrono::milliseconds(std::max(500, int(worstGapMs * 4)))) {
      QThread::msleep(1);
      QCoreApplication::processEvents();
      const double now = OtherThreadsCpuMs();
      if (now - cpu > 0.05) lastBusy = Clock::now();
      cpu = now;
    }
    pauseMs.push_back(lastReport > t0 ? Ms(lastReport - t0) : 0.0);
    stopMs.push_back(Ms(lastBusy - t0));
    job->Abandon();
    job->WaitForEnd(std::chrono::minutes(1));
    QCoreApplication::processEvents();
  }
  const double abortMedian = Median(abortMs);
  const double pauseMedian = Median(pauseMs);
  std::printf(
      "Abort -> worker ended: median %.1f ms, worst %.1f ms of %d (%.3f %% of a whole job; goal < "
      "100 ms)\n",
      abortMedian, *std::max_element(abortMs.begin(), abortMs.end()), runs,
      100 * abortMedian / wholeMs);
  std::printf(
      "Pause -> last progress report: median %.1f ms, worst %.1f ms of %d (%.3f %% of a whole job; "
      "goal < 100 ms)\n",
      pauseMedian, *std::max_element(pauseMs.begin(), pauseMs.end()), runs,
      100 * pauseMedian / wholeMs);
  const double stopMedian = Median(stopMs);
  std::printf(
      "Pause -> work stopped (no CPU used): median %.1f ms, worst %.1f ms of %d (%.3f %% of a "
      "whole job; goal < 100 ms)\n",
      stopMedian, *std::max_element(stopMs.begin(), stopMs.end()), runs,
      100 * stopMedian / wholeMs);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  FreeImage_Initialise(FALSE);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  const std::string only = argc > 2 ? argv[2] : "";
  bool ok = true;
  if (only != "reduction") {
    // A 100-megapixel result: 5000 x 5000 at 200 % unless another percent is asked for.
    const int percent = argc > 3 ? std::clamp(std::atoi(argv[3]), 101, 2000) : 200;
    const int side = 1000000 / percent;
    FIBITMAP* source = MakePicture(side, side);
    ok = MeasureJob("enlargement", source, percent, runs) && ok;
    FreeImage_Unload(source);
  }
  if (only != "enlargement") {
    // 10000 x 10000 at 99 %: a 100-megapixel source.
    FIBITMAP* source = MakePicture(10000, 10000);
    ok = MeasureJob("reduction", source, 99, runs) && ok;
    FreeImage_Unload(source);
  }
  FreeImage_DeInitialise();
  return ok ? 0 : 1;
}
