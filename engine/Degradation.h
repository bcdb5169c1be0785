#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/Plane.h"

namespace ampliscale {

// How strongly a picture was JPEG-compressed, read from its luma alone: JPEG
// quantises away the high frequencies within its 8 x 8 blocks, so the high
// DCT coefficients of row and column segments that lie on the block grid
// vanish more often than those of segments that straddle it. The measure is
// the excess of the best of the eight grid phases over their mean: about 0
// for a picture without a grid, 0.1 at JPEG quality 90, 0.2 at 75, 0.35 at
// 50; the grid may start at any offset (a cropped JPEG).
// engine/training/train.py mirrors it.
//
// Reads a bounded sample of lines, in chunks that threads may measure at once
// (each chunk writes its own sums); the result does not depend on their order.
class DegradationMeter {
 public:
  explicit DegradationMeter(const Plane& luma);

  int Chunks() const { return static_cast<int>(m_sums.size()); }
  // Pixels one chunk reads, for progress.
  std::size_t ChunkPixels() const;
  void Measure(int chunk);
  // 0 for a clean picture, rising with compression.
  double Result() const;

  // Per grid phase: high coefficients that vanished, and all of them.
  struct Sums {
    std::array<std::uint64_t, 8> vanished{};
    std::array<std::uint64_t, 8> coefficients{};
  };

 private:
  Plane m_luma;
  int m_step = 1;       // every m_step-th row (and column) is read
  int m_rowChunks = 0;  // chunks of rows; the rest are chunks of columns
  std::vector<Sums> m_sums;
};

}  // namespace ampliscale
