// The views with large pictures: the reduced copies against FreeImage's box
// filter, the UI thread's share of a zoom change, painting against a bare
// drawImage, and huge pictures of every kind against the whole 32-bit copy
// the views once made of them, each baseline measured in the same run.
// Prints ratios and times.
#include <FreeImage.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "views/BoxReduce.h"
#include "views/CEnlargerView.h"
#include "views/DisplayMemory.h"
#include "views/ViewMath.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of the whole process (all its threads), which the other
// programs on a shared machine do not inflate as they do wall time.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Processor time of the calling thread alone.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + 1e-9 * now.tv_nsec;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Median of interleaved runs, so that both sides see the same machine load.
std::pair<double, double> Compare(int runs, const std::function<void()>& subject,
                                  const std::function<void()>& baseline) {
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    a.push_back(Seconds(subject));
    if (baseline) b.push_back(Seconds(baseline));
  }
  return {Median(a), baseline ? Median(b) : 0.0};
}

FIBITMAP* MakePicture(int width, int height) {
  FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
  for (int y = 0; y < height; ++y) {
    BYTE* p = FreeImage_GetScanLine(bitmap, y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = static_cast<BYTE>(x * 7 + y);
      p[1] = static_cast<BYTE>(y * 3);
      p[2] = static_cast<BYTE>(x ^ y);
    }
  }
  return bitmap;
}

views::PixelRows RowsOf(FIBITMAP* picture) {
  const int w = static_cast<int>(FreeImage_GetWidth(picture));
  const int h = static_cast<int>(FreeImage_GetHeight(picture));
  return {FreeImage_GetScanLine(picture, h - 1),
          -static_cast<ptrdiff_t>(FreeImage_GetPitch(picture)), w, h, 3};
}

void ReduceInto(const views::PixelRows& in, int width, int height, std::vector<uint8_t>& out) {
  out.resize(static_cast<size_t>(width) * height * 3 + 1);
  const views::PixelRows to{out.data(), static_cast<ptrdiff_t>(width) * 3, width, height, 3};
  const std::atomic<bool> never{false};
  views::BoxReduce(in, to, never, static_cast<int>(std::thread::hardware_concurrency()));
}

// The reduced copies as the view makes them, rows over all cores: above half
// size from the picture; at half size the half-size level, made once per
// picture; below it from that level.
struct Copies {
  explicit Copies(FIBITMAP* picture) : whole(RowsOf(picture)) {
    ReduceInto(whole, whole.width / 2, whole.height / 2, levelBytes);
    level = {levelBytes.data(), static_cast<ptrdiff_t>(whole.width / 2) * 3, whole.width / 2,
             whole.height / 2, 3};
  }
  void Make(int width, int height) {
    if (width == level.width && height == level.height) {
      ReduceInto(whole, width, height, out);  // making the level itself
    } else {
      ReduceInto(width < level.width ? level : whole, width, height, out);
    }
  }
  views::PixelRows whole;
  std::vector<uint8_t> levelBytes;
  views::PixelRows level;
  std::vector<uint8_t> out;
};

bool ReducedCopies() {
  bool met = true;
  FIBITMAP* picture = MakePicture(8000, 6000);
  std::printf(
      "reduced copy of 8000 x 6000, ratio of FreeImage_Rescale(FILTER_BOX) to ours (50 %%:"
      " making the half-size level; below: from it):\n");
  Copies copies(picture);
  for (double zoom : {0.75, 0.5, 0.25, 0.1}) {
    const viewmath::ISize size = viewmath::DisplayedSize(8000, 6000, zoom);
    double mineCpu = 0, bareCpu = 0;
    const auto [mine, bare] = Compare(
        3,
        [&] {
          const double start = CpuSeconds();
          copies.Make(size.cx, size.cy);
          mineCpu += CpuSeconds() - start;
        },
        [&] {
          const double start = CpuSeconds();
          FreeImage_Unload(FreeImage_Rescale(picture, size.cx, size.cy, FILTER_BOX));
          bareCpu += CpuSeconds() - start;
        });
    met = met && bare / mine >= 10;
    std::printf(
        "  %3d %%: ours %.1f ms, FreeImage %.1f ms, %.1f x faster (goal >= 10);"
        " processor time %.1f x less\n",
        viewmath::ZoomPercent(zoom), 1000 * mine, 1000 * bare, bare / mine, bareCpu / mineCpu);
  }
  FreeImage_Unload(picture);

  picture = MakePicture(16000, 12000);
  std::printf("reduced copy of 16000 x 12000 at every zoom below 100 %%:\n");
  Copies large(picture);
  for (double zoom : {0.75, 0.5, 0.25, 0.1}) {
    const viewmath::ISize size = viewmath::DisplayedSize(16000, 12000, zoom);
    double cpu = 0;
    const double mine = Compare(3,
                                [&] {
                                  const double start = CpuSeconds();
                                  large.Make(size.cx, size.cy);
                                  cpu += CpuSeconds() - start;
                                },
                                {})
                            .first;
    met = met && mine < 0.1;
    std::printf("  %3d %%: %.1f ms (goal < 100), processor time %.1f ms over all threads\n",
                viewmath::ZoomPercent(zoom), 1000 * mine, 1000 * cpu / 3);
  }
  FreeImage_Unload(picture);
  return met;
}

void Settle(CEnlargerView& view) {
  QElapsedTimer waited;
  waited.start();
  while (!view.DisplayReady() && waited.elapsed() < 20000) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
}

// Every step of the UI thread while a 16000 x 12000 picture is zoomed out and
// in through the levels, as the "-" and "+" keys do, and a paint after each.
bool UiSteps() {
  FIBITMAP* picture = MakePicture(16000, 12000);
  CEnlargerView view;
  view.resize(1200, 800);
  view.show();
  QApplication::processEvents();
  QImage canvas(view.viewport()->size(), QImage::Format_RGB32);
  const QRect all(QPoint(0, 0), canvas.size());
  double longest = 0;
  const double setImage = Seconds([&] {
    view.SetImage(picture);
    view.SetZoom(1.0);
  });
  std::printf("  show at 100 %%: %.1f ms\n", 1000 * setImage);
  longest = std::max(longest, setImage);
  for (double zoom : {0.75, 0.5, 0.25, 0.1, 0.25, 0.5, 0.75, 1.0, 0.1}) {
    const double set = Seconds([&] { view.SetZoom(zoom); });
    const double paint = Seconds([&] {
      QPainter painter(&canvas);
      view.Render(painter, all);
    });
    const double made = Seconds([&] { Settle(view); });
    std::printf("  to %3d %%: zoom %.1f ms, paint meanwhile %.1f ms; copy ready after %.1f ms\n",
                viewmath::ZoomPercent(zoom), 1000 * set, 1000 * paint, 1000 * made);
    longest = std::max({longest, set, paint});
  }
  const double drop = Seconds([&] { view.SetImage(nullptr); });
  longest = std::max(longest, drop);
  FreeImage_Unload(picture);
  std::printf(
      "UI thread, 16000 x 12000 picture: longest step (show, zoom, paint, drop) %.1f ms"
      " (goal <= 50); dropping the picture %.1f ms\n",
      1000 * longest, 1000 * drop);
  return longest <= 0.05;
}

// A top-down RGB32 copy: the format a painter draws fastest.
QImage TopDownCopy(FIBITMAP* bitmap) {
  FIBITMAP* b32 = FreeImage_ConvertTo32Bits(bitmap);
  const int w = static_cast<int>(FreeImage_GetWidth(b32));
  const int h = static_cast<int>(FreeImage_GetHeight(b32));
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    std::copy_n(FreeImage_GetScanLine(b32, h - 1 - y), w * 4, image.scanLine(y));
  }
  FreeImage_Unload(b32);
  return image;
}

// A 1200 x 800 pane over an 8000 x 6000 picture, against a bare drawImage of
// the same area from a top-down RGB32 copy (which the view does not keep).
bool Painting() {
  FIBITMAP* picture = MakePicture(8000, 6000);
  CEnlargerView view;
  view.resize(1200, 800);
  view.show();
  QApplication::processEvents();
  view.SetImage(picture);
  view.SetZoom(1.0);
  for (int i = 0; i < 3; ++i) {
    QApplication::processEvents();
    view.resize(view.size() + QSize(1200, 800) - view.viewport()->size());
  }
  QApplication::processEvents();
  const QSize client = view.viewport()->size();
  QImage canvas(client, QImage::Format_RGB32);
  const QRect all(QPoint(0, 0), client);
  const QImage topDown = TopDownCopy(picture);
  bool met = true;
  std::printf("paint of a %d x %d pane, ratio to a bare drawImage:\n", client.width(),
              client.height());
  for (double zoom : {0.1, 1.0, 3.33, 20.0}) {
    view.SetZoom(zoom);
    Settle(view);
    view.SetScrollOffset(view.m_scrollSize.width() / 3, view.m_scrollSize.height() / 3, false);
    const QRectF source(view.m_scrollOffset.x() / zoom, view.m_scrollOffset.y() / zoom,
                        client.width() / zoom, client.height() / zoom);
    const int repeat = 20;
    const auto [mine, bare] = Compare(
        9,
        [&] {
          for (int i = 0; i < repeat; ++i) {
            QPainter painter(&canvas);
            view.Render(painter, all);
          }
        },
        [&] {
          for (int i = 0; i < repeat; ++i) {
            QPainter painter(&canvas);
            painter.drawImage(QRectF(all), topDown, source);
          }
        });
    met = met && mine / repeat < 0.005;
    std::printf("  %5d %%: view %.2f ms, bare %.2f ms, ratio %.2f\n", viewmath::ZoomPercent(zoom),
                1000 * mine / repeat, 1000 * bare / repeat, mine / bare);
  }
  view.SetImage(nullptr);
  FreeImage_Unload(picture);
  return met;
}

// Resident memory of the process now and at its peak since the last reset,
// in bytes.
uint64_t StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::strlen(field))) * 1024;
  }
  return 0;
}
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// A huge picture of one kind, and what its pixels hold: a pattern that
// varies across the whole range of the kind.
struct HugePicture {
  const char* name;
  FIBITMAP* (*make)();
};

FIBITMAP* Grey40000() {
  FIBITMAP* b = FreeImage_Allocate(40000, 40000, 8);
  RGBQUAD* palette = FreeImage_GetPalette(b);
  for (int i = 0; i < 256; ++i) palette[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
  for (int y = 0; y < 40000; ++y) {
    BYTE* p = FreeImage_GetScanLine(b, y);
    for (int x = 0; x < 40000; ++x) p[x] = static_cast<BYTE>((x >> 4) ^ (y >> 4));
  }
  return b;
}

FIBITMAP* Rgb16Tiff() {
  // What a 16-bit-per-channel TIFF scan loads as.
  FIBITMAP* b = FreeImage_AllocateT(FIT_RGB16, 12000, 9000, 48);
  for (int y = 0; y < 9000; ++y) {
    auto* p = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(b, y));
    for (int x = 0; x < 12000; ++x) {
      p[x] = {static_cast<WORD>(x * 5), static_cast<WORD>(y * 7), static_cast<WORD>(x * y)};
    }
  }
  return b;
}

FIBITMAP* PalettePng() {
  // What a paletted PNG loads as.
  FIBITMAP* b = FreeImage_Allocate(20000, 20000, 8);
  RGBQUAD* palette = FreeImage_GetPalette(b);
  for (int i = 0; i < 256; ++i) palette[i] = {BYTE(i * 7), BYTE(255 - i), BYTE(i * 3), 0};
  for (int y = 0; y < 20000; ++y) {
    BYTE* p = FreeImage_GetScanLine(b, y);
    for (int x = 0; x < 20000; ++x) p[x] = static_cast<BYTE>((x >> 3) + (y >> 5));
  }
  return b;
}

FIBITMAP* RgbFloat() {
  FIBITMAP* b = FreeImage_AllocateT(FIT_RGBF, 8000, 6000, 96);
  for (int y = 0; y < 6000; ++y) {
    auto* p = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(b, y));
    for (int x = 0; x < 8000; ++x) p[x] = {x / 8000.0f, y / 6000.0f, ((x ^ y) & 255) / 200.0f};
  }
  return b;
}

// The first paint the views once made of such a picture: the whole of it
// converted to 32 bits on the UI thread. Timed on an eighth of its rows and
// taken eight times, so that the bench needs no room for the whole copy.
double WholeConversionSeconds(FIBITMAP* picture) {
  const int w = static_cast<int>(FreeImage_GetWidth(picture));
  const int h = static_cast<int>(FreeImage_GetHeight(picture));
  FIBITMAP* band = FreeImage_Copy(picture, 0, 0, w, h / 8);
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(band);
  const double seconds = Seconds([&] {
    FIBITMAP* converted = nullptr;
    if (type == FIT_RGBF) {
      // That conversion was the views' own loop, as plain as this one.
      converted = FreeImage_Allocate(w, h / 8, 24);
      for (int y = 0; y < h / 8; ++y) {
        const auto* in = reinterpret_cast<const FIRGBF*>(FreeImage_GetScanLine(band, y));
        BYTE* out = FreeImage_GetScanLine(converted, y);
        for (int x = 0; x < w; ++x, out += 3) {
          out[FI_RGBA_RED] = static_cast<BYTE>(std::clamp(in[x].red, 0.0f, 1.0f) * 255 + 0.5f);
          out[FI_RGBA_GREEN] = static_cast<BYTE>(std::clamp(in[x].green, 0.0f, 1.0f) * 255 + 0.5f);
          out[FI_RGBA_BLUE] = static_cast<BYTE>(std::clamp(in[x].blue, 0.0f, 1.0f) * 255 + 0.5f);
        }
      }
    } else {
      converted = FreeImage_ConvertTo32Bits(band);
    }
    FreeImage_Unload(converted);
  });
  FreeImage_Unload(band);
  return 8 * seconds;
}

// Every step of the UI thread from SetImage until the first paint that shows
// the picture as it will stay at zoom (0: fitted), painting the pane as
// often as the screen would, and the peak memory the view took meanwhile.
struct FirstPaint {
  double longestStep = 0;
  double longestCpu = 0;  // of the UI thread in that step
  const char* longestWhat = "";
  double shownAfter = 0;
  uint64_t peakBytes = 0;
};

FirstPaint ShowAt(CEnlargerView& view, FIBITMAP* picture, double zoom) {
  QImage canvas(view.viewport()->size(), QImage::Format_RGB32);
  FirstPaint result;
  const uint64_t before = StatusBytes("VmRSS:");
  ResetPeakMemory();
  const auto start = Clock::now();
  const auto step = [&](const char* what, const std::function<void()>& work) {
    const double cpu = ThreadCpuSeconds();
    const double seconds = Seconds(work);
    if (seconds > result.longestStep) {
      result.longestStep = seconds;
      result.longestCpu = ThreadCpuSeconds() - cpu;
      result.longestWhat = what;
    }
  };
  step("show", [&] {
    view.m_fitToWindow = zoom == 0;
    view.SetImage(picture);
    view.SetZoom(zoom == 0 ? 1.0 : zoom);
  });
  for (;;) {
    const bool ready = view.DisplayReady();
    step(ready ? "paint" : "paint meanwhile", [&] {
      QPainter painter(&canvas);
      view.Render(painter, canvas.rect());
    });
    if (ready) break;
    step("events", [] { QApplication::processEvents(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(16));  // a screen refresh
  }
  result.shownAfter = std::chrono::duration<double>(Clock::now() - start).count();
  result.peakBytes = StatusBytes("VmHWM:") - std::min(before, StatusBytes("VmHWM:"));
  step("drop", [&] { view.SetImage(nullptr); });
  view.m_fitToWindow = false;
  // The copies go on workers: the next picture starts from the bitmap alone.
  for (int i = 0; i < 100 && StatusBytes("VmRSS:") > before + (uint64_t{16} << 20); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return result;
}

double Mega(uint64_t bytes) { return bytes / 1e6; }

bool HugePictures() {
  bool met = true;
  std::printf(
      "huge pictures of every kind in a 1200 x 800 pane, from SetImage to the first complete"
      " paint:\n");
  for (const HugePicture& kind : {HugePicture{"40000 x 40000 8-bit grey", Grey40000},
                                  HugePicture{"12000 x 9000 RGB16 (TIFF)", Rgb16Tiff},
                                  HugePicture{"20000 x 20000 8-bit palette (PNG)", PalettePng},
                                  HugePicture{"8000 x 6000 RGBF", RgbFloat}}) {
    FIBITMAP* picture = kind.make();
    const int w = static_cast<int>(FreeImage_GetWidth(picture));
    const int h = static_cast<int>(FreeImage_GetHeight(picture));
    const uint64_t pictureBytes = uint64_t{FreeImage_GetPitch(picture)} * h;
    const double whole = WholeConversionSeconds(picture);
    std::printf(
        "  %s (%.0f MB): the whole 32-bit copy once made at the first paint: %.0f ms,"
        " %.0f MB\n",
        kind.name, Mega(pictureBytes), 1000 * whole, Mega(uint64_t{4} * w * h));
    CEnlargerView view;
    view.resize(1200, 800);
    view.show();
    QApplication::processEvents();
    for (double zoom : {1.0, 0.5, 0.1, 0.0}) {
      const FirstPaint shown = ShowAt(view, picture, zoom);
      const double z =
          zoom == 0 ? std::max(viewmath::kMinZoom, std::min({1.0, 1200.0 / w, 800.0 / h})) : zoom;
      // The reduced copy for the zoom and the half-size level it comes from.
      const int bytes = views::ReducedBytesPerPixel(picture);
      const viewmath::ISize size = viewmath::DisplayedSize(w, h, z);
      const auto copyBytes = [&](int cx, int cy) {
        return uint64_t{4} * ((cx * bytes + 3) / 4) * cy;
      };
      uint64_t copies = z < 1.0 ? copyBytes(size.cx, size.cy) : 0;
      if (z < 0.5) copies += copyBytes(w / 2, h / 2);
      const uint64_t beyond = shown.peakBytes - std::min(shown.peakBytes, copies);
      met = met && shown.longestStep <= 0.05 && beyond < pictureBytes / 10;
      std::printf(
          "    %-4s: longest UI step %.1f ms (%s, %.1f ms of processor time; goal <= 50; %.0f x"
          " shorter than the whole copy),"
          " shown after %.0f ms; memory beyond the bitmap at the peak %.1f MB: reduced copies"
          " %.1f MB, the rest %.1f MB = %.2f %% of the picture (goal < 10 %%)\n",
          zoom == 0 ? "fit" : (std::to_string(viewmath::ZoomPercent(zoom)) + "%").c_str(),
          1000 * shown.longestStep, shown.longestWhat, 1000 * shown.longestCpu,
          whole / shown.longestStep, 1000 * shown.shownAfter, Mega(shown.peakBytes), Mega(copies),
          Mega(beyond), 100.0 * beyond / pictureBytes);
    }
    FreeImage_Unload(picture);
  }
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  FreeImage_Initialise(TRUE);
  // "reduce", "ui", "paint" or "huge" runs one part only.
  const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  bool met = true;
  if (only.isEmpty() || only == "reduce") met = ReducedCopies() && met;
  if (only.isEmpty() || only == "ui") met = UiSteps() && met;
  if (only.isEmpty() || only == "paint") met = Painting() && met;
  if (only.isEmpty() || only == "huge") met = HugePictures() && met;
  std::printf("\n%s\n", met ? "all goals met" : "some goals missed");
  FreeImage_DeInitialise();
  return 0;
}
