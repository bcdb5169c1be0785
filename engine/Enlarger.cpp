#include "engine/Enlarger.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "engine/NetWeights.h"
#include "engine/Noise.h"
#include "engine/StrengthCheck.h"

namespace ampliscale {
namespace {

// Below 1.1 times the learned doubling, reduced again to so near the source's
// size, would change the picture more than it enlarges it; the margin keeps a
// 110 % target on the learned side whichever way its size was rounded. This
// and kNearScaleMeasureShare come from engine/training/calibrate_near_scale.py.
constexpr double kLearnFrom = 1.1 - 0.005;
// Below this factor the network's correction would cost more time than so
// small an enlargement warrants: the learned filters double alone.
constexpr double kRefineFrom = 1.3;
// Below kRefineFrom the result is close to the source's own scale, where the
// smoothing meant for compression artefacts would also take real detail: the
// filters are chosen for this share of the measured compression.
constexpr double kNearScaleMeasureShare = 0.5;
// Once the remaining factor after the doublings reaches this, one more pays.
constexpr double kDoubleAgainFrom = 1.6;
// From two doublings on their overshoots add up to halos along strong edges,
// and holding them to the source's range gains (0.05 to 0.08 dB on training
// photographs at 400 %); after one, it costs clean photographs 0.04 to 0.08
// dB at 150 to 200 % for halos that are rare there.
constexpr int kHaloGuardFrom = 2;
// Beyond two doublings the picture is smooth enough that cubic interpolation
// does as well as a third, at a fraction of the cost.
constexpr int kMostDoublings = 2;

// Rough cost of the work per pixel, so that progress keeps pace with time.
constexpr std::uint64_t kCostConvert = 4;
constexpr std::uint64_t kCostMeasure = 6;
constexpr std::uint64_t kCostLearned = 16;
// Per source pixel: the network's multiply-adds, about 37 to a unit of cost.
constexpr std::uint64_t kCostRefine =
    (net::kFirstKernel * net::kFirstKernel * net::kWidth +
     net::kMiddleLayers * 9 * net::kWidth * net::kWidth + 9 * net::kWidth * 4) /
    37;
constexpr std::uint64_t kCostHalve = 4;                                     // per source pixel read
constexpr std::uint64_t kCostCompare = 4 * kCostLearned + kCostRefine + 8;  // per half-size pixel
constexpr std::uint64_t kCostResampleRow = 2;
constexpr std::uint64_t kCostOutput = 3;
constexpr std::uint64_t kCostGuide = 40;  // per source pixel the chroma guide fits

// Pixels per chunk: small enough that reports and an early stop come within
// a few milliseconds, large enough that band margins cost little.
constexpr int kChunkPixels = 1 << 16;

constexpr float kRed = 0.299f;
constexpr float kGreen = 0.587f;
constexpr float kBlue = 0.114f;

static_assert(std::endian::native == std::endian::little,
              "pixels are stored as little-endian words");

typedef float Vec4 __attribute__((vector_size(16)));
typedef std::int32_t Vec4i __attribute__((vector_size(16)));

// Rounds to bytes (blue, green, red, 0) for four pixels at once.
inline Vec4i ToPixels(Vec4 luma, Vec4 blue, Vec4 red) {
  const Vec4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
  const Vec4 top = zero + 255.0f;
  auto byte = [&](Vec4 v) {
    v = v > zero ? v : zero;
    v = v < top ? v : top;
    return __builtin_convertvector(v + 0.5f, Vec4i);
  };
  const Vec4 green = luma - (kBlue * blue + kRed * red) * (1.0f / kGreen);
  return byte(luma + blue) | (byte(green) << 8) | (byte(luma + red) << 16);
}

int RowsPerChunk(int width, int minimum, int maximum) {
  return std::clamp(kChunkPixels / std::max(1, width), minimum, maximum);
}

// Source rows per chunk of the first doubling: the network recomputes its
// margin around each band, so bands are kept tall enough for that to cost little.
int RefineRows(int width) { return RowsPerChunk(width, 8, 64); }

// The enlargement factor of the axis that grows least.
double Factor(int w, int h, int W, int H) {
  return std::min(static_cast<double>(W) / w, static_cast<double>(H) / h);
}

std::size_t Area(int w, int h) { return static_cast<std::size_t>(w) * static_cast<std::size_t>(h); }

}  // namespace

struct Enlarger::Scratch {
  StepScratch step;
  std::vector<float> grid;    // rows of the last doubling
  std::vector<float> line;    // one source row's chroma, or the guide's rows
  std::vector<float> luma;    // luma rows resampled to W
  std::vector<float> chroma;  // chroma rows resampled to W, blue then red (or the guide's four)
  std::vector<float> output;  // one output row: luma and the resampled chroma channels
  NetScratch net;
  ChromaGuide::Scratch guide;
  HaloGuard::Scratch halo;
};

Enlarger::Enlarger(const std::uint8_t* source, int w, int h, std::uint8_t* dest, int W, int H)
    : m_source(source), m_w(w), m_h(h), m_dest(dest), m_W(W), m_H(H) {}

Enlarger::~Enlarger() = default;

int Enlarger::Doublings(int w, int h, int W, int H) {
  const double factor = Factor(w, h, W, H);
  if (factor < kLearnFrom) return 0;
  int doublings = 1;
  while (doublings < kMostDoublings && factor / (1 << doublings) >= kDoubleAgainFrom) ++doublings;
  return doublings;
}

FilterSet Enlarger::Filters(int level) const {
  return level == 0 ? m_first->Set() : LaterFilters();
}

void Enlarger::LumaRow(int row, float* out) const {
  const std::uint8_t* p = m_source + Area(m_w, m_h - 1 - row) * 4;
  for (int x = 0; x < m_w; ++x, p += 4) out[x] = kBlue * p[0] + kGreen * p[1] + kRed * p[2];
}

void Enlarger::ChromaRows(int row, float* blue, float* red) const {
  const std::uint8_t* p = m_source + Area(m_w, m_h - 1 - row) * 4;
  for (int x = 0; x < m_w; ++x, p += 4) {
    const float luma = kBlue * p[0] + kGreen * p[1] + kRed * p[2];
    blue[x] = p[0] - luma;
    red[x] = p[2] - luma;
  }
}

void Enlarger::ConvertChunk(int y0, int y1) {
  for (int y = y0; y < y1; ++y) LumaRow(y, m_levels[0].Row(y));
}

void Enlarger::Double(int level, int i0, int i1, float* out, std::ptrdiff_t outStride,
                      Scratch& scratch) const {
  LearnedStep(Filters(level)).Run(m_levels[level], i0, i1, out, outStride, scratch.step);
  if (level == 0 && m_net) m_net->Run(m_levels[0], i0, i1, out, outStride, scratch.net);
}

void Enlarger::DoubleChunk(int level, int i0, int i1, Scratch& scratch) const {
  const Plane& to = m_levels[level + 1];
  Double(level, i0, i1, to.Row(2 * i0), to.width, scratch);
}

void Enlarger::FinalChunk(int y0, int y1, Scratch& s) const {
  const int W = m_W;
  const std::size_t rowW = static_cast<std::size_t>(W);

  // Luma rows [a, b) of the last grid that these output rows read.
  const auto [a, b] = m_lumaY->Span(y0, y1);
  const int gridW = m_lumaX->From();
  std::size_t gridOffset = 0;  // of row a within s.grid
  if (m_doublings == 0) {
    s.grid.resize(static_cast<std::size_t>(b - a) * gridW);
    for (int r = a; r < b; ++r) LumaRow(r, s.grid.data() + static_cast<std::size_t>(r - a) * gridW);
  } else {
    const int i0 = a / 2;
    const int i1 = (b + 1) / 2;
    s.grid.resize(static_cast<std::size_t>(i1 - i0) * 2 * gridW);
    Double(m_doublings - 1, i0, i1, s.grid.data(), gridW, s);
    gridOffset = static_cast<std::size_t>(a - 2 * i0) * gridW;
  }
  // Resampled to W, unless the grid already has the target's columns.
  const float* lumaRows = s.grid.data() + gridOffset;
  if (!m_lumaX->IsIdentity()) {
    s.luma.resize((b - a) * rowW);
    for (int r = a; r < b; ++r)
      m_lumaX->Apply(lumaRows + static_cast<std::size_t>(r - a) * gridW,
                     s.luma.data() + (r - a) * rowW);
    lumaRows = s.luma.data();
  }

  // Chroma from the source, or the guide's slopes and offsets, resampled to W.
  const int channels = m_guide ? ChromaGuide::kChannels : 2;
  const std::size_t sourceRow = static_cast<std::size_t>(m_w);
  const auto [ca, cb] = m_chromaY->Span(y0, y1);
  s.chroma.resize(channels * (cb - ca) * rowW);
  if (m_guide) {
    s.line.resize(channels * (cb - ca) * sourceRow);
    m_guide->Rows(ca, cb, s.line.data(), s.guide);
  } else {
    s.line.resize(channels * sourceRow);
  }
  for (int r = ca; r < cb; ++r) {
    const float* in = s.line.data();
    if (m_guide) {
      in += channels * (r - ca) * sourceRow;
    } else {
      ChromaRows(r, s.line.data(), s.line.data() + m_w);
    }
    for (int k = 0; k < channels; ++k)
      m_chromaX->Apply(in + k * sourceRow, s.chroma.data() + (channels * (r - ca) + k) * rowW);
  }

  s.output.resize((1 + channels) * rowW);
  const auto sourceLuma = [this](int row, float* out) { LumaRow(row, out); };
  if (m_halo) m_halo->Prepare(y0, y1, sourceLuma, s.halo);
  for (int y = y0; y < y1; ++y) {
    float* resampled = s.output.data() + rowW;
    const float* luma = lumaRows + (y - a) * rowW;
    if (!m_lumaY->IsIdentity()) {
      m_lumaY->ApplyDown(y, lumaRows + (m_lumaY->First(y) - a) * rowW, W, W, s.output.data());
      luma = s.output.data();
    }
    if (m_halo) {
      m_halo->Hold(y, luma, s.output.data(), s.halo);
      luma = s.output.data();
    }
    // All channels in one pass over their interleaved rows: a pass each costs
    // large enlargements up to a tenth of their speed.
    const float* weights = m_chromaY->Weights(y);
    const float* src = s.chroma.data() + channels * (m_chromaY->First(y) - ca) * rowW;
    const std::size_t all = channels * rowW;
    for (std::size_t i = 0; i < all; ++i) resampled[i] = weights[0] * src[i];
    for (int k = 1; k < m_chromaY->Taps(); ++k) {
      src += all;
      for (std::size_t i = 0; i < all; ++i) resampled[i] += weights[k] * src[i];
    }
    float* blue = resampled;
    float* red = resampled + rowW;
    if (m_guide) {
      // Slope and offset of each colour against the enlarged luma.
      red = resampled + 2 * rowW;
      for (int x = 0; x < W; ++x) {
        blue[x] = blue[x] * luma[x] + blue[x + rowW];
        red[x] = red[x] * luma[x] + red[x + rowW];
      }
    }
    std::uint8_t* out = m_dest + Area(W, y) * 4;
    int x = 0;
    for (; x + 4 <= W; x += 4) {
      Vec4 l, b, r;
      std::memcpy(&l, luma + x, sizeof l);
      std::memcpy(&b, blue + x, sizeof b);
      std::memcpy(&r, red + x, sizeof r);
      const Vec4i pixels = ToPixels(l, b, r);
      std::memcpy(out + 4 * x, &pixels, sizeof pixels);
    }
    for (; x < W; ++x) {
      const Vec4i pixel = ToPixels(Vec4{} + luma[x], Vec4{} + blue[x], Vec4{} + red[x]);
      std::memcpy(out + 4 * x, &pixel, 4);
    }
  }
}

bool Enlarger::Run(int threads, const WorkCrew::Report& report) {
  threads = std::max(1, threads);
  if (m_W == m_w && m_H == m_h) {
    // Nothing to enlarge: the source's rows, top row first.
    const int rows = RowsPerChunk(m_W, 1, 4096);
    std::vector<std::uint64_t> costs((m_H + rows - 1) / rows, Area(m_W, rows));
    WorkCrew crew(threads, Area(m_W, rows) * costs.size(), report);
    const bool done = crew.RunPhase(costs, [&](int c, int) {
      for (int y = c * rows; y < std::min(m_H, (c + 1) * rows); ++y) {
        std::memcpy(m_dest + Area(m_W, y) * 4, m_source + Area(m_w, m_h - 1 - y) * 4, Area(m_w, 4));
      }
    });
    if (done) crew.Finish();
    return done;
  }

  m_doublings = Doublings(m_w, m_h, m_W, m_H);
  if (m_doublings > 0) {
    m_extra.reset(
        new (std::nothrow) float[Area(m_w << (m_doublings - 1), m_h << (m_doublings - 1))]);
    if (!m_extra) m_doublings = 0;  // no room for the luma plane: resample directly
  }
  // The last stored level lives in the extra plane, the ones before it
  // alternate with the destination, so that each doubling reads one and writes the other.
  for (int level = 0; level < m_doublings; ++level) {
    float* data =
        (m_doublings - 1 - level) % 2 == 0 ? m_extra.get() : reinterpret_cast<float*>(m_dest);
    m_levels.push_back(Plane{data, m_w << level, m_h << level});
  }
  const Kernel lumaKernel = m_doublings == 0 ? Kernel::Lanczos3 : Kernel::CatmullRom;
  const Kernel chromaKernel = m_doublings == 0 ? Kernel::Lanczos3 : Kernel::CatmullRom;
  m_lumaX = std::make_unique<Contributions>(m_w << m_doublings, m_W, lumaKernel);
  m_lumaY = std::make_unique<Contributions>(m_h << m_doublings, m_H, lumaKernel);
  m_chromaX = std::make_unique<Contributions>(m_w, m_W, chromaKernel);
  m_chromaY = std::make_unique<Contributions>(m_h, m_H, chromaKernel);

  // Every phase's chunks, as row bounds, and their costs.
  struct Phase {
    std::vector<int> bounds;
    std::vector<std::uint64_t> costs;
  };
  auto split = [](int rows, int perChunk, const auto& cost) {
    Phase phase;
    for (int r = 0; r < rows; r += perChunk) {
      phase.bounds.push_back(r);
      phase.costs.push_back(cost(r, std::min(rows, r + perChunk)));
    }
    phase.bounds.push_back(rows);
    return phase;
  };
  std::vector<Phase> phases;
  if (m_doublings > 0) {
    phases.push_back(split(m_h, RowsPerChunk(m_w, 1, 256),
                           [&](int r0, int r1) { return Area(m_w, r1 - r0) * kCostConvert; }));
  }
  const bool refine = m_doublings > 0 && Factor(m_w, m_h, m_W, m_H) >= kRefineFrom;
  std::optional<DegradationMeter> meter;
  std::optional<NoiseMeter> noise;
  std::optional<StrengthCheck> check;
  if (m_doublings > 0) {
    meter.emplace(m_levels[0]);
    phases.push_back(Phase{
        {}, std::vector<std::uint64_t>(meter->Chunks(), meter->ChunkPixels() * kCostMeasure)});
    noise.emplace(m_levels[0],
                  [this](int row, float* blue, float* red) { ChromaRows(row, blue, red); });
    phases.push_back(Phase{
        {}, std::vector<std::uint64_t>(noise->Chunks(), noise->ChunkPixels() * kCostMeasure)});
    if (refine) {
      check.emplace(m_levels[0], RowsPerChunk(m_w, 1, 128));
      if (!check->Possible()) check.reset();
    }
  }
  if (check) {
    Phase halving, comparing;
    for (int c = 0; c < check->HalvingChunks(); ++c)
      halving.costs.push_back(check->HalvingPixels(c) * kCostHalve);
    for (int c = 0; c < check->CompareChunks(); ++c)
      comparing.costs.push_back(check->ComparePixels(c) * kCostCompare);
    phases.push_back(std::move(halving));
    phases.push_back(std::move(comparing));
  }
  for (int level = 0; level + 1 < m_doublings; ++level) {
    const int w = m_levels[level].width;
    const int rows = level == 0 ? RefineRows(w) : RowsPerChunk(4 * w, 2, 64);
    phases.push_back(split(m_levels[level].height, rows, [&, level](int i0, int i1) {
      return Area(4 * w, i1 - i0) * kCostLearned +
             (level == 0 && refine ? Area(w, i1 - i0) * kCostRefine : 0);
    }));
  }
  int finalRows = RowsPerChunk(m_W, 8, 64);
  if (m_doublings == 1) finalRows = std::max(finalRows, RefineRows(m_w) * m_H / m_h);
  phases.push_back(split(m_H, finalRows, [&](int y0, int y1) {
    const auto [a, b] = m_lumaY->Span(y0, y1);
    const auto [ca, cb] = m_chromaY->Span(y0, y1);
    const int luma = b - a;
    const int chroma = cb - ca;
    std::uint64_t cost =
        Area(m_W, y1 - y0) * kCostOutput + Area(m_W, luma + 2 * chroma) * kCostResampleRow;
    if (m_doublings > 0) cost += Area(2 * m_levels.back().width, luma + 1) * kCostLearned;
    if (m_doublings == 1 && refine) cost += Area(m_w, luma / 2 + 1) * kCostRefine;
    if (m_doublings > 0) cost += Area(m_w, chroma + ChromaGuide::kMarginRows) * kCostGuide;
    return cost;
  }));

  std::uint64_t total = 0;
  for (const Phase& phase : phases) {
    for (std::uint64_t cost : phase.costs) total += cost;
  }
  m_scratch.resize(threads);
  WorkCrew crew(threads, total, report);
  std::size_t next = 0;
  if (m_doublings > 0) {
    const Phase& p = phases[next++];
    if (!crew.RunPhase(p.costs, [&](int c, int) { ConvertChunk(p.bounds[c], p.bounds[c + 1]); }))
      return false;
    if (!crew.RunPhase(phases[next++].costs, [&](int c, int) { meter->Measure(c); }) ||
        !crew.RunPhase(phases[next++].costs, [&](int c, int) { noise->Measure(c); })) {
      return false;
    }
    // Noise is smoothed as compression artefacts of like strength would be,
    // and noisy colour by a resampling that passes little of its speckle.
    const double measure = std::max(meter->Result(), noise->MeasureFloor(m_doublings)) *
                           (refine ? 1.0 : kNearScaleMeasureShare);
    if (noise->ColourIsNoisy()) {
      m_chromaX = std::make_unique<Contributions>(m_w, m_W, Kernel::BSpline);
      m_chromaY = std::make_unique<Contributions>(m_h, m_H, Kernel::BSpline);
    }
    m_first = std::make_unique<FirstFilters>(measure);
    m_guide = std::make_unique<ChromaGuide>(m_source, m_w, m_h, meter->Result());
    if (m_doublings >= kHaloGuardFrom) m_halo = std::make_unique<HaloGuard>(m_w, m_h, m_W, m_H);
    float strength = 1.0f;
    if (check) {
      const RefineNet whole(measure);
      if (!crew.RunPhase(phases[next++].costs, [&](int c, int) { check->Halve(c); }) ||
          !crew.RunPhase(phases[next++].costs, [&](int c, int worker) {
            Scratch& s = m_scratch[worker];
            check->Compare(c, m_first->Set(), whole, s.step, s.net, s.grid);
          })) {
        return false;
      }
      strength = check->Strength();
    }
    if (refine) m_net = std::make_unique<RefineNet>(measure, strength);
  }
  for (int level = 0; level + 1 < m_doublings; ++level) {
    const Phase& p = phases[next++];
    if (!crew.RunPhase(p.costs, [&](int c, int worker) {
          DoubleChunk(level, p.bounds[c], p.bounds[c + 1], m_scratch[worker]);
        })) {
      return false;
    }
  }
  const Phase& p = phases[next];
  if (!crew.RunPhase(p.costs, [&](int c, int worker) {
        FinalChunk(p.bounds[c], p.bounds[c + 1], m_scratch[worker]);
      })) {
    return false;
  }
  crew.Finish();
  return true;
}

}  // namespace ampliscale
