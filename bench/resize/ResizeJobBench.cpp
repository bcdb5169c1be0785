// How quickly a running enlargement answers Abort and Pause, and how evenly
// its overall bar moves. A whole 100-megapixel job is the baseline; each
// figure is also printed as a share of it.
#include <FreeImage.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <random>
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

void Spin(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  FreeImage_Initialise(FALSE);
  const int side = argc > 1 ? std::atoi(argv[1]) : 5000;  // 5000 at 200 %: 100 megapixels
  const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
  FIBITMAP* source = MakePicture(static_cast<unsigned>(side), static_cast<unsigned>(side));
  const ResizeRequest request = RequestFor(source, 200);
  std::printf("job: %d x %d -> %d x %d (%.1f megapixels)\n", side, side, request.width,
              request.height, double(request.width) * request.height / 1e6);

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
      return 1;
    }
    wholeMs = Ms(Clock::now() - start);
    for (const auto& [ms, overall] : samples)
      worstDeviation = std::max(worstDeviation,
                                std::abs(overall / double(resize::kOverallUpper) - ms / wholeMs));
    std::printf("baseline, whole job: %.0f ms, %zu reports, longest gap between reports %.1f ms\n",
                wholeMs, samples.size(), worstGapMs);
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
    Spin(static_cast<int>(moment(random) * wholeMs));
    const Clock::time_point t0 = Clock::now();
    job->Abandon();
    job->WaitForEnd(std::chrono::minutes(1));
    abortMs.push_back(Ms(Clock::now() - t0));
    QCoreApplication::processEvents();
  }
  for (int run = 0; run < runs; ++run) {
    WorkerRig rig;
    Clock::time_point lastReport{};
    rig.frame.onReport = [&](const std::shared_ptr<platform::CJob>&) { lastReport = Clock::now(); };
    auto job = rig.Start(request);
    Spin(static_cast<int>(moment(random) * wholeMs));
    const Clock::time_point t0 = Clock::now();
    job->Pause();
    Spin(std::max(300, static_cast<int>(worstGapMs * 3)));
    pauseMs.push_back(lastReport > t0 ? Ms(lastReport - t0) : 0.0);
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
  FreeImage_Unload(source);
  FreeImage_DeInitialise();
  return 0;
}
