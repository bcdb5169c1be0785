#include "engine/RefineNet.h"

#include <algorithm>
#include <cstring>

#include "engine/LearnedStep.h"
#include "engine/NetWeights.h"

namespace ampliscale {
namespace {

constexpr int kWidth = net::kWidth;
// A pixel's features are kVectors 16-lane vectors side by side.
constexpr int kLanes = 16;
static_assert(kWidth >= kLanes && kWidth % kLanes == 0, "features fill whole 16-lane vectors");
constexpr int kVectors = kWidth / kLanes;
// Sums a 3 x 3 layer keeps in flight: twelve keep the multiply-add units busy
// (four left them waiting on each other's latency). They are split between
// the pixels done at once and the vectors of each pixel's features.
constexpr int kSumsInFlight = 12;
constexpr int kBlockPixels = std::max(1, kSumsInFlight / kVectors);
constexpr int kFirstHalf = net::kFirstKernel / 2;
constexpr int kMargin = kFirstHalf + net::kMiddleLayers + 1;
constexpr int kTaps = 9;  // middle and last layers are 3 x 3

typedef float V16 __attribute__((vector_size(64)));
// The vectors never cross a call: every helper that takes or returns one is
// always inlined into the clone that calls it (see ENGINE_WIDE). Were one
// called instead, the default build and the wide clones would pass the
// vector differently, and the call would read garbage.
#pragma GCC diagnostic ignored "-Wpsabi"
#define VECTOR_HELPER inline __attribute__((always_inline))

VECTOR_HELPER V16 Load(const float* p) {
  V16 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
VECTOR_HELPER void Store(float* p, V16 v) { std::memcpy(p, &v, sizeof v); }
VECTOR_HELPER V16 Relu(V16 v) {
  const V16 zero = {};
  return v > zero ? v : zero;
}

// The inner loops, compiled once more for the widest vector units the machine
// may have and picked at load time. ThreadSanitizer's runtime is not up yet
// when the loader picks a clone, so its builds keep the plain version.
#if defined(__SANITIZE_THREAD__)
#define ENGINE_WIDE
#else
#define ENGINE_WIDE __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif

// First layer: one luma plane of `rows + k - 1` rows and `cols + k - 1` samples
// a row into `rows` x `cols` feature vectors.
ENGINE_WIDE void FirstLayer(const float* luma, int rows, int cols, const float* bias, float* out) {
  constexpr int k = net::kFirstKernel;
  const std::size_t lumaCols = static_cast<std::size_t>(cols) + k - 1;
  V16 b[kVectors];
  for (int g = 0; g < kVectors; ++g) b[g] = Load(bias + g * kLanes);
  for (int r = 0; r < rows; ++r) {
    float* o = out + static_cast<std::size_t>(r) * cols * kWidth;
    for (int c = 0; c < cols; ++c) {
      V16 acc[kVectors];
      for (int g = 0; g < kVectors; ++g) acc[g] = b[g];
      for (int ky = 0; ky < k; ++ky) {
        const float* src = luma + (r + ky) * lumaCols + c;
        const float* w = net::kFirstWeights + ky * k * kWidth;
        for (int kx = 0; kx < k; ++kx) {
          for (int g = 0; g < kVectors; ++g) acc[g] += src[kx] * Load(w + kx * kWidth + g * kLanes);
        }
      }
      for (int g = 0; g < kVectors; ++g)
        Store(o + static_cast<std::size_t>(c) * kWidth + g * kLanes, Relu(acc[g]));
    }
  }
}

// P neighbouring pixels of a 3 x 3 layer at once, so that each weight
// vector loaded serves all of them, and each input feature all the vectors
// of a pixel's output.
template <int P>
VECTOR_HELPER void MiddlePixels(const float* in, std::size_t inCols, const float* weights,
                                const V16* bias, float* out) {
  V16 acc[P][kVectors];
  for (int p = 0; p < P; ++p) {
    for (int g = 0; g < kVectors; ++g) acc[p][g] = bias[g];
  }
  for (int ky = 0; ky < 3; ++ky) {
    for (int kx = 0; kx < 3; ++kx) {
      const float* px = in + (ky * inCols + kx) * kWidth;
      const float* w = weights + (ky * 3 + kx) * kWidth * kWidth;
      for (int ci = 0; ci < kWidth; ++ci) {
        V16 wv[kVectors];
        for (int g = 0; g < kVectors; ++g) wv[g] = Load(w + ci * kWidth + g * kLanes);
        for (int p = 0; p < P; ++p) {
          const float x = px[p * kWidth + ci];
          for (int g = 0; g < kVectors; ++g) acc[p][g] += x * wv[g];
        }
      }
    }
  }
  for (int p = 0; p < P; ++p) {
    for (int g = 0; g < kVectors; ++g) Store(out + p * kWidth + g * kLanes, Relu(acc[p][g]));
  }
}

// A 3 x 3 layer: features of `rows + 2` rows of `cols + 2` into `rows` x `cols`.
ENGINE_WIDE void MiddleLayer(const float* in, int rows, int cols, const float* weights,
                             const float* bias, float* out) {
  constexpr int kTailPixels = std::max(1, kBlockPixels / 3);
  const std::size_t inCols = static_cast<std::size_t>(cols) + 2;
  V16 b[kVectors];
  for (int g = 0; g < kVectors; ++g) b[g] = Load(bias + g * kLanes);
  for (int r = 0; r < rows; ++r) {
    const float* row = in + r * inCols * kWidth;
    float* o = out + static_cast<std::size_t>(r) * cols * kWidth;
    int c = 0;
    for (; c + kBlockPixels <= cols; c += kBlockPixels)
      MiddlePixels<kBlockPixels>(row + c * kWidth, inCols, weights, b, o + c * kWidth);
    for (; c + kTailPixels <= cols; c += kTailPixels)
      MiddlePixels<kTailPixels>(row + c * kWidth, inCols, weights, b, o + c * kWidth);
    for (; c < cols; ++c) MiddlePixels<1>(row + c * kWidth, inCols, weights, b, o + c * kWidth);
  }
}

// The last layer: four corrections per pixel, each a dot product over the
// 3 x 3 neighbourhood's features, added to the doubled rows. Like the doubling
// itself, a corrected pixel stays near the range of the four input pixels
// around it, so that flat ground stays flat; then the picture's share of the
// correction is taken.
ENGINE_WIDE void LastLayer(const float* in, int rows, int cols, const float* weights,
                           float strength, const float* luma, std::ptrdiff_t lumaCols, float* out,
                           std::ptrdiff_t outStride, std::uint8_t* flat) {
  const std::size_t inCols = static_cast<std::size_t>(cols) + 2;
  for (int r = 0; r < rows; ++r) {
    float* top = out + 2 * r * outStride;
    float* bottom = top + outStride;
    const float* up = luma + (r - 1) * lumaCols;
    const float* mid = up + lumaCols;
    const float* down = mid + lumaCols;
    FindPlateaus(mid, lumaCols, cols, flat);
    for (int c = 0; c < cols; ++c) {
      V16 sums[4] = {};
      for (int t = 0; t < kTaps; ++t) {
        const float* px = in + ((r + t / 3) * inCols + c + t % 3) * kWidth;
        for (int g = 0; g < kVectors; ++g) {
          const V16 x = Load(px + g * kLanes);
          for (int o = 0; o < 4; ++o)
            sums[o] += x * Load(weights + (o * kTaps + t) * kWidth + g * kLanes);
        }
      }
      Quad correction;
      for (int o = 0; o < 4; ++o) {
        float sum = net::kLastBias[o];
        for (int lane = 0; lane < kLanes; ++lane) sum += sums[o][lane];
        correction[o] = sum;
      }
      const Quad doubled = {top[2 * c], top[2 * c + 1], bottom[2 * c], bottom[2 * c + 1]};
      const Quad kept =
          doubled +
          strength * (KeepInRange(doubled + correction, up + c, mid + c, down + c) - doubled);
      const Quad held = flat[c] ? KeepOnPlateau(kept, mid[c]) : kept;
      top[2 * c] = held[0];
      top[2 * c + 1] = held[1];
      bottom[2 * c] = held[2];
      bottom[2 * c + 1] = held[3];
    }
  }
}

}  // namespace

RefineNet::RefineNet(double measure, float strength)
    : m_firstBias(kWidth), m_strength(strength), m_lastWeights(4 * kTaps * kWidth) {
  for (int i = 0; i < kWidth; ++i)
    m_firstBias[i] = net::kFirstBias[i] + static_cast<float>(measure) * net::kMeasureWeights[i];
  for (int t = 0; t < kTaps; ++t) {
    for (int ci = 0; ci < kWidth; ++ci) {
      for (int o = 0; o < 4; ++o)
        m_lastWeights[(o * kTaps + t) * kWidth + ci] = net::kLastWeights[(t * kWidth + ci) * 4 + o];
    }
  }
}

void RefineNet::Run(const Plane& in, int i0, int i1, float* out, std::ptrdiff_t outStride,
                    NetScratch& scratch) const {
  const int w = in.width;
  const int n = i1 - i0;
  // The band's luma with kMargin pixels around it, edges repeated as the
  // network learned them.
  const int lumaCols = w + 2 * kMargin;
  const int lumaRows = n + 2 * kMargin;
  scratch.luma.resize(static_cast<std::size_t>(lumaRows) * lumaCols);
  for (int r = 0; r < lumaRows; ++r) {
    const float* src = in.Row(std::clamp(i0 - kMargin + r, 0, in.height - 1));
    float* dst = scratch.luma.data() + static_cast<std::size_t>(r) * lumaCols;
    std::fill(dst, dst + kMargin, src[0]);
    std::memcpy(dst + kMargin, src, sizeof(float) * w);
    std::fill(dst + kMargin + w, dst + lumaCols, src[w - 1]);
  }

  scratch.flat.resize(w);
  // Each layer shrinks the band by its kernel's half on every side.
  int margin = kMargin - kFirstHalf;
  auto features = [&](int index, int m) {
    std::vector<float>& f = scratch.features[index];
    f.resize(static_cast<std::size_t>(n + 2 * m) * (w + 2 * m) * kWidth);
    return f.data();
  };
  float* current = features(0, margin);
  FirstLayer(scratch.luma.data(), n + 2 * margin, w + 2 * margin, m_firstBias.data(), current);
  for (int layer = 0; layer < net::kMiddleLayers; ++layer) {
    --margin;
    float* next = features((layer + 1) % 2, margin);
    MiddleLayer(current, n + 2 * margin, w + 2 * margin, net::kMiddleWeights[layer],
                net::kMiddleBias[layer], next);
    current = next;
  }
  LastLayer(current, n, w, m_lastWeights.data(), m_strength,
            scratch.luma.data() + static_cast<std::size_t>(kMargin) * lumaCols + kMargin, lumaCols,
            out, outStride, scratch.flat.data());
}

}  // namespace ampliscale
