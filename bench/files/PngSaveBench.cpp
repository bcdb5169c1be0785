// PNG saving on every core against FreeImage's own PNG writer, on the same
// picture in the same run: wall time, file size, both as ratios; the file
// checked with pngcheck and reopened by FreeImage and ImageMagick; the bytes
// compared across thread counts; the time an abort takes to be answered.
// Usage: png_save_bench PHOTO [WIDTH HEIGHT] [FOLDER]
// The photo is enlarged to WIDTH x HEIGHT (default 7920 x 5940) with
// FreeImage's Catmull-Rom filter, which keeps it a photograph to the encoders.
#include <FreeImage.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "files/ImageFiles.h"
#include "files/PngWriter.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

uintmax_t SizeOf(const std::string& path) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

// Processor time of the whole process: on a busy machine it tells the work
// from the wait for a processor.
double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The picture's pixels as FreeImage reads them back from path equal bitmap's.
bool SamePixels(FIBITMAP* bitmap, const std::string& path) {
  FIBITMAP* back = FreeImage_Load(FIF_PNG, path.c_str(), 0);
  if (!back) return false;
  bool same = FreeImage_GetWidth(back) == FreeImage_GetWidth(bitmap) &&
              FreeImage_GetHeight(back) == FreeImage_GetHeight(bitmap) &&
              FreeImage_GetBPP(back) == FreeImage_GetBPP(bitmap);
  const unsigned line = FreeImage_GetLine(bitmap);
  for (unsigned y = 0; same && y < FreeImage_GetHeight(bitmap); ++y)
    same = std::equal(FreeImage_GetScanLine(back, y), FreeImage_GetScanLine(back, y) + line,
                      FreeImage_GetScanLine(bitmap, y));
  FreeImage_Unload(back);
  return same;
}

// The bytes WritePngStrips makes with threads threads, into memory.
std::vector<uint8_t> StripsInMemory(FIBITMAP* bitmap, unsigned threads) {
  FIBITMAP* frameBitmap = files::PngFrameBitmap(bitmap);
  std::vector<uint8_t> frame;
  FIMEMORY* memory = FreeImage_OpenMemory();
  FreeImage_SaveToMemory(FIF_PNG, frameBitmap, memory, 0);
  BYTE* data = nullptr;
  DWORD size = 0;
  FreeImage_AcquireMemory(memory, &data, &size);
  frame.assign(data, data + size);
  FreeImage_CloseMemory(memory);
  FreeImage_Unload(frameBitmap);
  std::vector<uint8_t> out;
  files::WritePngStrips(
      bitmap, frame,
      [&out](const uint8_t* bytes, size_t count) {
        out.insert(out.end(), bytes, bytes + count);
        return true;
      },
      {}, {}, threads);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: png_save_bench PHOTO [WIDTH HEIGHT] [FOLDER]\n");
    return 2;
  }
  const int width = argc > 3 ? std::atoi(argv[2]) : 7920;
  const int height = argc > 3 ? std::atoi(argv[3]) : 5940;
  const std::string folder = argc > 4 ? argv[4] : std::filesystem::temp_directory_path().string();
  FreeImage_Initialise(FALSE);
  FIBITMAP* photo = FreeImage_Load(FreeImage_GetFileType(argv[1], 0), argv[1], 0);
  if (!photo) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  FIBITMAP* picture = FreeImage_Rescale(photo, width, height, FILTER_CATMULLROM);
  FreeImage_Unload(photo);
  const std::string theirs = folder + "/png_bench_freeimage.png";
  const std::string ours = folder + "/png_bench_magnova.png";

  auto start = Clock::now();
  double cpu = CpuSeconds();
  FreeImage_Save(FIF_PNG, picture, theirs.c_str(), 0);
  const double freeImageSeconds = Since(start);
  const double freeImageCpu = CpuSeconds() - cpu;

  start = Clock::now();
  cpu = CpuSeconds();
  bool written = false;
  if (std::FILE* stream = std::fopen(ours.c_str(), "wb")) {
    written = files::WriteImage(picture, FIF_PNG, stream, {});
    written = std::fclose(stream) == 0 && written;
  }
  const double ourSeconds = Since(start);
  const double ourCpu = CpuSeconds() - cpu;

  // An abort a third of the way through a save: the time until the writer returns.
  std::atomic<bool> stop{false};
  double abortSeconds = 0;
  {
    std::FILE* stream = std::tmpfile();
    Clock::time_point stopped{};
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::duration<double>(ourSeconds / 3));
      stopped = Clock::now();
      stop = true;
    });
    files::WriteImage(picture, FIF_PNG, stream, [&] { return stop.load(); });
    const Clock::time_point returned = Clock::now();
    stopper.join();
    abortSeconds = std::chrono::duration<double>(returned - stopped).count();
    std::fclose(stream);
  }

  const bool sameAcrossThreads = StripsInMemory(picture, 1) == StripsInMemory(picture, 3);
  const uintmax_t ourSize = SizeOf(ours);
  const uintmax_t theirSize = SizeOf(theirs);
  std::printf("picture            %d x %d, %u cores\n", width, height,
              std::thread::hardware_concurrency());
  std::printf("FreeImage_Save     %.2f s  %ju bytes\n", freeImageSeconds, theirSize);
  std::printf("Magnova WriteImage %.2f s  %ju bytes  (%s)\n", ourSeconds, ourSize,
              written ? "written" : "FAILED");
  std::printf("speed ratio        %.2f x FreeImage's\n", freeImageSeconds / ourSeconds);
  std::printf("processor time     %.2f s against %.2f s: %.2f x less work\n", ourCpu, freeImageCpu,
              freeImageCpu / ourCpu);
  std::printf("size ratio         %.4f x FreeImage's\n",
              theirSize ? static_cast<double>(ourSize) / static_cast<double>(theirSize) : 0.0);
  std::printf("abort answered in  %.0f ms\n", abortSeconds * 1000);
  std::printf("same bytes 1 and 3 threads: %s\n", sameAcrossThreads ? "yes" : "NO");
  std::printf("same pixels as the picture: %s\n", SamePixels(picture, ours) ? "yes" : "NO");
  std::printf("pngcheck:           %s\n", Run("pngcheck -q " + ours) ? "passes" : "FAILS");
  std::printf("ImageMagick reopen: %s\n", Run("identify " + ours) ? "passes" : "FAILS");
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
  FreeImage_Unload(picture);
  FreeImage_DeInitialise();
  return 0;
}
