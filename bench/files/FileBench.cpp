// Opening and saving a 50-megapixel PNG and JPEG through the program's own
// path (command, worker, decoder process, wait dialog, done message), as a
// ratio to bare FreeImage_Load / FreeImage_Save of the same file measured in
// the same run; and what opening a small JPEG costs beyond a bare load.
// Usage: files_bench [repetitions] [folder]
//
// With "abort" first: saves a 24000 x 18000 result as PNG, TIFF and JPEG
// through the program, whole and then with Abort pressed in "Saving
// picture..." at a third and at two thirds of the whole save's time; prints
// the time from Abort to the save worker's end beside the whole save's, as a
// ratio, and whether a partial file or a changed target was left.
// Usage: files_bench abort [folder]
#include <QApplication>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include <QPushButton>
#include <QTimer>

#include "app/CMainFrame.h"
#include "files/CWaitDlg.h"
#include "platform/CJob.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "views/CEnlargerView.h"

namespace {

constexpr int kWidth = 8660;
constexpr int kHeight = 5774;  // 50.0 megapixels

// Wall time, and the processor time of all the process's threads: on a busy
// machine the second tells the work itself from the wait for a processor.
struct Cost {
  double wall = 1e9;
  double cpu = 1e9;
};

// Processor time of this process and of its ended children (the decoder).
double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    ::getrusage(who, &usage);
    total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

Cost Measure(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  const double cpuStart = CpuSeconds();
  work();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          CpuSeconds() - cpuStart};
}

void KeepBest(Cost& best, const Cost& run) {
  best.wall = std::min(best.wall, run.wall);
  best.cpu = std::min(best.cpu, run.cpu);
}

// Smooth colour fields with a little grain, so that both encoders work as
// they would on a photograph.
FIBITMAP* MakePhotoLike(int width = kWidth, int height = kHeight) {
  FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
  if (!bitmap) return nullptr;
  std::mt19937 generator(5);
  for (int y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(bitmap, y);
    for (int x = 0; x < width; ++x) {
      int grain = static_cast<int>(generator() % 9) - 4;
      row[3 * x + 0] = static_cast<BYTE>(std::clamp(int(int64_t{x} * 255 / width) + grain, 0, 255));
      row[3 * x + 1] =
          static_cast<BYTE>(std::clamp(int(int64_t{y} * 255 / height) + grain, 0, 255));
      row[3 * x + 2] = static_cast<BYTE>(std::clamp(((x + y) / 40) % 256 + grain, 0, 255));
    }
  }
  return bitmap;
}

struct Timing {
  Cost program;
  Cost bare;
};

void Report(const std::string& what, const Timing& t) {
  std::printf(
      "%-9s wall: program %7.3f s, bare FreeImage %7.3f s, ratio %.3f | cpu: program %7.3f s, "
      "bare %7.3f s, ratio %.3f\n",
      what.c_str(), t.program.wall, t.bare.wall, t.program.wall / t.bare.wall, t.program.cpu,
      t.bare.cpu, t.program.cpu / t.bare.cpu);
  std::fflush(stdout);
}

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Saves the frame's result to target as the dialog's file type index, with
// Abort pressed after abortAfter seconds (never when negative). Returns the
// whole save's time, or the time from Abort to the worker's end.
double SaveThroughProgram(CMainFrame& frame, const std::string& target, int index,
                          double abortAfter) {
  frame.m_resultSaved = false;
  platform::ScopedPromptResponder answer([&](const platform::PromptRecord&) {
    return platform::PromptAnswer{ids::IdYes,
                                  platform::FileChoice{QString::fromStdString(target), index}};
  });
  std::shared_ptr<platform::CJob> job;
  std::chrono::steady_clock::time_point pressed;
  if (abortAfter >= 0) {
    QTimer::singleShot(static_cast<int>(abortAfter * 1000), &frame, [&] {
      job = frame.m_worker;
      pressed = std::chrono::steady_clock::now();
      frame.WaitDlg().AbortButton()->click();
    });
  }
  const auto start = std::chrono::steady_clock::now();
  frame.OnSaveResizedAs();
  if (!job) return Seconds(start);
  while (!job->HasEnded()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  return Seconds(pressed);
}

int AbortBench(const std::filesystem::path& folder) {
  constexpr int kBigWidth = 24000;
  constexpr int kBigHeight = 18000;
  CMainFrame frame;
  FIBITMAP* image = MakePhotoLike(kBigWidth, kBigHeight);
  if (!image) {
    std::printf("no memory for a %d x %d picture\n", kBigWidth, kBigHeight);
    return 1;
  }
  frame.m_result = image;
  frame.View(1)->SetImage(image);
  std::printf("result %d x %d (%.0f MP)\n", kBigWidth, kBigHeight,
              kBigWidth * double(kBigHeight) / 1e6);
  struct Format {
    const char* name;
    int saveIndex;
    const char* extension;
  };
  for (const Format& format :
       {Format{"PNG", 4, ".png"}, Format{"TIFF", 3, ".tif"}, Format{"JPEG", 1, ".jpg"}}) {
    const std::string target = (folder / (std::string("big") + format.extension)).string();
    std::filesystem::remove(target);
    const double whole = SaveThroughProgram(frame, target, format.saveIndex, -1);
    const bool saved = frame.m_resultSaved;
    // The whole file stays; the aborted saves must leave it as it is.
    const auto size = std::filesystem::exists(target) ? std::filesystem::file_size(target) : 0;
    const auto written = std::filesystem::last_write_time(target);
    for (double share : {1.0 / 3, 2.0 / 3}) {
      const double stop = SaveThroughProgram(frame, target, format.saveIndex, whole * share);
      int parts = 0;
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        parts += entry.path().extension() == ".part";
      const bool untouched = std::filesystem::file_size(target) == size &&
                             std::filesystem::last_write_time(target) == written;
      std::printf(
          "%-4s whole save %7.3f s%s | Abort at %2.0f %%: worker ended %6.1f ms after Abort, "
          "ratio to the whole save %.5f | partial files left %d, target %s\n",
          format.name, whole, saved ? "" : " (FAILED)", share * 100, stop * 1e3, stop / whole,
          parts, untouched ? "untouched" : "CHANGED");
      std::fflush(stdout);
    }
    std::filesystem::remove(target);
  }
  frame.View(1)->SetImage(nullptr);
  frame.m_result = nullptr;
  FreeImage_Unload(image);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc > 1 && std::string(argv[1]) == "abort") {
    const std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2])
                 : std::filesystem::temp_directory_path() / "magnova-abort-bench";
    std::filesystem::create_directories(folder);
    return AbortBench(folder);
  }
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2])
               : std::filesystem::temp_directory_path() / "magnova-files-bench";
  std::filesystem::create_directories(folder);

  CMainFrame frame;
  FIBITMAP* image = MakePhotoLike();
  std::printf("image %d x %d (%.1f MP), best of %d\n", kWidth, kHeight,
              kWidth * double(kHeight) / 1e6, repetitions);

  struct Format {
    const char* name;
    FREE_IMAGE_FORMAT fif;
    int saveIndex;  // the save dialog's file type
    const char* extension;
  };
  for (const Format& format :
       {Format{"JPEG", FIF_JPEG, 1, ".jpg"}, Format{"PNG", FIF_PNG, 4, ".png"}}) {
    const std::string bare = (folder / (std::string("bare") + format.extension)).string();
    const std::string ours = (folder / (std::string("ours") + format.extension)).string();
    Timing save, open;
    // The program's save of the result, then bare FreeImage's, in turns.
    for (int i = 0; i < repetitions; ++i) {
      frame.View(1)->SetImage(image);
      frame.m_result = image;
      frame.m_resultSaved = false;
      platform::ScopedPromptResponder answer([&](const platform::PromptRecord&) {
        return platform::PromptAnswer{
            0, platform::FileChoice{QString::fromStdString(ours), format.saveIndex}};
      });
      KeepBest(save.program, Measure([&] { frame.OnSaveResizedAs(); }));
      KeepBest(save.bare, Measure([&] { FreeImage_Save(format.fif, image, bare.c_str(), 0); }));
    }
    frame.View(1)->SetImage(nullptr);
    frame.m_result = nullptr;
    if (!frame.m_resultSaved) std::printf("%s: the program's save failed\n", format.name);

    for (int i = 0; i < repetitions; ++i) {
      platform::ScopedPromptResponder answer([&](const platform::PromptRecord&) {
        return platform::PromptAnswer{0, platform::FileChoice{QString::fromStdString(bare), 1}};
      });
      KeepBest(open.program, Measure([&] { frame.OnFileOpen(); }));
      if (!frame.m_source) std::printf("%s: the program's open failed\n", format.name);
      KeepBest(open.bare, Measure([&] {
                 FIBITMAP* loaded = FreeImage_Load(format.fif, bare.c_str(), 0);
                 FreeImage_Unload(loaded);
               }));
    }
    Report(std::string("save ") + format.name, save);
    Report(std::string("open ") + format.name, open);
    std::filesystem::remove(bare);
    std::filesystem::remove(ours);
  }
  // A small picture: the decoder process's start is all there is to see.
  FIBITMAP* small = FreeImage_Rescale(image, 640, 480, FILTER_BOX);
  FreeImage_Unload(image);
  const std::string smallPath = (folder / "small.jpg").string();
  FreeImage_Save(FIF_JPEG, small, smallPath.c_str(), 0);
  FreeImage_Unload(small);
  Timing open;
  for (int i = 0; i < 10 * repetitions; ++i) {
    platform::ScopedPromptResponder answer([&](const platform::PromptRecord&) {
      return platform::PromptAnswer{0, platform::FileChoice{QString::fromStdString(smallPath), 1}};
    });
    KeepBest(open.program, Measure([&] { frame.OnFileOpen(); }));
    KeepBest(open.bare,
             Measure([&] { FreeImage_Unload(FreeImage_Load(FIF_JPEG, smallPath.c_str(), 0)); }));
  }
  std::printf("open 640 x 480 JPEG: program %.1f ms, bare FreeImage %.1f ms, %.1f ms more\n",
              open.program.wall * 1e3, open.bare.wall * 1e3,
              (open.program.wall - open.bare.wall) * 1e3);
  std::filesystem::remove(smallPath);
  return 0;
}
