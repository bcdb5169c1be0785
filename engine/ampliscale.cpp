// The five exports: the job's state between the calls, and the one place
// where nothing may escape towards a C caller.
#include "engine/ampliscale.h"

#include <algorithm>
#include <cstdint>
#include <thread>

#include "engine/Enlarger.h"

namespace {

// The job under way on the calling thread; DllInit starts afresh. Jobs on
// different threads run at once, each with its own state.
struct Job {
  AmpliscaleWindow* window = nullptr;
  const std::uint8_t* source = nullptr;
  int w = 0;
  int h = 0;
  std::uint8_t* dest = nullptr;
  int W = 0;
  int H = 0;
  bool finished = false;  // done or abandoned: later calls return at once
};

thread_local Job g_job;

int Threads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(cores, 1u, 16u));
}

// The last resort when working memory ran out: the nearest source pixel.
void NearestFill(const Job& job) {
  for (int y = 0; y < job.H; ++y) {
    const int sy = job.h - 1 - static_cast<int>((static_cast<std::int64_t>(y) * job.h) / job.H);
    const std::uint8_t* row = job.source + static_cast<std::size_t>(sy) * job.w * 4;
    std::uint8_t* out = job.dest + static_cast<std::size_t>(y) * job.W * 4;
    for (int x = 0; x < job.W; ++x) {
      const int sx = static_cast<int>((static_cast<std::int64_t>(x) * job.w) / job.W);
      std::copy(row + sx * 4, row + sx * 4 + 4, out + static_cast<std::size_t>(x) * 4);
    }
  }
}

void RunJob() {
  if (g_job.finished || !g_job.source || !g_job.dest) return;
  g_job.finished = true;
  AmpliscaleWindow* window = g_job.window;
  ampliscale::WorkCrew::Report report;
  if (window && window->send) {
    report = [window](int stage, int value) {
      return window->send(window, AMPLISCALE_WM_RESIZE_PROGRESS, static_cast<uintptr_t>(stage),
                          value) != 0;
    };
  }
  try {
    ampliscale::Enlarger(g_job.source, g_job.w, g_job.h, g_job.dest, g_job.W, g_job.H)
        .Run(Threads(), report);
  } catch (...) {
    NearestFill(g_job);
  }
}

}  // namespace

extern "C" {

int DllInit(AmpliscaleWindow* window) {
  g_job = Job{};
  g_job.window = window;
  return 1;
}

void DllSetSourceImage(int width, int height, void* pixels) {
  if (width < 1 || height < 1 || !pixels) return;
  g_job.w = width;
  g_job.h = height;
  g_job.source = static_cast<const std::uint8_t*>(pixels);
}

void DllSetDestImage(int width, int height, void* pixels) {
  if (width < 1 || height < 1 || !pixels) return;
  g_job.W = width;
  g_job.H = height;
  g_job.dest = static_cast<std::uint8_t*>(pixels);
}

void DllFilter(void) { RunJob(); }

void DllNextStage(void) { RunJob(); }

}  // extern "C"
