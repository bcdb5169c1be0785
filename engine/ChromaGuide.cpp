#include "engine/ChromaGuide.h"

#include <algorithm>
#include <cmath>

namespace ampliscale {
namespace {

// The constants below were chosen on ten training photographs (see
// engine/training/README.md), at JPEG quality 75, 90 and clean, twofold and
// fourfold; the differences are in chroma PSNR, averaged over the six.
//
// In squared luma levels: a window whose luma varies less than this has its
// colour fitted mostly as a constant, not as a slope magnifying noise. 2 to 16
// score the same within 0.02 dB (the smaller a little better from JPEG, worse
// on clean input), 32 0.03 dB and 64 0.09 dB lower.
constexpr double kEpsilon = 16.0;
// The share of the fit's residual added back to a JPEG's colour, from the
// degradation measure (DegradationMeter) kCompressedFrom on; below it the
// share rises linearly to all of it for a clean picture. A share of 0.15
// scores the same as none (0.05 to 0.07 dB lower at JPEG quality 75, as much
// higher at 90), 0.35 0.07 dB lower (0.2 to 0.26 at quality 75); none is
// added back, since the residual is where the JPEG's chroma blocks and the
// colour it spreads across edges remain. On clean input the residual is the
// colour's real detail, and all of it is added back: the fall starting at 0.04
// takes 0.08 to 0.17 dB off clean input, at 0.14 it scores the same as 0.08.
constexpr double kCompressedShare = 0.0;
constexpr double kCompressedFrom = 0.08;
// Slopes are held within this, so that a window of nearly flat luma cannot
// turn its faint luma texture into strong colour. A safeguard: 4 and 16 score
// the same as 8 to 0.01 dB.
constexpr double kMostSlope = 8.0;
// In squared levels of chroma: a window whose fit misses by this much on
// average weighs half as much as one that fits exactly. Weighting the fits
// so gained 0.31 dB (0.13 on clean input, 0.25 to 0.55 on JPEG; 1 to 16
// score the same within 0.01 dB) and took a third off the colour that a
// JPEG's halved chroma spreads across an edge.
constexpr double kMisfit = 4.0;
// Fixed-point scales of a fit's weight, its slope and its offset (in levels).
constexpr double kWeightScale = 65536.0;
constexpr double kSlopeScale = 4096.0;
constexpr double kOffsetScale = 256.0;

constexpr int kSums = 8;     // of the source's samples and products
constexpr int kFitSums = 5;  // of the weight and the weighted coefficients

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
      m_residualShare(1.0 -
                      (1.0 - kCompressedShare) * std::min(1.0, degradation / kCompressedFrom)) {}

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
  const double nn = static_cast<double>(n) * static_cast<double>(n);
  const std::size_t W = static_cast<std::size_t>(w);
  // Window sums of the source's luma, blue and red, and of the products of
  // luma with each and of each colour with itself; then of the fits' weights
  // and weighted coefficients.
  RowWindow sources(s.sourceRing, s.sourceSums, span, kSums * w);
  RowWindow fits(s.fitRing, s.fitSums, span, kFitSums * w);
  s.samples.resize(3 * W);
  s.product.resize(W);
  s.fit.resize(kFitSums * W);
  std::int32_t* luma = s.samples.data();
  std::int32_t* blue = luma + W;
  std::int32_t* red = blue + W;
  std::int64_t* fit = s.fit.data();
  const double epsilon = kEpsilon * 1e6 * nn;

  // Coefficient rows t from r0 - R to r1 + R - 1 read source rows c up to R further.
  for (int c = r0 - 2 * R; c < r1 + 2 * R; ++c) {
    Samples(std::clamp(c, 0, m_h - 1), luma, blue, red);
    std::int64_t* slot = sources.Next();
    WindowSums(luma, w, R, slot);
    WindowSums(blue, w, R, slot + W);
    WindowSums(red, w, R, slot + 2 * W);
    const std::int32_t* const factors[][2] = {
        {luma, luma}, {luma, blue}, {luma, red}, {blue, blue}, {red, red}};
    for (int k = 0; k < 5; ++k) {
      for (int x = 0; x < w; ++x)
        s.product[x] = static_cast<std::int64_t>(factors[k][0][x]) * factors[k][1][x];
      WindowSums(s.product.data(), w, R, slot + (3 + k) * W);
    }
    sources.Push();
    if (!sources.Full()) continue;

    // The fit of coefficient row t = c - R, weighted by how well it fits: a
    // window that straddles an edge blurred by the JPEG's halved chroma, or
    // holds colour that its luma does not explain, yields to its neighbours.
    const std::int64_t* S = sources.Sum();
    for (int x = 0; x < w; ++x) {
      const std::int64_t sumL = S[x], sumLL = S[3 * W + x];
      const double lumaVariance = static_cast<double>(n * sumLL - sumL * sumL);
      double error = 0;  // the fits' mean squared error, in squared levels
      std::int64_t slopes[2], offsets[2];
      for (int k = 0; k < 2; ++k) {
        const std::int64_t sumC = S[(1 + k) * W + x], sumLC = S[(4 + k) * W + x],
                           sumCC = S[(6 + k) * W + x];
        const double covariance = static_cast<double>(n * sumLC - sumL * sumC);
        const double slope =
            std::clamp(covariance / (lumaVariance + epsilon), -kMostSlope, kMostSlope);
        const double variance = static_cast<double>(n * sumCC - sumC * sumC);
        error += std::max(0.0, variance - 2 * slope * covariance + slope * slope * lumaVariance) /
                 (1e6 * nn);
        slopes[k] = std::llround(slope * kSlopeScale);
        // Offset in levels: (sumC - slope * sumL) / n / 1000, from the rounded slope.
        const double offset =
            static_cast<double>(sumC * static_cast<std::int64_t>(kSlopeScale) - slopes[k] * sumL) /
            (kSlopeScale * 1000.0 * static_cast<double>(n));
        offsets[k] = std::llround(offset * kOffsetScale);
      }
      const std::int64_t weight = 1 + std::llround(kWeightScale * kMisfit / (error + kMisfit));
      fit[x] = weight;
      for (int k = 0; k < 2; ++k) {
        fit[(1 + 2 * k) * W + x] = weight * slopes[k];
        fit[(2 + 2 * k) * W + x] = weight * offsets[k];
      }
    }
    std::int64_t* fitSlot = fits.Next();
    for (int k = 0; k < kFitSums; ++k) WindowSums(fit + k * W, w, R, fitSlot + k * W);
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
        const double weights = static_cast<double>(F[x]);
        const double slope = static_cast<double>(F[(1 + 2 * k) * W + x]) / (kSlopeScale * weights);
        const double offset =
            static_cast<double>(F[(2 + 2 * k) * W + x]) / (kOffsetScale * weights);
        const double residual = (chroma[x] - slope * luma[x]) / 1000.0 - offset;
        slopes[x] = static_cast<float>(slope);
        offsets[x] = static_cast<float>(offset + m_residualShare * residual);
      }
    }
  }
}

}  // namespace ampliscale
