#include "engine/Resampler.h"

#include <algorithm>
#include <cmath>

namespace ampliscale {
namespace {

constexpr double kPi = 3.14159265358979323846;

double Sinc(double x) { return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

double Evaluate(Kernel kernel, double x) {
  x = std::fabs(x);
  switch (kernel) {
    case Kernel::CatmullRom:
      if (x < 1.0) return (1.5 * x - 2.5) * x * x + 1.0;
      if (x < 2.0) return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
      return 0.0;
    case Kernel::Lanczos3:
      return x < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
    case Kernel::BSpline:
      if (x < 1.0) return ((0.5 * x - 1.0) * x * x) + 2.0 / 3.0;
      if (x < 2.0) return (2.0 - x) * (2.0 - x) * (2.0 - x) / 6.0;
      return 0.0;
  }
  return 0.0;
}

double Support(Kernel kernel) { return kernel == Kernel::Lanczos3 ? 3.0 : 2.0; }

}  // namespace

Contributions::Contributions(int from, int to, Kernel kernel) : m_from(from), m_to(to) {
  const double ratio = static_cast<double>(from) / to;
  const double stretch = std::max(1.0, ratio);
  const double support = Support(kernel) * stretch;
  std::vector<int> firsts(to);
  std::vector<std::vector<float>> rows(to);
  std::vector<double> taps;
  for (int x = 0; x < to; ++x) {
    const double centre = (x + 0.5) * ratio - 0.5;
    const int lo = static_cast<int>(std::floor(centre - support)) + 1;
    const int hi = static_cast<int>(std::ceil(centre + support)) - 1;
    // Taps beyond the ends fold onto the edge samples.
    const int first = std::clamp(lo, 0, from - 1);
    const int last = std::clamp(hi, 0, from - 1);
    taps.assign(last - first + 1, 0.0);
    double total = 0.0;
    for (int i = lo; i <= hi; ++i) {
      const double weight = Evaluate(kernel, (i - centre) / stretch);
      taps[std::clamp(i, 0, from - 1) - first] += weight;
      total += weight;
    }
    // Trim taps that contribute nothing, so that aligned samples are copied.
    int begin = 0;
    int end = static_cast<int>(taps.size());
    while (end - begin > 1 && std::fabs(taps[begin]) < 1e-9 * std::fabs(total)) ++begin;
    while (end - begin > 1 && std::fabs(taps[end - 1]) < 1e-9 * std::fabs(total)) --end;
    firsts[x] = first + begin;
    for (int k = begin; k < end; ++k) rows[x].push_back(static_cast<float>(taps[k] / total));
    m_taps = std::max(m_taps, end - begin);
  }
  // Pad every output to the same run of inputs, shifted left at the far end.
  m_identity = from == to && m_taps == 1;
  m_first.resize(to);
  m_weights.assign(static_cast<std::size_t>(to) * m_taps, 0.0f);
  for (int x = 0; x < to; ++x) {
    m_first[x] = std::min(firsts[x], from - m_taps);
    const int shift = firsts[x] - m_first[x];
    std::copy(rows[x].begin(), rows[x].end(),
              m_weights.begin() + static_cast<std::ptrdiff_t>(x) * m_taps + shift);
    m_identity = m_identity && m_first[x] == x && rows[x][0] == 1.0f;
  }
}

std::pair<int, int> Contributions::Span(int x0, int x1) const {
  int first = m_first[x0];
  int end = first + m_taps;
  for (int x = x0 + 1; x < x1; ++x) {
    first = std::min(first, m_first[x]);
    end = std::max(end, m_first[x] + m_taps);
  }
  return {first, end};
}

namespace {

template <int kTaps>
void ApplyFixed(const float* in, float* out, int to, const int* first, const float* weights) {
  for (int x = 0; x < to; ++x, weights += kTaps) {
    const float* src = in + first[x];
    float sum = 0.0f;
    for (int k = 0; k < kTaps; ++k) sum += weights[k] * src[k];
    out[x] = sum;
  }
}

}  // namespace

void Contributions::ApplyDown(int y, const float* first, std::ptrdiff_t stride, int width,
                              float* out) const {
  const float* weights = Weights(y);
  for (int x = 0; x < width; ++x) out[x] = weights[0] * first[x];
  for (int k = 1; k < m_taps; ++k) {
    first += stride;
    for (int x = 0; x < width; ++x) out[x] += weights[k] * first[x];
  }
}

void Contributions::Apply(const float* in, float* out) const {
  const int* first = m_first.data();
  const float* weights = m_weights.data();
  switch (m_taps) {
    case 1:
      return ApplyFixed<1>(in, out, m_to, first, weights);
    case 4:
      return ApplyFixed<4>(in, out, m_to, first, weights);
    case 5:
      return ApplyFixed<5>(in, out, m_to, first, weights);
    case 6:
      return ApplyFixed<6>(in, out, m_to, first, weights);
    default:
      for (int x = 0; x < m_to; ++x, weights += m_taps) {
        const float* src = in + first[x];
        float sum = 0.0f;
        for (int k = 0; k < m_taps; ++k) sum += weights[k] * src[k];
        out[x] = sum;
      }
  }
}

}  // namespace ampliscale
