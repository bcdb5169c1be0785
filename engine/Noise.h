#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/Plane.h"

namespace ampliscale {

// How noisy a picture is, read from its pixels: the high-pass residual
// (the 3 x 3 mask 1 -2 1 / -2 4 -2 / 1 -2 1, which leaves nothing of a
// smooth picture) of its luma and chroma, averaged over 16-pixel segments of
// sampled rows. The quietest tenth of the segments is taken, since most
// pictures have some smooth ground where only the noise remains.
//
// Fine texture reads as noise in luma (grass, gravel), but rarely in chroma,
// while sensor noise shows in both: the reading is the lesser of the two. A
// picture without colour, or whose colour was compressed away (JPEG),
// therefore reads as clean, and its degradation is left to DegradationMeter.
// So does a picture too small to have smooth ground (a few hundred segments).
// engine/training/train.py mirrors it; engine/training/calibrate_noise.py
// found how noise should bend the first doubling (MeasureFloor).
//
// Reads a bounded sample of rows, in chunks that threads may measure at once
// (each chunk writes its own counts); the result does not depend on their order.
class NoiseMeter {
 public:
  // Fills one source row's chroma (blue and red minus luma), as the luma plane's row.
  using ChromaRow = std::function<void(int row, float* blue, float* red)>;

  NoiseMeter(const Plane& luma, ChromaRow chroma);

  int Chunks() const { return static_cast<int>(m_counts.size()); }
  std::size_t ChunkPixels() const;  // pixels one chunk reads, for progress
  void Measure(int chunk);

  // The noise's standard deviation in luma levels; 0 for a clean picture.
  double Sigma() const;
  // The least degradation measure (DegradationMeter's scale) under which the
  // first of `doublings` doublings treats a picture this noisy: its noise is
  // smoothed like JPEG's artefacts rather than sharpened into texture.
  double MeasureFloor(int doublings) const;
  // Whether the picture's colour is so noisy that a smoothing resampling of
  // its chroma (Kernel::BSpline) comes closer to the truth than an interpolating one.
  bool ColourIsNoisy() const;

  static constexpr int kBins = 256;
  // Per channel (luma, blue, red): segments by their mean residual, in bins of 1/8 level.
  using Counts = std::array<std::array<std::uint32_t, kBins>, 3>;

 private:
  Plane m_luma;
  ChromaRow m_chroma;
  int m_step = 1;  // every m_step-th row is read
  std::vector<Counts> m_counts;
};

}  // namespace ampliscale
