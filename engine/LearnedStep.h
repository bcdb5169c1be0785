#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Plane.h"

namespace ampliscale {

// The four pixels that one input pixel doubles into: top left, top right,
// bottom left, bottom right.
typedef float Quad __attribute__((vector_size(16)));

// Holds the four doubled pixels of the input pixel at mid[0] (up and down are
// the input rows above and below it) near the range of the four input pixels
// in the square towards each one's corner. They may leave it by half of it:
// enough for the learned sharpening, too little for ripples beside hard
// edges, nothing at all on flat ground.
inline Quad KeepInRange(Quad doubled, const float* up, const float* mid, const float* down) {
  auto min = [](Quad a, Quad b) { return a < b ? a : b; };
  auto max = [](Quad a, Quad b) { return a > b ? a : b; };
  const Quad p = {up[-1], up[0], mid[-1], mid[0]};
  const Quad q = {up[0], up[1], mid[0], mid[1]};
  const Quad u = {mid[-1], mid[0], down[-1], down[0]};
  const Quad v = {mid[0], mid[1], down[0], down[1]};
  const Quad lo = min(min(p, q), min(u, v));
  const Quad hi = max(max(p, q), max(u, v));
  const Quad reach = 0.5f * (hi - lo);
  return min(max(doubled, lo - reach), hi + reach);
}

// Flat ground stays flat beside a thin line: where more than half of the 5 x 5
// input pixels around one equal it to within kPlateauTolerance, an edge
// beside it lies inside its neighbour, as in line art, text and screenshots
// drawn with antialiasing, so its enlarged pixels keep its level. Interpolated
// towards the line, or rippling off it, they would draw a faint copy of the
// line beside it. A line's own pixels never hold more than two rows of such a
// window, nor do a photograph's but where it is flat, and there the
// enlargement is flat anyway.
constexpr float kPlateauTolerance = 1.0f;
constexpr int kPlateauShare = 13;  // of the 24 pixels around the centre
// Marks which of the n pixels from mid[0] on are flat ground; the rows two
// above and two below (at `stride`) and two pixels either side must be there.
void FindPlateaus(const float* mid, std::ptrdiff_t stride, int n, std::uint8_t* flat);
inline Quad KeepOnPlateau(Quad enlarged, float own) {
  const Quad lo = Quad{} + (own - kPlateauTolerance);
  const Quad hi = Quad{} + (own + kPlateauTolerance);
  enlarged = enlarged > lo ? enlarged : lo;
  return enlarged < hi ? enlarged : hi;
}

// Working rows of one thread while it doubles a band; reused from band to band.
struct StepScratch {
  std::vector<float> padded;
  std::vector<float> products;
  std::vector<float> smoothed;
  std::vector<float> tensor;
  std::vector<int> buckets;
  std::vector<std::uint8_t> flat;  // FindPlateaus of the row being doubled
};

// One set of doubling filters and the class edges it was learned with.
struct FilterSet {
  const float* filters = nullptr;  // [class][tap][output position]
  const float* strengthEdges = nullptr;
  const float* coherenceEdges = nullptr;
};

// The first doubling's filters for a picture of the given degradation measure
// (DegradationMeter): the two learned sets nearest to it, blended, so that
// compression artefacts are smoothed in proportion to their strength.
class FirstFilters {
 public:
  explicit FirstFilters(double measure);
  FilterSet Set() const;

 private:
  struct alignas(16) Taps {
    float position[4];
  };
  std::vector<Taps> m_filters;
};

// The filters of the second and later doublings, learned on the first one's output.
FilterSet LaterFilters();

// Doubles a luma plane, in = w x h, out = 2w x 2h, pixel centres aligned
// (output pixel X sits at input coordinate (X + 0.5) / 2 - 0.5).
// Each input pixel is classed by the structure tensor of its neighbourhood
// (orientation, strength, coherence); a small filter learned for that class
// and for each of the four output positions it covers maps its neighbourhood
// onto the four output pixels. Reentrant: threads may run disjoint bands at once.
class LearnedStep {
 public:
  explicit LearnedStep(const FilterSet& set) : m_set(set) {}

  // Writes output rows 2*i0 ... 2*i1 - 1: output row r goes to
  // out + (r - 2*i0) * outStride, 2w samples.
  void Run(const Plane& in, int i0, int i1, float* out, std::ptrdiff_t outStride,
           StepScratch& scratch) const;

 private:
  FilterSet m_set;
};

}  // namespace ampliscale
