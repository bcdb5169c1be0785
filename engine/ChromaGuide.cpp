#include "engine/ChromaGuide.h"

#include <algorithm>
#include <cmath>

namespace ampliscale {
namespace {

// In squared luma levels: a window whose luma varies less than this has its
// colour fitted mostly as a constant, not as a slope magnifying noise.
constexpr double kEpsilon = 16.0;
// The share of the fit's residual added back to a JPEG's colour, from the
// degradation measure (DegradationMeter) kCompressedFrom on; below it the
// share rises linearly to all of it for a clean picture. Measured on the
// skimage photographs (bench/engine): at quality 75 and 90, shares of 0.2 to
// 0.4 score best, and all of it on clean input.
constexpr double kCompressedShare = 0.35;
constexpr double kCompressedFrom = 0.08;
// Slopes are held within this, so that a window of nearly flat luma cannot
// turn its faint luma texture into strong colour.
constexpr double kMostSlope = 8.0;
// Fixed-point scales of the slope and the offset (in levels).
constexpr double kSlopeScale = 4096.0;
constexpr double kOffsetScale = 256.0;

// The Enlarger's luma weights, in thousandths.
constexpr std::int32_t kRed = 299;
constexpr std::int32_t kGreen = 587;
constexpr std::int32_t kBlue = 114;

// out[x] = sum of in[x - radius ... x + radius], the edge samples repeated.
template <typename T>
void WindowSums(const T* in, int w, int radius, std::int64_t* out) {
  auto at = [&](int x) { return static_cast<std::int64_t>(in[std::clamp(x, 0, w - 1)]); };
  std::int64_t sum = 0;
  for (int j = -radius; j <= radius; ++j) sum += at(j);
  out[0] = sum;
  for (int x = 1; x < w; ++x) {
    sum += at(x + radius) - at(x - radius - 1);
    out[x] = sum;
  }
}

// Keeps the running sum of the last `rows` rows of `width` integers pushed.
class RowWindow {
 public:
  RowWindow(std::vector<std::int64_t>& ring, std::vector<std::int64_t>& sum, int rows, int width)
      : m_ring(ring), m_sum(sum), m_rows(rows), m_width(width) {
    m_ring.assign(static_cast<std::size_t>(rows) * width, 0);
    m_sum.assign(static_cast<std::size_t>(width), 0);
  }
  // The slot the next row goes into, to be filled and then pushed.
  std::int64_t* Next() {
    std::int64_t* slot = Slot();
    if (m_pushed >= m_rows) {
      for (int i = 0; i < m_width; ++i) m_sum[i] -= slot[i];
    }
    return slot;
  }
  void Push() {
    const std::int64_t* slot = Slot();
    for (int i = 0; i < m_width; ++i) m_sum[i] += slot[i];
    ++m_pushed;
  }
  bool Full() const { return m_pushed >= m_rows; }
  const std::int64_t* Sum() const { return m_sum.data(); }

 private:
  std::int64_t* Slot() {
    return m_ring.data() + static_cast<std::size_t>(m_pushed % m_rows) * m_width;
  }
  std::vector<std::int64_t>& m_ring;
  std::vector<std::int64_t>& m_sum;
  const int m_rows;
  const int m_width;
  int m_pushed = 0;
};

}  // namespace

ChromaGuide::ChromaGuide(const std::uint8_t* source, int w, int h, double degradation)
    : m_source(source),
      m_w(w),
      m_h(h),
      m_residualShare(1.0 - (1.0 - kCompressedShare) * std::min(1.0, degradation / kCompressedFrom)) {}

void ChromaGuide::Samples(int row, std::int32_t* luma, std::int32_t* blue,
                          std::int32_t* red) const {
  const std::uint8_t* p = m_source + static_cast<std::size_t>(m_w) * (m_h - 1 - row) * 4;
  for (int x = 0; x < m_w; ++x, p += 4) {
    const std::int32_t y = kBlue * p[0] + kGreen * p[1] + kRed * p[2];
    luma[x] = y;
    blue[x] = 1000 * p[0] - y;
    red[x] = 1000 * p[2] - y;
  }
}

void ChromaGuide::Rows(int r0, int r1, float* out, Scratch& s) const {
  const int w = m_w, R = kRadius, span = 2 * R + 1;
  const std::int64_t n = static_cast<std::int64_t>(span) * span;
  const std::size_t W = static_cast<std::size_t>(w);
  // Six window sums of the source (luma, blue, red, luma^2, luma*blue,
  // luma*red), then four of the fitted coefficients, each w wide.
  RowWindow sources(s.sourceRing, s.sourceSums, span, 6 * w);
  RowWindow fits(s.fitRing, s.fitSums, span, kChannels * w);
  s.samples.resize(3 * W);
  s.product.resize(W);
  s.fit.resize(kChannels * W);
  std::int32_t* luma = s.samples.data();
  std::int32_t* blue = luma + W;
  std::int32_t* red = blue + W;
  std::int32_t* fit = s.fit.data();
  const double epsilon = kEpsilon * 1e6 * static_cast<double>(n) * static_cast<double>(n);

  // Coefficient rows t from r0 - R to r1 + R - 1 read source rows c up to R further.
  for (int c = r0 - 2 * R; c < r1 + 2 * R; ++c) {
    Samples(std::clamp(c, 0, m_h - 1), luma, blue, red);
    std::int64_t* slot = sources.Next();
    WindowSums(luma, w, R, slot);
    WindowSums(blue, w, R, slot + W);
    WindowSums(red, w, R, slot + 2 * W);
    for (int k = 0; k < 3; ++k) {
      const std::int32_t* other = k == 0 ? luma : k == 1 ? blue : red;
      for (int x = 0; x < w; ++x)
        s.product[x] = static_cast<std::int64_t>(luma[x]) * other[x];
      WindowSums(s.product.data(), w, R, slot + (3 + k) * W);
    }
    sources.Push();
    if (!sources.Full()) continue;

    // The fit of coefficient row t = c - R.
    const std::int64_t* S = sources.Sum();
    for (int x = 0; x < w; ++x) {
      const std::int64_t sumL = S[x], sumLL = S[3 * W + x];
      const double variance = static_cast<double>(n * sumLL - sumL * sumL) + epsilon;
      for (int k = 0; k < 2; ++k) {
        const std::int64_t sumC = S[(1 + k) * W + x], sumLC = S[(4 + k) * W + x];
        const double covariance = static_cast<double>(n * sumLC - sumL * sumC);
        const double slope = std::clamp(covariance / variance, -kMostSlope, kMostSlope);
        const std::int64_t a = std::llround(slope * kSlopeScale);
        // Offset in levels: (sumC - slope * sumL) / n / 1000, from the rounded slope.
        const double offset = static_cast<double>(sumC * static_cast<std::int64_t>(kSlopeScale) -
                                                  a * sumL) /
                              (kSlopeScale * 1000.0 * static_cast<double>(n));
        fit[(2 * k) * W + x] = static_cast<std::int32_t>(a);
        fit[(2 * k + 1) * W + x] = static_cast<std::int32_t>(std::lround(offset * kOffsetScale));
      }
    }
    std::int64_t* fitSlot = fits.Next();
    for (int k = 0; k < kChannels; ++k) WindowSums(fit + k * W, w, R, fitSlot + k * W);
    fits.Push();
    if (!fits.Full()) continue;

    // Output row r = t - R = c - 2 R: the averaged fit, with its residual's share.
    const int r = c - 2 * R;
    Samples(std::clamp(r, 0, m_h - 1), luma, blue, red);
    const std::int64_t* F = fits.Sum();
    float* row = out + static_cast<std::size_t>(r - r0) * kChannels * W;
    for (int k = 0; k < 2; ++k) {
      const std::int32_t* chroma = k == 0 ? blue : red;
      float* slopes = row + (2 * k) * W;
      float* offsets = slopes + W;
      for (int x = 0; x < w; ++x) {
        const double slope = static_cast<double>(F[(2 * k) * W + x]) / (kSlopeScale * n);
        const double offset = static_cast<double>(F[(2 * k + 1) * W + x]) / (kOffsetScale * n);
        const double residual = (chroma[x] - slope * luma[x]) / 1000.0 - offset;
        slopes[x] = static_cast<float>(slope);
        offsets[x] = static_cast<float>(offset + m_residualShare * residual);
      }
    }
  }
}

}  // namespace ampliscale
