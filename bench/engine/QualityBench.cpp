// Enlargement quality and speed of the engine against FreeImage's filters.
//
// Each photograph is reduced by FreeImage's antialiased Catmull-Rom filter,
// then enlarged back to its size by the engine (through its five calls) and by
// FreeImage's Lanczos3, Catmull-Rom and bicubic filters, all in the same run.
// Printed per factor and method: PSNR on luma (BT.601, 16-235, the border
// shaved by the factor) and SSIM, averaged over the photographs, and output
// megapixels per second, with the engine's speed as a ratio to Lanczos3.
// Each timing is the fastest of three runs, to damp other work on the machine.
//
// Usage: engine_quality_bench [--factors 1.5,2,3] [--threads N] photo...
#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/ampliscale.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 3;

struct Luma {
  int w = 0, h = 0;
  std::vector<double> y;  // top row first
  double at(int x, int r) const { return y[static_cast<std::size_t>(r) * w + x]; }
};

double ToLuma(double r, double g, double b) {
  return 16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0;
}

Luma FromBitmap(FIBITMAP* dib) {
  Luma l;
  l.w = FreeImage_GetWidth(dib);
  l.h = FreeImage_GetHeight(dib);
  l.y.resize(static_cast<std::size_t>(l.w) * l.h);
  for (int r = 0; r < l.h; ++r) {
    const BYTE* p = FreeImage_GetScanLine(dib, l.h - 1 - r);
    for (int x = 0; x < l.w; ++x, p += 3)
      l.y[static_cast<std::size_t>(r) * l.w + x] = ToLuma(p[2], p[1], p[0]);
  }
  return l;
}

Luma FromTopDown(const std::vector<BYTE>& bgra, int w, int h) {
  Luma l;
  l.w = w;
  l.h = h;
  l.y.resize(static_cast<std::size_t>(w) * h);
  for (std::size_t i = 0; i < l.y.size(); ++i)
    l.y[i] = ToLuma(bgra[4 * i + 2], bgra[4 * i + 1], bgra[4 * i]);
  return l;
}

double Psnr(const Luma& a, const Luma& b, int shave) {
  double sum = 0;
  long n = 0;
  for (int r = shave; r < a.h - shave; ++r) {
    for (int x = shave; x < a.w - shave; ++x) {
      const double d = std::round(a.at(x, r)) - std::round(b.at(x, r));
      sum += d * d;
      ++n;
    }
  }
  return n && sum > 0 ? 10.0 * std::log10(255.0 * 255.0 * n / sum) : 99.0;
}

// Mean SSIM with the usual 11 x 11 Gaussian window (sigma 1.5).
double Ssim(const Luma& a, const Luma& b, int shave) {
  const int w = a.w - 2 * shave, h = a.h - 2 * shave;
  if (w < 11 || h < 11) return 1.0;
  double kernel[11], total = 0;
  for (int i = 0; i < 11; ++i)
    total += kernel[i] = std::exp(-((i - 5) * (i - 5)) / (2 * 1.5 * 1.5));
  for (double& k : kernel) k /= total;
  auto blur = [&](const std::vector<double>& in) {
    std::vector<double> tmp(static_cast<std::size_t>(w) * h),
        out(static_cast<std::size_t>(w - 10) * (h - 10));
    for (int r = 0; r < h; ++r) {
      for (int x = 0; x + 10 < w; ++x) {
        double s = 0;
        for (int k = 0; k < 11; ++k) s += kernel[k] * in[static_cast<std::size_t>(r) * w + x + k];
        tmp[static_cast<std::size_t>(r) * w + x] = s;
      }
    }
    for (int r = 0; r + 10 < h; ++r) {
      for (int x = 0; x + 10 < w; ++x) {
        double s = 0;
        for (int k = 0; k < 11; ++k) s += kernel[k] * tmp[static_cast<std::size_t>(r + k) * w + x];
        out[static_cast<std::size_t>(r) * (w - 10) + x] = s;
      }
    }
    return out;
  };
  std::vector<double> x(static_cast<std::size_t>(w) * h), y(x.size()), xx(x.size()), yy(x.size()),
      xy(x.size());
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const std::size_t i = static_cast<std::size_t>(r) * w + c;
      x[i] = std::round(a.at(c + shave, r + shave));
      y[i] = std::round(b.at(c + shave, r + shave));
      xx[i] = x[i] * x[i];
      yy[i] = y[i] * y[i];
      xy[i] = x[i] * y[i];
    }
  }
  const auto mx = blur(x), my = blur(y), sxx = blur(xx), syy = blur(yy), sxy = blur(xy);
  const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double sum = 0;
  for (std::size_t i = 0; i < mx.size(); ++i) {
    const double vx = sxx[i] - mx[i] * mx[i], vy = syy[i] - my[i] * my[i],
                 cv = sxy[i] - mx[i] * my[i];
    sum += ((2 * mx[i] * my[i] + c1) * (2 * cv + c2)) /
           ((mx[i] * mx[i] + my[i] * my[i] + c1) * (vx + vy + c2));
  }
  return sum / mx.size();
}

// The engine's job through its five calls; returns the W x H result, top row first.
std::vector<BYTE> EngineEnlarge(FIBITMAP* small, int W, int H, double& seconds) {
  const int w = FreeImage_GetWidth(small), h = FreeImage_GetHeight(small);
  std::vector<BYTE> source(static_cast<std::size_t>(w) * h * 4);
  for (int r = 0; r < h; ++r) {
    const BYTE* p = FreeImage_GetScanLine(small, r);  // bottom row first, as the engine wants
    for (int x = 0; x < w; ++x)
      std::memcpy(&source[(static_cast<std::size_t>(r) * w + x) * 4], p + 3 * x, 3);
  }
  const std::size_t bufW = std::max(W, 2 * w - 1), bufH = std::max(H, 2 * h - 1);
  std::vector<BYTE> dest(bufW * bufH * 4);
  const auto start = Clock::now();
  DllInit(nullptr);
  DllSetSourceImage(w, h, source.data());
  DllSetDestImage(W, H, dest.data());
  DllFilter();
  DllNextStage();
  DllNextStage();
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  dest.resize(static_cast<std::size_t>(W) * H * 4);
  return dest;
}

struct Score {
  double psnr = 0, ssim = 0, seconds = 0, megapixels = 0;
  int count = 0;
};

std::vector<double> ParseList(const char* text) {
  std::vector<double> values;
  for (const char* p = text; *p;) {
    char* end = nullptr;
    values.push_back(std::strtod(p, &end));
    p = *end == ',' ? end + 1 : end;
    if (end == p && *p) break;
  }
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<double> factors = {1.5, 2, 3, 4, 8};
  std::vector<std::string> photos;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--factors") && i + 1 < argc) {
      factors = ParseList(argv[++i]);
    } else {
      photos.push_back(argv[i]);
    }
  }
  if (photos.empty()) {
    std::fprintf(stderr, "usage: %s [--factors 1.5,2,3] photo...\n", argv[0]);
    return 2;
  }
  FreeImage_Initialise(FALSE);
  const char* names[] = {"engine", "Lanczos3", "Catmull-Rom", "bicubic"};
  const FREE_IMAGE_FILTER filters[] = {FILTER_LANCZOS3, FILTER_CATMULLROM, FILTER_BICUBIC};
  std::map<double, Score[4]> scores;
  for (const std::string& path : photos) {
    FIBITMAP* loaded = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
    if (!loaded) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      continue;
    }
    FIBITMAP* photo = FreeImage_ConvertTo24Bits(loaded);
    FreeImage_Unload(loaded);
    for (const double factor : factors) {
      const int w = std::max(1, static_cast<int>(FreeImage_GetWidth(photo) / factor));
      const int h = std::max(1, static_cast<int>(FreeImage_GetHeight(photo) / factor));
      const int W = static_cast<int>(w * factor), H = static_cast<int>(h * factor);
      FIBITMAP* truth = FreeImage_Copy(photo, 0, 0, W, H);
      FIBITMAP* small = FreeImage_Rescale(truth, w, h, FILTER_CATMULLROM);
      const Luma reference = FromBitmap(truth);
      const int shave = static_cast<int>(std::ceil(factor));
      Score* row = scores[factor];
      double seconds = 0, fastest = 1e30;
      std::vector<BYTE> enlarged;
      for (int run = 0; run < kRuns; ++run) {
        enlarged = EngineEnlarge(small, W, H, seconds);
        fastest = std::min(fastest, seconds);
      }
      const auto ours = FromTopDown(enlarged, W, H);
      auto add = [&](Score& s, const Luma& l, double t) {
        s.psnr += Psnr(reference, l, shave);
        s.ssim += Ssim(reference, l, shave);
        s.seconds += t;
        s.megapixels += W * static_cast<double>(H) / 1e6;
        ++s.count;
      };
      add(row[0], ours, fastest);
      for (int m = 0; m < 3; ++m) {
        FIBITMAP* big = nullptr;
        double t = 1e30;
        for (int run = 0; run < kRuns; ++run) {
          if (big) FreeImage_Unload(big);
          const auto start = Clock::now();
          big = FreeImage_Rescale(small, W, H, filters[m]);
          t = std::min(t, std::chrono::duration<double>(Clock::now() - start).count());
        }
        add(row[m + 1], FromBitmap(big), t);
        FreeImage_Unload(big);
      }
      FreeImage_Unload(small);
      FreeImage_Unload(truth);
    }
    FreeImage_Unload(photo);
  }
  std::printf("%-6s %-12s %8s %8s %9s %9s\n", "factor", "method", "PSNR dB", "SSIM", "MP/s",
              "vs L3");
  for (const auto& [factor, row] : scores) {
    for (int m = 0; m < 4; ++m) {
      const Score& s = row[m];
      if (!s.count) continue;
      const double speed = s.megapixels / s.seconds;
      const double lanczos = row[1].megapixels / row[1].seconds;
      std::printf("%-6.2f %-12s %8.2f %8.4f %9.1f %8.2fx\n", factor, names[m], s.psnr / s.count,
                  s.ssim / s.count, speed, speed / lanczos);
    }
    std::printf("%-6.2f engine gain over Lanczos3: %+.2f dB\n", factor,
                (row[0].psnr - row[1].psnr) / row[0].count);
  }
  FreeImage_DeInitialise();
  return 0;
}
