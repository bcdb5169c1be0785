#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace ampliscale {

// BSpline (the cubic B-spline) smooths as it resamples: it passes no noise
// that the picture's own samples do not average out.
enum class Kernel { CatmullRom, Lanczos3, BSpline };

// The weights that carry `from` samples onto `to` samples along one axis,
// pixel centres aligned: output x sits at input coordinate (x + 0.5) * from / to - 0.5.
// Reductions widen the kernel so that nothing aliases; the edge sample is
// repeated beyond the ends. Immutable once built: threads share it.
class Contributions {
 public:
  Contributions(int from, int to, Kernel kernel);

  int From() const { return m_from; }
  int To() const { return m_to; }
  // Every output reads the same number of consecutive inputs (zero weights pad the short ones).
  int Taps() const { return m_taps; }
  int First(int x) const { return m_first[x]; }
  const float* Weights(int x) const {
    return m_weights.data() + static_cast<std::size_t>(x) * m_taps;
  }
  // True when output x is input x: nothing to compute.
  bool IsIdentity() const { return m_identity; }
  // The input samples [first, end) that outputs x0 ... x1 - 1 read.
  std::pair<int, int> Span(int x0, int x1) const;

  // out[x] = weighted sum of in[...] for every output x.
  void Apply(const float* in, float* out) const;
  // Output row y of rows `width` samples long, across rows: `first` is input
  // row First(y), the next input row `stride` samples further on.
  void ApplyDown(int y, const float* first, std::ptrdiff_t stride, int width, float* out) const;

 private:
  int m_from;
  int m_to;
  int m_taps = 1;
  bool m_identity = false;
  std::vector<int> m_first;
  std::vector<float> m_weights;
};

}  // namespace ampliscale
