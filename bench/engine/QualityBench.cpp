// Enlargement quality and speed of the engine against FreeImage's filters.
//
// Each picture is reduced by FreeImage's antialiased Catmull-Rom filter, given
// sensor noise if asked, then,
// for each input kind, kept as it is or saved as a JPEG of the given quality
// and read back (FreeImage), and enlarged back to its size by the engine
// (through its five calls), by an earlier build of the engine if one is given,
// and by FreeImage's Lanczos3, Catmull-Rom and bicubic filters, all in the
// same run. The pictures are the photographs named on the command line and
// three drawings that the bench makes itself; each group is averaged apart.
// A line drawing rendered at its own size and at four times it is enlarged
// by four (and only by four) and scored against the larger rendering; for it
// a ghost measure is printed too: the mean departure from the paper of the
// paper pixels 3 to 8 pixels from any stroke, where faint copies of lines show.
// Printed per group, input kind, factor and method: PSNR on luma (BT.601,
// 16-235, the border shaved by the factor) and SSIM, the mean gain over
// Lanczos3 with the picture that gains least, PSNR on chroma (BT.601 Cb and
// Cr, 16-240, their squared errors pooled, the same border shaved; pictures
// in colour only) with its mean gain over Lanczos3, and output megapixels per
// second with the speed as a ratio to Lanczos3. Each timing is the fastest of
// three runs, to damp other work on the machine.
//
// Usage: engine_quality_bench [--factors 1.5,2,3] [--kinds 0,90,75] [--previous lib.so]
//                             [--noise s] [--save dir] photo...
//   --kinds: 0 is the clean input, other numbers JPEG qualities.
//   --noise: Gaussian noise of deviation s levels (seeded) in each colour
//            channel of the reduced picture, before any JPEG.
//   --previous: an earlier libampliscale.so, measured beside this one.
//   --save: writes every enlargement (engine, previous, Lanczos3) there as PNG,
//           and the line art's truth.
#include <FreeImage.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bench/engine/Drawings.h"
#include "engine/ampliscale.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 3;

struct Luma {
  int w = 0, h = 0;
  std::vector<double> y;  // top row first
  double at(int x, int r) const { return y[static_cast<std::size_t>(r) * w + x]; }
};

// BT.601 studio-range conversions of red, green and blue levels.
double ToLuma(double r, double g, double b) {
  return 16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0;
}
double ToCb(double r, double g, double b) {
  return 128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0;
}
double ToCr(double r, double g, double b) {
  return 128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0;
}

Luma FromBitmap(FIBITMAP* dib, double (*convert)(double, double, double) = ToLuma) {
  Luma l;
  l.w = FreeImage_GetWidth(dib);
  l.h = FreeImage_GetHeight(dib);
  l.y.resize(static_cast<std::size_t>(l.w) * l.h);
  for (int r = 0; r < l.h; ++r) {
    const BYTE* p = FreeImage_GetScanLine(dib, l.h - 1 - r);
    for (int x = 0; x < l.w; ++x, p += 3)
      l.y[static_cast<std::size_t>(r) * l.w + x] = convert(p[2], p[1], p[0]);
  }
  return l;
}

// PSNR over the pooled squared errors of pairs of planes (a[i] against b[i]).
double Psnr(std::initializer_list<std::pair<const Luma*, const Luma*>> planes, int shave) {
  double sum = 0;
  long n = 0;
  for (const auto& [a, b] : planes) {
    for (int r = shave; r < a->h - shave; ++r) {
      for (int x = shave; x < a->w - shave; ++x) {
        const double d = std::round(a->at(x, r)) - std::round(b->at(x, r));
        sum += d * d;
        ++n;
      }
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

// An engine's five calls, from this build or from an earlier one.
struct Engine {
  int (*init)(AmpliscaleWindow*) = DllInit;
  void (*source)(int, int, void*) = DllSetSourceImage;
  void (*dest)(int, int, void*) = DllSetDestImage;
  void (*filter)() = DllFilter;
  void (*next)() = DllNextStage;
};

bool LoadEngine(const char* path, Engine& engine) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  auto find = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
    return function != nullptr;
  };
  return find(engine.init, "DllInit") && find(engine.source, "DllSetSourceImage") &&
         find(engine.dest, "DllSetDestImage") && find(engine.filter, "DllFilter") &&
         find(engine.next, "DllNextStage");
}

// The engine's job through its five calls; returns the W x H result, top row first.
std::vector<BYTE> EngineEnlarge(const Engine& engine, FIBITMAP* small, int W, int H,
                                double& seconds) {
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
  engine.init(nullptr);
  engine.source(w, h, source.data());
  engine.dest(W, H, dest.data());
  engine.filter();
  engine.next();
  engine.next();
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  dest.resize(static_cast<std::size_t>(W) * H * 4);
  return dest;
}

FIBITMAP* ToBitmap(const std::vector<BYTE>& bgra, int W, int H) {
  FIBITMAP* dib = FreeImage_Allocate(W, H, 24);
  for (int r = 0; r < H; ++r) {
    BYTE* p = FreeImage_GetScanLine(dib, H - 1 - r);
    for (int x = 0; x < W; ++x)
      std::memcpy(p + 3 * x, &bgra[(static_cast<std::size_t>(r) * W + x) * 4], 3);
  }
  return dib;
}

// The picture as it comes back from a JPEG file of the given quality.
FIBITMAP* ThroughJpeg(FIBITMAP* dib, int quality) {
  FIMEMORY* memory = FreeImage_OpenMemory();
  FreeImage_SaveToMemory(FIF_JPEG, dib, memory, quality);
  FreeImage_SeekMemory(memory, 0, SEEK_SET);
  FIBITMAP* loaded = FreeImage_LoadFromMemory(FIF_JPEG, memory);
  FreeImage_CloseMemory(memory);
  FIBITMAP* rgb = FreeImage_ConvertTo24Bits(loaded);
  FreeImage_Unload(loaded);
  return rgb;
}

// Adds independent Gaussian noise to every colour channel, the same for a
// given picture size in every run.
void AddNoise(FIBITMAP* dib, double deviation) {
  const int w = FreeImage_GetWidth(dib), h = FreeImage_GetHeight(dib);
  std::mt19937 random(static_cast<unsigned>(w * 7919 + h));
  std::normal_distribution<double> noise(0.0, deviation);
  for (int r = 0; r < h; ++r) {
    BYTE* p = FreeImage_GetScanLine(dib, r);
    for (int i = 0; i < 3 * w; ++i)
      p[i] = static_cast<BYTE>(std::clamp(std::lround(p[i] + noise(random)), 0L, 255L));
  }
}

// Mean absolute departure from the paper colour, over the colour channels, of
// the pixels that are paper in the truth and lie 3 to 8 pixels (in the larger
// of the two directions) from the nearest stroke: a stroke is a pixel more
// than 24 levels off the paper in some channel.
double Ghosts(FIBITMAP* truth, FIBITMAP* result, const int paper[3]) {
  const int W = FreeImage_GetWidth(truth), H = FreeImage_GetHeight(truth);
  constexpr int kNear = 3, kFar = 8;
  auto off = [&](FIBITMAP* dib, int x, int y) {
    const BYTE* p = FreeImage_GetScanLine(dib, H - 1 - y) + 3 * x;
    return std::max({std::abs(p[FI_RGBA_RED] - paper[0]), std::abs(p[FI_RGBA_GREEN] - paper[1]),
                     std::abs(p[FI_RGBA_BLUE] - paper[2])});
  };
  // Chessboard distance to the nearest stroke, up to kFar + 1, by two passes.
  std::vector<int> distance(static_cast<std::size_t>(W) * H, kFar + 1);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      if (off(truth, x, y) > 24) distance[static_cast<std::size_t>(y) * W + x] = 0;
    }
  }
  auto at = [&](int x, int y) -> int& { return distance[static_cast<std::size_t>(y) * W + x]; };
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      for (const auto& [dx, dy] : {std::pair{-1, 0}, {-1, -1}, {0, -1}, {1, -1}}) {
        if (x + dx >= 0 && x + dx < W && y + dy >= 0)
          at(x, y) = std::min(at(x, y), at(x + dx, y + dy) + 1);
      }
    }
  }
  for (int y = H - 1; y >= 0; --y) {
    for (int x = W - 1; x >= 0; --x) {
      for (const auto& [dx, dy] : {std::pair{1, 0}, {1, 1}, {0, 1}, {-1, 1}}) {
        if (x + dx >= 0 && x + dx < W && y + dy < H)
          at(x, y) = std::min(at(x, y), at(x + dx, y + dy) + 1);
      }
    }
  }
  double sum = 0;
  long n = 0;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      if (at(x, y) < kNear || at(x, y) > kFar || off(truth, x, y) != 0) continue;
      const BYTE* p = FreeImage_GetScanLine(result, H - 1 - y) + 3 * x;
      sum += (std::abs(p[FI_RGBA_RED] - paper[0]) + std::abs(p[FI_RGBA_GREEN] - paper[1]) +
              std::abs(p[FI_RGBA_BLUE] - paper[2])) /
             3.0;
      ++n;
    }
  }
  return n ? sum / n : 0.0;
}

struct Score {
  double psnr = 0, ssim = 0, chroma = 0, seconds = 0, megapixels = 0, ghosts = 0;
  int count = 0;
  int colourCount = 0;  // pictures in colour, which alone count for chroma
};

enum Method { kEngine, kPrevious, kLanczos3, kCatmullRom, kBicubic, kMethods };
const char* const kNames[kMethods] = {"engine", "previous", "Lanczos3", "Catmull-Rom", "bicubic"};

struct Row {
  Score scores[kMethods];
  double leastGain = 1e9;  // of the engine over Lanczos3, over the pictures
  std::string leastName;
  double leastChromaGain = 1e9;  // the same on chroma
  std::string leastChromaName;
};

struct Picture {
  std::string name;
  FIBITMAP* bitmap;
  std::string group;          // photographs, drawings or line art
  FIBITMAP* truth = nullptr;  // line art: the rendering at four times the size
  int paper[3] = {};
};

std::vector<double> ParseList(const char* text) {
  std::vector<double> values;
  for (const char* p = text; *p;) {
    char* end = nullptr;
    values.push_back(std::strtod(p, &end));
    if (end == p) break;
    p = *end == ',' ? end + 1 : end;
  }
  return values;
}

std::string KindName(int quality) {
  return quality ? "JPEG q" + std::to_string(quality) : std::string("clean");
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return name.substr(0, name.find('.'));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<double> factors = {1.5, 2, 3, 4, 8};
  std::vector<double> kinds = {0, 90, 75};
  std::vector<std::string> photos;
  std::string saveDir;
  double noise = 0;
  Engine engines[2];
  bool previous = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--factors") && i + 1 < argc) {
      factors = ParseList(argv[++i]);
    } else if (!std::strcmp(argv[i], "--kinds") && i + 1 < argc) {
      kinds = ParseList(argv[++i]);
    } else if (!std::strcmp(argv[i], "--noise") && i + 1 < argc) {
      noise = std::strtod(argv[++i], nullptr);
    } else if (!std::strcmp(argv[i], "--save") && i + 1 < argc) {
      saveDir = argv[++i];
    } else if (!std::strcmp(argv[i], "--previous") && i + 1 < argc) {
      previous = LoadEngine(argv[++i], engines[1]);
      if (!previous) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[i], dlerror());
        return 2;
      }
    } else {
      photos.push_back(argv[i]);
    }
  }
  FreeImage_Initialise(FALSE);
  std::vector<Picture> pictures;
  for (const std::string& path : photos) {
    FIBITMAP* loaded = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
    if (!loaded) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      continue;
    }
    pictures.push_back({BaseName(path), FreeImage_ConvertTo24Bits(loaded), "photographs"});
    FreeImage_Unload(loaded);
  }
  for (const enginebench::Drawing& d : enginebench::MakeDrawings())
    pictures.push_back({d.name, d.bitmap, "drawings"});
  const enginebench::LineArt art = enginebench::MakeLineArt();
  pictures.push_back(
      {art.name, art.small, "line art", art.truth, {art.paper[0], art.paper[1], art.paper[2]}});

  const FREE_IMAGE_FILTER filters[] = {FILTER_LANCZOS3, FILTER_CATMULLROM, FILTER_BICUBIC};
  // [group][kind][factor]
  std::map<std::string, std::map<double, std::map<double, Row>>> rows;
  for (const Picture& picture : pictures) {
    for (const double kind : kinds) {
      for (const double factor : factors) {
        if (picture.truth && factor != 4) continue;
        FIBITMAP* photo = picture.bitmap;
        // Line art comes small, with its truth; other pictures are their own truth.
        const double reduction = picture.truth ? 1.0 : factor;
        const int w = std::max(1, static_cast<int>(FreeImage_GetWidth(photo) / reduction));
        const int h = std::max(1, static_cast<int>(FreeImage_GetHeight(photo) / reduction));
        const int W = static_cast<int>(w * factor), H = static_cast<int>(h * factor);
        FIBITMAP* truth =
            picture.truth ? FreeImage_Clone(picture.truth) : FreeImage_Copy(photo, 0, 0, W, H);
        FIBITMAP* small = picture.truth ? FreeImage_Clone(photo)
                                        : FreeImage_Rescale(truth, w, h, FILTER_CATMULLROM);
        if (noise > 0) AddNoise(small, noise);
        if (kind > 0) {
          FIBITMAP* compressed = ThroughJpeg(small, static_cast<int>(kind));
          FreeImage_Unload(small);
          small = compressed;
        }
        const Luma reference = FromBitmap(truth), referenceCb = FromBitmap(truth, ToCb),
                   referenceCr = FromBitmap(truth, ToCr);
        // Grey pictures have no chroma to score.
        const auto grey = [](const Luma& l) {
          return std::all_of(l.y.begin(), l.y.end(),
                             [](double v) { return std::fabs(v - 128) < 1; });
        };
        const bool coloured = !grey(referenceCb) || !grey(referenceCr);
        const int shave = static_cast<int>(std::ceil(factor));
        Row& row = rows[picture.group][kind][factor];
        char tag[64];
        std::snprintf(tag, sizeof tag, "_%s_x%g_",
                      kind ? std::to_string(int(kind)).c_str() : "clean", factor);
        double chroma[kMethods] = {};
        auto add = [&](Method m, FIBITMAP* result, double seconds) {
          Score& s = row.scores[m];
          const Luma l = FromBitmap(result);
          const Luma cb = FromBitmap(result, ToCb), cr = FromBitmap(result, ToCr);
          const double psnr = Psnr({{&reference, &l}}, shave);
          s.psnr += psnr;
          s.ssim += Ssim(reference, l, shave);
          chroma[m] = Psnr({{&referenceCb, &cb}, {&referenceCr, &cr}}, shave);
          if (coloured) {
            s.chroma += chroma[m];
            ++s.colourCount;
          }
          if (picture.truth) s.ghosts += Ghosts(truth, result, picture.paper);
          s.seconds += seconds;
          s.megapixels += W * static_cast<double>(H) / 1e6;
          ++s.count;
          if (!saveDir.empty() && m <= kLanczos3) {
            const std::string file = saveDir + "/" + picture.name + tag + kNames[m] + ".png";
            FreeImage_Save(FIF_PNG, result, file.c_str(), 0);
          }
          return psnr;
        };
        if (!saveDir.empty() && picture.truth) {
          const std::string file = saveDir + "/" + picture.name + tag + "truth.png";
          FreeImage_Save(FIF_PNG, truth, file.c_str(), 0);
        }
        double psnr[kMethods] = {};
        for (int m = kEngine; m <= kPrevious; ++m) {
          if (m == kPrevious && !previous) continue;
          double seconds = 0, fastest = 1e30;
          std::vector<BYTE> enlarged;
          for (int run = 0; run < kRuns; ++run) {
            enlarged = EngineEnlarge(engines[m], small, W, H, seconds);
            fastest = std::min(fastest, seconds);
          }
          FIBITMAP* result = ToBitmap(enlarged, W, H);
          psnr[m] = add(static_cast<Method>(m), result, fastest);
          FreeImage_Unload(result);
        }
        for (int m = kLanczos3; m < kMethods; ++m) {
          FIBITMAP* big = nullptr;
          double t = 1e30;
          for (int run = 0; run < kRuns; ++run) {
            if (big) FreeImage_Unload(big);
            const auto start = Clock::now();
            big = FreeImage_Rescale(small, W, H, filters[m - kLanczos3]);
            t = std::min(t, std::chrono::duration<double>(Clock::now() - start).count());
          }
          psnr[m] = add(static_cast<Method>(m), big, t);
          FreeImage_Unload(big);
        }
        if (psnr[kEngine] - psnr[kLanczos3] < row.leastGain) {
          row.leastGain = psnr[kEngine] - psnr[kLanczos3];
          row.leastName = picture.name;
        }
        if (coloured && chroma[kEngine] - chroma[kLanczos3] < row.leastChromaGain) {
          row.leastChromaGain = chroma[kEngine] - chroma[kLanczos3];
          row.leastChromaName = picture.name;
        }
        FreeImage_Unload(small);
        FreeImage_Unload(truth);
      }
    }
  }
  for (const auto& [group, byKind] : rows) {
    const bool ghosts = group == "line art";
    for (const auto& [kind, byFactor] : byKind) {
      std::printf("\n== %s, %s input%s\n", group.c_str(), KindName(static_cast<int>(kind)).c_str(),
                  noise > 0 ? (", noise " + std::to_string(noise).substr(0, 4)).c_str() : "");
      std::printf("%-6s %-12s %8s %8s %9s %9s %8s %9s %8s%s\n", "factor", "method", "PSNR dB",
                  "SSIM", "MP/s", "vs L3", "gain dB", "CbCr dB", "gain dB",
                  ghosts ? "   ghosts  vs L3" : "");
      for (const auto& [factor, row] : byFactor) {
        const Score& lanczos = row.scores[kLanczos3];
        for (int m = 0; m < kMethods; ++m) {
          const Score& s = row.scores[m];
          if (!s.count) continue;
          const double speed = s.megapixels / s.seconds;
          std::printf("%-6.2f %-12s %8.2f %8.4f %9.1f %8.2fx %+8.2f %9.2f %+8.2f", factor,
                      kNames[m], s.psnr / s.count, s.ssim / s.count, speed,
                      speed / (lanczos.megapixels / lanczos.seconds),
                      (s.psnr - lanczos.psnr) / s.count, s.chroma / std::max(1, s.colourCount),
                      (s.chroma - lanczos.chroma) / std::max(1, s.colourCount));
          if (ghosts) std::printf(" %9.3f %6.2fx", s.ghosts / s.count, s.ghosts / lanczos.ghosts);
          std::printf("\n");
        }
        std::printf("%-6.2f engine's least gain over Lanczos3: %+.2f dB (%s)\n", factor,
                    row.leastGain, row.leastName.c_str());
        std::printf("%-6.2f engine's least chroma gain over Lanczos3: %+.2f dB (%s)\n", factor,
                    row.leastChromaGain, row.leastChromaName.c_str());
      }
    }
  }
  for (const Picture& picture : pictures) {
    FreeImage_Unload(picture.bitmap);
    if (picture.truth) FreeImage_Unload(picture.truth);
  }
  FreeImage_DeInitialise();
  return 0;
}
