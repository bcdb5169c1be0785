#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "engine/LearnedStep.h"
#include "engine/Plane.h"
#include "engine/RefineNet.h"
#include "engine/Resampler.h"

namespace ampliscale {

// How much of the network's correction suits a picture. The network learned
// on wallpaper photographs; on a soft subject, fur or fine JPEG grain it may
// sharpen what the picture never had. Photographs look alike across scales,
// so the picture's own half-size copy is doubled as the picture will be, and
// the share of the correction that brings that doubling closest to the
// picture itself (least squares, held to 0 ... 1) is the share it gets.
//
// Works in chunks of half-size rows that threads may run at once, each with
// sums of its own; the result does not depend on their order.
class StrengthCheck {
 public:
  // Reads `luma`, which must be filled before the first Halve; each halving
  // chunk makes `halvingRows` half-size rows.
  StrengthCheck(const Plane& luma, int halvingRows);

  // False when the picture is too small for the check to mean much, or
  // there is no room for its half-size copy: then the full correction holds.
  bool Possible() const { return m_half.data != nullptr; }

  // First the half-size copy, in row chunks.
  int HalvingChunks() const;
  std::size_t HalvingPixels(int chunk) const;  // source pixels a chunk reads, for progress
  void Halve(int chunk);
  const Plane& Half() const { return m_half; }

  // Then its doubling, with and without the correction, against the picture,
  // in stripes across it.
  int CompareChunks() const;
  std::size_t ComparePixels(int chunk) const;  // half-size pixels a chunk doubles
  void Compare(int chunk, FilterSet filters, const RefineNet& net, StepScratch& step,
               NetScratch& scratch, std::vector<float>& rows);

  // The share of the correction, 0 ... 1.
  float Strength() const;

 private:
  std::pair<int, int> HalvingRows(int chunk) const;
  std::pair<int, int> Stripe(int chunk) const;  // the half-size rows a compare chunk doubles

  Plane m_luma;
  std::unique_ptr<float[]> m_halfData;
  Plane m_half;
  std::unique_ptr<Contributions> m_across, m_down;  // the halving along rows and columns
  int m_halvingRows = 1;
  // Per compare chunk: sum of correction x (picture - doubling), sum of correction squared.
  std::vector<std::array<double, 2>> m_sums;
};

}  // namespace ampliscale
