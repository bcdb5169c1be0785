#include "engine/StrengthCheck.h"

#include <algorithm>
#include <new>

namespace ampliscale {
namespace {

// Below this many half-size pixels a side the sums say little.
constexpr int kSmallestHalf = 8;

// The doubling is compared in stripes of this many half-size rows, one
// stripe for every kRowsPerStripe rows, spread evenly: a quarter of the
// picture tells its share as well as all of it, at a quarter of the work.
constexpr int kStripeRows = 16;
constexpr int kRowsPerStripe = 64;

int Chunks(int rows, int perChunk) { return (rows + perChunk - 1) / perChunk; }

}  // namespace

StrengthCheck::StrengthCheck(const Plane& luma, int halvingRows)
    : m_luma(luma), m_halvingRows(halvingRows) {
  const int w = luma.width / 2, h = luma.height / 2;
  if (w < kSmallestHalf || h < kSmallestHalf) return;
  m_halfData.reset(new (std::nothrow) float[static_cast<std::size_t>(w) * h]);
  if (!m_halfData) return;
  m_half = Plane{m_halfData.get(), w, h};
  // Catmull-Rom stretched to twice its width: the antialiased halving that
  // pictures commonly get, of the picture's even part.
  m_across = std::make_unique<Contributions>(2 * w, w, Kernel::CatmullRom);
  m_down = std::make_unique<Contributions>(2 * h, h, Kernel::CatmullRom);
  m_sums.resize(CompareChunks());
}

std::pair<int, int> StrengthCheck::HalvingRows(int chunk) const {
  return {chunk * m_halvingRows, std::min(m_half.height, (chunk + 1) * m_halvingRows)};
}

int StrengthCheck::HalvingChunks() const { return Chunks(m_half.height, m_halvingRows); }

std::size_t StrengthCheck::HalvingPixels(int chunk) const {
  const auto [i0, i1] = HalvingRows(chunk);
  return static_cast<std::size_t>(i1 - i0) * 2 * m_luma.width;
}

void StrengthCheck::Halve(int chunk) {
  const auto [i0, i1] = HalvingRows(chunk);
  std::vector<float> column(m_luma.width);
  for (int i = i0; i < i1; ++i) {
    m_down->ApplyDown(i, m_luma.Row(m_down->First(i)), m_luma.width, m_luma.width, column.data());
    m_across->Apply(column.data(), m_half.Row(i));
  }
}

int StrengthCheck::CompareChunks() const { return std::max(1, m_half.height / kRowsPerStripe); }

std::pair<int, int> StrengthCheck::Stripe(int chunk) const {
  const int h = m_half.height;
  const int centre = (2 * chunk + 1) * h / (2 * CompareChunks());
  const int i0 = std::clamp(centre - kStripeRows / 2, 0, std::max(0, h - kStripeRows));
  return {i0, std::min(h, i0 + kStripeRows)};
}

std::size_t StrengthCheck::ComparePixels(int chunk) const {
  const auto [i0, i1] = Stripe(chunk);
  return static_cast<std::size_t>(i1 - i0) * m_half.width;
}

void StrengthCheck::Compare(int chunk, FilterSet filters, const RefineNet& net, StepScratch& step,
                            NetScratch& scratch, std::vector<float>& rows) {
  const auto [i0, i1] = Stripe(chunk);
  const int width = 2 * m_half.width;
  const std::size_t samples = static_cast<std::size_t>(2 * (i1 - i0)) * width;
  rows.resize(2 * samples);
  float* doubled = rows.data();
  float* refined = doubled + samples;
  LearnedStep(filters).Run(m_half, i0, i1, doubled, width, step);
  std::copy(doubled, doubled + samples, refined);
  net.Run(m_half, i0, i1, refined, width, scratch);
  double along = 0.0, squared = 0.0;
  for (int r = 0; r < 2 * (i1 - i0); ++r) {
    const float* truth = m_luma.Row(2 * i0 + r);
    const float* d = doubled + static_cast<std::size_t>(r) * width;
    const float* c = refined + static_cast<std::size_t>(r) * width;
    for (int x = 0; x < width; ++x) {
      const double correction = c[x] - d[x];
      along += correction * (truth[x] - d[x]);
      squared += correction * correction;
    }
  }
  m_sums[chunk] = {along, squared};
}

float StrengthCheck::Strength() const {
  double along = 0.0, squared = 0.0;
  for (const auto& [a, s] : m_sums) {
    along += a;
    squared += s;
  }
  if (!Possible() || squared <= 0.0) return 1.0f;
  return static_cast<float>(std::clamp(along / squared, 0.0, 1.0));
}

}  // namespace ampliscale
