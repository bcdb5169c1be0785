// The refining network's inference against torch's own result for the trained
// weights, whole and in bands of every height, at the width the engine is
// built with (the reference is written with the weights).
#include <gtest/gtest.h>

#include <vector>

#include "engine/NetWeights.h"
#include "engine/RefineNet.h"
#include "tests/engine/NetReference.h"

namespace {

using namespace netreference;

// The engine's correction of the nearest-pixel doubling of the reference
// picture, the source split into bands of `band` rows.
std::vector<float> Corrected(int band) {
  std::vector<float> luma(kLuma, kLuma + kWidth * kHeight);
  const ampliscale::Plane in{luma.data(), kWidth, kHeight};
  std::vector<float> out(4 * kWidth * kHeight);
  for (int y = 0; y < 2 * kHeight; ++y) {
    for (int x = 0; x < 2 * kWidth; ++x) out[y * 2 * kWidth + x] = luma[y / 2 * kWidth + x / 2];
  }
  const ampliscale::RefineNet net(kMeasure);
  ampliscale::NetScratch scratch;
  for (int i0 = 0; i0 < kHeight; i0 += band) {
    const int i1 = std::min(kHeight, i0 + band);
    net.Run(in, i0, i1, out.data() + 2 * i0 * 2 * kWidth, 2 * kWidth, scratch);
  }
  return out;
}

TEST(RefineNet, MatchesTheTrainedNetworkInAnyBands) {
  // A reference made for other weights would compare two different networks.
  ASSERT_EQ(kNetWidth, ampliscale::net::kWidth) << "tests/engine/NetReference.h is out of date";
  for (int o = 0; o < 4; ++o)
    ASSERT_EQ(kNetLastBias[o], ampliscale::net::kLastBias[o]) << "NetReference.h is out of date";
  // The picture has an edge that the network must act on; a network that had
  // learned nothing would make no difference to be compared.
  ASSERT_GT(kLargestCorrection, 0.5f);
  const std::vector<float> whole = Corrected(kHeight);
  for (int i = 0; i < 4 * kWidth * kHeight; ++i)
    ASSERT_NEAR(whole[i], kCorrected[i], 2e-3) << "sample " << i;
  for (const int band : {1, 2, 5, 8}) EXPECT_EQ(Corrected(band), whole) << band << " rows";
}

}  // namespace
