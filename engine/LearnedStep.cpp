#include "engine/LearnedStep.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/FilterTable.h"

namespace ampliscale {
namespace {

using table::kAngleBins;
using table::kCoherenceBins;
using table::kRadius;
using table::kStrengthBins;

constexpr int kTaps = (2 * kRadius + 1) * (2 * kRadius + 1);
constexpr int kBuckets = kAngleBins * kStrengthBins * kCoherenceBins;
static_assert(table::kLevels >= 2 && table::kSets == table::kLevels + 1);
// Border kept around the band's rows: the tensor needs two pixels of gradient
// beyond the centre and each gradient one pixel more; the filter needs kRadius.
constexpr int kPad = std::max(3, kRadius);

static_assert(sizeof(table::kFilters[0][0][0]) == sizeof(Quad));

// atan2 to about 1e-5 rad; only used to pick an orientation bin.
inline float FastAtan2(float y, float x) {
  const float ax = std::fabs(x);
  const float ay = std::fabs(y);
  const float lo = ax < ay ? ax : ay;
  const float hi = ax < ay ? ay : ax;
  const float a = lo / (hi > 1e-30f ? hi : 1e-30f);
  const float s = a * a;
  float r = ((-0.0464964749f * s + 0.15931422f) * s - 0.327622764f) * s * a + a;
  r = ay > ax ? 1.57079637f - r : r;
  r = x < 0.0f ? 3.14159274f - r : r;
  return y < 0.0f ? -r : r;
}

// Sum of a, b, c, d, e with the binomial weights 1 4 6 4 1.
inline float Binomial5(float a, float b, float c, float d, float e) {
  return (a + e) + 4.0f * (b + d) + 6.0f * c;
}

}  // namespace

FirstFilters::FirstFilters(double measure) {
  constexpr int kSize = kBuckets * kTaps;
  const float* levels = table::kLevelMeasures;
  int lower = 0;
  while (lower + 2 < table::kLevels && measure > levels[lower + 1]) ++lower;
  const double t =
      std::clamp((measure - levels[lower]) / (levels[lower + 1] - levels[lower]), 0.0, 1.0);
  const float share[2] = {static_cast<float>(1.0 - t), static_cast<float>(t)};
  m_filters.resize(kSize);
  for (int i = 0; i < kSize; ++i) {
    for (int p = 0; p < 4; ++p) {
      m_filters[i].position[p] = share[0] * (&table::kFilters[lower][0][0][0])[4 * i + p] +
                                 share[1] * (&table::kFilters[lower + 1][0][0][0])[4 * i + p];
    }
  }
}

FilterSet FirstFilters::Set() const {
  return FilterSet{&m_filters[0].position[0], table::kStrengthEdges[0], table::kCoherenceEdges[0]};
}

void FindPlateaus(const float* mid, std::ptrdiff_t stride, int n, std::uint8_t* flat) {
  // Counted for the whole row one neighbour at a time: straight loops the
  // compiler turns into vector compares.
  for (int j = 0; j < n; ++j) flat[j] = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    const float* row = mid + dy * stride;
    for (int dx = -2; dx <= 2; ++dx) {
      if (dy == 0 && dx == 0) continue;
      for (int j = 0; j < n; ++j) {
        const float d = row[j + dx] - mid[j];
        flat[j] += d <= kPlateauTolerance && -d <= kPlateauTolerance;
      }
    }
  }
  for (int j = 0; j < n; ++j) flat[j] = flat[j] >= kPlateauShare;
}

FilterSet LaterFilters() {
  return FilterSet{&table::kFilters[table::kSets - 1][0][0][0], table::kStrengthEdges[1],
                   table::kCoherenceEdges[1]};
}

void LearnedStep::Run(const Plane& in, int i0, int i1, float* out, std::ptrdiff_t outStride,
                      StepScratch& scratch) const {
  const int w = in.width;
  const int h = in.height;
  const int pw = w + 2 * kPad;
  const int rows = (i1 - i0) + 2 * kPad;
  const std::size_t planeSize = static_cast<std::size_t>(rows) * pw;

  // The band's rows with edge pixels repeated, so that no tap needs a bounds check.
  scratch.padded.resize(planeSize);
  for (int r = 0; r < rows; ++r) {
    const float* src = in.Row(std::clamp(i0 - kPad + r, 0, h - 1));
    float* dst = scratch.padded.data() + static_cast<std::size_t>(r) * pw;
    std::fill(dst, dst + kPad, src[0]);
    std::memcpy(dst + kPad, src, sizeof(float) * w);
    std::fill(dst + kPad + w, dst + pw, src[w - 1]);
  }
  auto padded = [&](int r, int c) { return scratch.padded[static_cast<std::size_t>(r) * pw + c]; };

  // Gradient products gx*gx, gx*gy, gy*gy wherever the tensor sums reach.
  scratch.products.resize(3 * planeSize);
  float* xx = scratch.products.data();
  float* xy = xx + planeSize;
  float* yy = xy + planeSize;
  for (int r = 1; r < rows - 1; ++r) {
    for (int c = 1; c < pw - 1; ++c) {
      const float gx = 0.5f * (padded(r, c + 1) - padded(r, c - 1));
      const float gy = 0.5f * (padded(r + 1, c) - padded(r - 1, c));
      const std::size_t k = static_cast<std::size_t>(r) * pw + c;
      xx[k] = gx * gx;
      xy[k] = gx * gy;
      yy[k] = gy * gy;
    }
  }

  scratch.smoothed.resize(3 * static_cast<std::size_t>(pw));
  scratch.buckets.resize(w);
  scratch.flat.resize(w);
  scratch.tensor.resize(3 * static_cast<std::size_t>(w));
  const float* strengthEdges = m_set.strengthEdges;
  const float* coherenceEdges = m_set.coherenceEdges;
  const Quad* filters = reinterpret_cast<const Quad*>(m_set.filters);
  constexpr float kNorm = 1.0f / 256.0f;
  constexpr float kAngleScale = kAngleBins / 6.28318531f;

  for (int i = i0; i < i1; ++i) {
    const int r = i - i0 + kPad;
    float* vs = scratch.smoothed.data();
    const float* planes[3] = {xx, xy, yy};
    for (int p = 0; p < 3; ++p) {
      const float* base = planes[p];
      auto at = [&](int rr, int c) { return base[static_cast<std::size_t>(rr) * pw + c]; };
      for (int c = 1; c < pw - 1; ++c) {
        vs[p * pw + c] =
            Binomial5(at(r - 2, c), at(r - 1, c), at(r, c), at(r + 1, c), at(r + 2, c));
      }
    }
    // The tensor's sums, then its eigen-analysis, pixel by pixel in straight loops.
    float* ta = scratch.tensor.data();
    float* tb = ta + w;
    float* td = tb + w;
    for (int p = 0; p < 3; ++p) {
      const float* v = vs + p * pw + kPad;
      float* t = ta + p * w;
      for (int j = 0; j < w; ++j)
        t[j] = kNorm * Binomial5(v[j - 2], v[j - 1], v[j], v[j + 1], v[j + 2]);
    }
    int* buckets = scratch.buckets.data();
    for (int j = 0; j < w; ++j) {
      const float a = ta[j];
      const float b = tb[j];
      const float d = td[j];
      const float trace = a + d;
      const float spread = std::sqrt((a - d) * (a - d) + 4.0f * b * b);
      const float root1 = std::sqrt(0.5f * (trace + spread));
      const float small = 0.5f * (trace - spread);
      const float root2 = std::sqrt(small > 0.0f ? small : 0.0f);
      const float coherence = (root1 - root2) / (root1 + root2 + 1e-3f);
      int angle = static_cast<int>((FastAtan2(2.0f * b, a - d) + 3.14159274f) * kAngleScale);
      angle = angle >= kAngleBins ? angle - kAngleBins : angle;
      int strength = 0;
      for (int e = 0; e < kStrengthBins - 1; ++e) strength += root1 >= strengthEdges[e] ? 1 : 0;
      int coherent = 0;
      for (int e = 0; e < kCoherenceBins - 1; ++e)
        coherent += coherence >= coherenceEdges[e] ? 1 : 0;
      buckets[j] = (angle * kStrengthBins + strength) * kCoherenceBins + coherent;
    }

    float* top = out + 2 * (i - i0) * outStride;
    float* bottom = top + outStride;
    FindPlateaus(scratch.padded.data() + static_cast<std::size_t>(r) * pw + kPad, pw, w,
                 scratch.flat.data());
    for (int j = 0; j < w; ++j) {
      const Quad* f = filters + static_cast<std::size_t>(scratch.buckets[j]) * kTaps;
      Quad acc = {0.0f, 0.0f, 0.0f, 0.0f};
      for (int dy = -kRadius; dy <= kRadius; ++dy) {
        const float* src =
            scratch.padded.data() + static_cast<std::size_t>(r + dy) * pw + (j + kPad - kRadius);
        for (int dx = 0; dx <= 2 * kRadius; ++dx) acc += src[dx] * *f++;
      }
      // Each output pixel lies inside the square of four input pixels towards
      // its corner; lanes are the four output positions.
      const float* up = scratch.padded.data() + static_cast<std::size_t>(r - 1) * pw + (j + kPad);
      const float* mid = up + pw;
      const float* down = mid + pw;
      acc = KeepInRange(acc, up, mid, down);
      if (scratch.flat[j]) acc = KeepOnPlateau(acc, mid[0]);
      top[2 * j] = acc[0];
      top[2 * j + 1] = acc[1];
      bottom[2 * j] = acc[2];
      bottom[2 * j + 1] = acc[3];
    }
  }
}

}  // namespace ampliscale
