#pragma once

#include <cstddef>
#include <vector>

#include "engine/Plane.h"

namespace ampliscale {

// Working rows of one thread while it doubles a band; reused from band to band.
struct StepScratch {
  std::vector<float> padded;
  std::vector<float> products;
  std::vector<float> smoothed;
  std::vector<float> tensor;
  std::vector<int> buckets;
};

// Doubles a luma plane, in = w x h, out = 2w x 2h, pixel centres aligned
// (output pixel X sits at input coordinate (X + 0.5) / 2 - 0.5).
// Each input pixel is classed by the structure tensor of its neighbourhood
// (orientation, strength, coherence); a small filter learned for that class
// and for each of the four output positions it covers maps its neighbourhood
// onto the four output pixels. Reentrant: threads may run disjoint bands at once.
class LearnedStep {
 public:
  // pass 0 is the first doubling of a picture, later passes get the filters
  // learned on already enlarged input.
  explicit LearnedStep(int pass);

  // Writes output rows 2*i0 ... 2*i1 - 1: output row r goes to
  // out + (r - 2*i0) * outStride, 2w samples.
  void Run(const Plane& in, int i0, int i1, float* out, std::ptrdiff_t outStride,
           StepScratch& scratch) const;

 private:
  int m_set;
};

}  // namespace ampliscale
