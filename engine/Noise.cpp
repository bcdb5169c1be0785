#include "engine/Noise.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ampliscale {
namespace {

// Pixels of the picture read, at most: enough for a steady reading.
constexpr std::size_t kSamples = std::size_t{1} << 18;
constexpr int kLinesPerChunk = 8;
constexpr int kSegment = 16;
constexpr double kQuietShare = 0.1;  // of the segments, the quietest
// A picture with fewer segments has no quiet ground to read: its quietest
// tenth is texture. Clean training photographs brought to 64 pixels across
// (about 120 segments) read up to 2.6 levels, and one in twelve as noisy
// colour; from 96 across (about 300) at most 1.8, from 128 at most 1.0
// (engine/training/README.md). Such a picture reads as clean.
constexpr std::uint64_t kLeastSegments = 256;
constexpr double kBinsPerLevel = 8.0;
// Noise of deviation s leaves a residual of deviation 6 s (the mask's
// squares sum to 36), so of mean 6 s sqrt(2 / pi); and the quietest tenth of
// 16-pixel segments of pure noise starts at 0.69 of that mean.
const double kLevelsPerResidual = std::sqrt(M_PI / 2.0) / 6.0 / 0.69;
// Chroma noise of independent colour channels is about 1.45 times luma's;
// this leaves room for cameras that correlate them.
constexpr double kChromaPerLuma = 1.4;
// Found by engine/training/calibrate_noise.py on the training photographs,
// for one doubling and for two: the measure's floor rises by so much per
// level of noise from so many levels on, up to the strongest filter set's.
// A second doubling enlarges what the first smoothed, so it asks for less.
struct Floor {
  double from, perLevel;
};
constexpr Floor kFloors[2] = {{0.4, 0.10}, {0.9, 0.07}};
constexpr double kFloorTop = 0.32;
// Found by calibrate_noise.py too: from this much noise on, the B-spline's
// chroma is closer to the truth than Catmull-Rom's on the training photographs.
constexpr double kNoisyColourFrom = 2.0;

// Adds the mean absolute residual of each 16-pixel segment of row `mid`
// (rows up and down around it) to the counts.
void AddRow(const float* up, const float* mid, const float* down, int width,
            std::array<std::uint32_t, NoiseMeter::kBins>& counts) {
  for (int start = 1; start + kSegment <= width - 1; start += kSegment) {
    float sum = 0.0f;
    for (int x = start; x < start + kSegment; ++x) {
      const float residual = (up[x - 1] - 2.0f * up[x] + up[x + 1]) -
                             2.0f * (mid[x - 1] - 2.0f * mid[x] + mid[x + 1]) +
                             (down[x - 1] - 2.0f * down[x] + down[x + 1]);
      sum += std::fabs(residual);
    }
    const int bin = static_cast<int>(sum / kSegment * kBinsPerLevel);
    ++counts[std::min(bin, NoiseMeter::kBins - 1)];
  }
}

// The deviation that the quietest segments of one channel tell.
double QuietSigma(const std::array<std::uint64_t, NoiseMeter::kBins>& counts) {
  std::uint64_t total = 0;
  for (std::uint64_t c : counts) total += c;
  if (total == 0) return 0.0;
  const auto wanted = static_cast<std::uint64_t>(std::ceil(kQuietShare * total));
  std::uint64_t seen = 0;
  int bin = 0;
  while ((seen += counts[bin]) < wanted) ++bin;
  return (bin + 0.5) / kBinsPerLevel * kLevelsPerResidual;
}

}  // namespace

NoiseMeter::NoiseMeter(const Plane& luma, ChromaRow chroma)
    : m_luma(luma), m_chroma(std::move(chroma)) {
  if (luma.width < kSegment + 2 || luma.height < 3) return;
  const std::size_t area = static_cast<std::size_t>(luma.width) * luma.height;
  m_step = static_cast<int>((area + kSamples - 1) / kSamples);
  const int rows = (luma.height - 2 + m_step - 1) / m_step;
  m_counts.assign((rows + kLinesPerChunk - 1) / kLinesPerChunk, Counts{});
}

std::size_t NoiseMeter::ChunkPixels() const {
  return static_cast<std::size_t>(3 * kLinesPerChunk) * m_luma.width;
}

void NoiseMeter::Measure(int chunk) {
  Counts& counts = m_counts[chunk];
  counts = Counts{};
  const int w = m_luma.width;
  // Rows up, mid and down of blue, then of red.
  std::vector<float> chroma(6 * static_cast<std::size_t>(w));
  auto row = [&](int i) { return chroma.data() + static_cast<std::size_t>(i) * w; };
  for (int i = chunk * kLinesPerChunk; i < (chunk + 1) * kLinesPerChunk; ++i) {
    const int mid = 1 + i * m_step;
    if (mid > m_luma.height - 2) break;
    AddRow(m_luma.Row(mid - 1), m_luma.Row(mid), m_luma.Row(mid + 1), w, counts[0]);
    for (int k = 0; k < 3; ++k) m_chroma(mid - 1 + k, row(k), row(3 + k));
    AddRow(row(0), row(1), row(2), w, counts[1]);
    AddRow(row(3), row(4), row(5), w, counts[2]);
  }
}

double NoiseMeter::Sigma() const {
  double sigma[3];
  for (int channel = 0; channel < 3; ++channel) {
    std::array<std::uint64_t, kBins> total{};
    std::uint64_t segments = 0;
    for (const Counts& counts : m_counts) {
      for (int b = 0; b < kBins; ++b) {
        total[b] += counts[channel][b];
        segments += counts[channel][b];
      }
    }
    if (segments < kLeastSegments) return 0.0;
    sigma[channel] = QuietSigma(total);
  }
  return std::min(sigma[0], 0.5 * (sigma[1] + sigma[2]) / kChromaPerLuma);
}

double NoiseMeter::MeasureFloor(int doublings) const {
  const Floor& floor = kFloors[std::clamp(doublings, 1, 2) - 1];
  return std::clamp((Sigma() - floor.from) * floor.perLevel, 0.0, kFloorTop);
}

bool NoiseMeter::ColourIsNoisy() const { return Sigma() >= kNoisyColourFrom; }

}  // namespace ampliscale
