// Peak memory of one enlargement against what the Resize command's memory
// check computes for it. Run once per case, each in a process of its own so
// that the high-water mark belongs to that case:
//   resize_memory_bench <source width> <source height> <percent>
// The source is made and held first, as an opened picture is; the figure
// compared is the growth of the resident high-water mark beyond it.
#include <FreeImage.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "WorkerHarness.h"
#include "resize/ResizeRules.h"

namespace {

// The process's resident high-water mark, in bytes.
uint64_t PeakRss() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}

double Mb(uint64_t bytes) { return bytes / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: %s <source width> <source height> <percent>\n", argv[0]);
    return 2;
  }
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  FreeImage_Initialise(FALSE);
  const unsigned width = static_cast<unsigned>(std::atoi(argv[1]));
  const unsigned height = static_cast<unsigned>(std::atoi(argv[2]));
  const int percent = std::atoi(argv[3]);
  FIBITMAP* source = MakePicture(width, height);
  const ResizeRequest whole = RequestFor(source, percent);
  const resize::Size64 target{whole.width, whole.height};
  const uint64_t available = resize::AvailableMemoryBytes().value_or(0);
  const resize::MemoryPlan plan = resize::PlanMemory(percent, width, height, target, available, 0);
  const uint64_t before = PeakRss();
  std::printf("%u x %u at %d %% -> %lld x %lld; MemAvailable %.0f MB\n", width, height, percent,
              static_cast<long long>(target.width), static_cast<long long>(target.height),
              Mb(available));
  if (plan.fit == resize::MemoryFit::Never) {
    std::printf(
        "refused before any allocation: peak RSS %.0f MB, %.0f MB beyond the source "
        "(budget for the job: none allowed)\n",
        Mb(PeakRss()), Mb(PeakRss() - before));
    return 0;
  }
  ResizeRequest request = whole;
  request.cropToBudget = plan.fit == resize::MemoryFit::Cropped;
  request.pixelBudget = plan.pixelBudget;
  const resize::Region region =
      resize::SourceRegion(width, height, target, request.cropToBudget, request.pixelBudget);
  const uint64_t budget = resize::EnlargementPeakBytes(target, region.Width(), region.Height());
  WorkerRig rig;
  auto job = rig.Start(request);
  if (!rig.WaitForEnd(job, 3'600'000) || rig.frame.done != std::vector<int>{1}) {
    std::printf("the job did not succeed\n");
    return 1;
  }
  const uint64_t grown = PeakRss() - before;
  std::printf(
      "%s: computed peak %.0f MB, measured peak RSS growth %.0f MB (%.2f of the computed "
      "peak; goal <= 1)\n",
      request.cropToBudget ? "cropped" : "whole", Mb(budget), Mb(grown),
      double(grown) / double(budget));
  FreeImage_Unload(source);
  FreeImage_DeInitialise();
  return 0;
}
