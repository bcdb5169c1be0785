#pragma once

#include <cstdint>
#include <vector>

namespace ampliscale {

// Colour that follows the enlarged luma. Over a window of the source, each
// chroma channel (blue or red minus luma) is fitted as a linear function of
// luma, c = a * luma + b (a guided filter); a and b are then averaged over a
// window of the same size, each window weighted by how well its fit holds.
// Applied to the enlarged luma, a * luma + b puts
// colour edges where the luma's sharp edges are, instead of where a
// resampling of the source's soft chroma would spread them, and the
// averaging smooths what luma does not explain: the steps between a JPEG's
// chroma blocks. What the fit misses (the residual, c - a * luma - b) is then
// added back by the share the picture takes: all of it for a clean picture,
// whose small saturated details live there, none for a JPEG, whose blocks
// do.
//
// The sums are exact integers, so a row's coefficients do not depend on
// which rows were computed with it: any split into bands gives the same bytes.
class ChromaGuide {
 public:
  // source as ampliscale.h lays it out (bottom row first, blue, green, red, reserved).
  ChromaGuide(const std::uint8_t* source, int w, int h, double degradation);

  // Slope then offset of blue, then of red: the four channels of a source row.
  static constexpr int kChannels = 4;
  // Window radius in source pixels. Wider windows (up to the 16 pixels of a
  // JPEG's chroma block) smooth the blocks away better, but take more of the
  // colour's real detail. On ten training photographs (see
  // engine/training/README.md) 2 scored best on average, 0.06 dB of chroma
  // PSNR above radius 1, 0.36 above 3 and 0.8 above 4; 1 scored 0.1 to 0.2 dB
  // better on clean input, 0.3 to 0.5 dB worse from JPEG quality 75.
  static constexpr int kRadius = 2;
  // Source rows read beyond those asked for, on the two sides together.
  static constexpr int kMarginRows = 4 * kRadius;

  // Rows from r0 to r1 - 1 (any, the picture's edge rows repeat beyond it):
  // kChannels rows of w floats each per source row, back to back, into out.
  // The offsets carry the residual's share, so that the colour of an
  // enlarged pixel is slope * luma + offset, both resampled alike.
  struct Scratch {
    std::vector<std::int64_t> sourceRing;  // the last rows' window sums across
    std::vector<std::int64_t> sourceSums;  // and their sum down: the source's windows
    std::vector<std::int64_t> fitRing;     // the same for the fitted coefficients
    std::vector<std::int64_t> fitSums;
    std::vector<std::int32_t> samples;  // one row's luma, blue and red
    std::vector<std::int64_t> product;  // one row's products of two of them
    std::vector<std::int64_t> fit;      // one row's weighted fits, fixed point
  };
  void Rows(int r0, int r1, float* out, Scratch& scratch) const;

 private:
  // One source row's luma and chroma, in thousandths of a level.
  void Samples(int row, std::int32_t* luma, std::int32_t* blue, std::int32_t* red) const;

  const std::uint8_t* m_source;
  int m_w;
  int m_h;
  double m_residualShare;  // of what the fit misses, added back
};

}  // namespace ampliscale
