#include "engine/Degradation.h"

#include <algorithm>
#include <cmath>

namespace ampliscale {
namespace {

// Pixels of the picture read, at most: enough for a steady measure.
constexpr std::size_t kSamples = std::size_t{1} << 18;
// A coefficient this small counts as quantised away.
constexpr float kZero = 1.5f;
// Lines per chunk: a few milliseconds of work even for the longest lines.
constexpr int kLinesPerChunk = 8;
constexpr int kCoefficients = 5;  // the upper five of the 8-point DCT
constexpr int kShortestLine = 16;

struct HighCosines {
  float c[kCoefficients][8];
  HighCosines() {
    for (int u = 0; u < kCoefficients; ++u) {
      for (int x = 0; x < 8; ++x)
        c[u][x] = static_cast<float>(std::cos(M_PI * (2 * x + 1) * (u + 3) / 16.0));
    }
  }
};

const HighCosines& Cosines() {
  static const HighCosines cosines;
  return cosines;
}

// Counts, per grid phase, the high coefficients of the line's 8-sample
// segments that vanish, and all of them.
void AddLine(const float* line, int length, DegradationMeter::Sums& sums) {
  const HighCosines& k = Cosines();
  for (int phase = 0; phase < 8; ++phase) {
    for (int start = phase; start + 8 <= length; start += 8) {
      float v[8];
      for (int x = 0; x < 8; ++x) v[x] = line[start + x];
      for (int u = 0; u < kCoefficients; ++u) {
        float c = 0;
        for (int x = 0; x < 8; ++x) c += k.c[u][x] * v[x];
        sums.vanished[phase] += std::fabs(c) < kZero ? 1 : 0;
      }
      sums.coefficients[phase] += kCoefficients;
    }
  }
}

// How much more often coefficients vanish at the best phase than on average.
double Excess(const DegradationMeter::Sums& sums) {
  double best = 0, mean = 0;
  for (int p = 0; p < 8; ++p) {
    const double share =
        sums.coefficients[p] ? static_cast<double>(sums.vanished[p]) / sums.coefficients[p] : 0.0;
    best = std::max(best, share);
    mean += share / 8;
  }
  return best - mean;
}

}  // namespace

DegradationMeter::DegradationMeter(const Plane& luma) : m_luma(luma) {
  // Lines shorter than two blocks cannot show a grid: such a picture is read
  // along its long side alone (a JPEG 15 rows high still shows it across).
  const bool readRows = luma.width >= kShortestLine;
  const bool readColumns = luma.height >= kShortestLine;
  if (!readRows && !readColumns) return;
  const std::size_t area = static_cast<std::size_t>(luma.width) * luma.height;
  m_step = static_cast<int>((area + kSamples - 1) / kSamples);
  const int rows = (luma.height + m_step - 1) / m_step;
  const int columns = (luma.width + m_step - 1) / m_step;
  m_rowChunks = readRows ? (rows + kLinesPerChunk - 1) / kLinesPerChunk : 0;
  const int columnChunks = readColumns ? (columns + kLinesPerChunk - 1) / kLinesPerChunk : 0;
  m_sums.assign(m_rowChunks + columnChunks, Sums{});
}

std::size_t DegradationMeter::ChunkPixels() const {
  return static_cast<std::size_t>(kLinesPerChunk) * std::max(m_luma.width, m_luma.height);
}

void DegradationMeter::Measure(int chunk) {
  Sums& sums = m_sums[chunk];
  sums = Sums{};
  const bool rows = chunk < m_rowChunks;
  const int first = (rows ? chunk : chunk - m_rowChunks) * kLinesPerChunk;
  const int lines = rows ? m_luma.height : m_luma.width;
  // A column is gathered first: its samples lie a row apart.
  std::vector<float> column(rows ? 0 : m_luma.height);
  for (int i = first; i < first + kLinesPerChunk && i * m_step < lines; ++i) {
    if (rows) {
      AddLine(m_luma.Row(i * m_step), m_luma.width, sums);
    } else {
      for (int y = 0; y < m_luma.height; ++y) column[y] = m_luma.Row(y)[i * m_step];
      AddLine(column.data(), m_luma.height, sums);
    }
  }
}

double DegradationMeter::Result() const {
  if (m_sums.empty()) return 0;
  Sums rows{}, columns{};
  for (int chunk = 0; chunk < Chunks(); ++chunk) {
    Sums& total = chunk < m_rowChunks ? rows : columns;
    for (int p = 0; p < 8; ++p) {
      total.vanished[p] += m_sums[chunk].vanished[p];
      total.coefficients[p] += m_sums[chunk].coefficients[p];
    }
  }
  const bool readRows = m_rowChunks > 0;
  const bool readColumns = Chunks() > m_rowChunks;
  return ((readRows ? Excess(rows) : 0.0) + (readColumns ? Excess(columns) : 0.0)) /
         ((readRows ? 1 : 0) + (readColumns ? 1 : 0));
}

}  // namespace ampliscale
