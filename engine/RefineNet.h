#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Plane.h"

namespace ampliscale {

// Feature rows of one thread while it refines a band; reused from band to band.
struct NetScratch {
  std::vector<float> luma;  // the band's luma with the network's margin, edges repeated
  std::vector<float> features[2];
  std::vector<std::uint8_t> flat;  // flat ground of the row being corrected
};

// A small convolutional network, learned by engine/training/train_net.py, that
// corrects the first doubling: from the source's luma around each pixel it
// tells how far the four pixels that LearnedStep doubled it into are off,
// chiefly where JPEG blocks, ringing and noise would otherwise be sharpened
// into texture. It knows the picture's degradation measure, which shifts its
// first layer's bias, and applies the share of its correction that the
// picture takes (StrengthCheck).
//
// Each output depends only on the input plane, never on the band it is
// computed in, so the result is the same for any split into bands.
class RefineNet {
 public:
  explicit RefineNet(double measure, float strength = 1.0f);

  // Adds the corrections to the doubled rows 2*i0 ... 2*i1 - 1 laid out as
  // LearnedStep::Run writes them. Reentrant: threads may run disjoint bands at once.
  void Run(const Plane& in, int i0, int i1, float* out, std::ptrdiff_t outStride,
           NetScratch& scratch) const;

 private:
  std::vector<float> m_firstBias;  // with the picture's measure
  float m_strength;
  // The last layer's weights per output: [output][ky][kx][in].
  std::vector<float> m_lastWeights;
};

}  // namespace ampliscale
