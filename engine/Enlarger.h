#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ChromaGuide.h"
#include "engine/Degradation.h"
#include "engine/HaloGuard.h"
#include "engine/LearnedStep.h"
#include "engine/RefineNet.h"
#include "engine/Plane.h"
#include "engine/Resampler.h"
#include "engine/WorkCrew.h"

namespace ampliscale {

// One enlargement from a source picture to a destination buffer, laid out as
// ampliscale.h states. Runs on the calling thread, which drives the workers of
// a WorkCrew; the result does not depend on the number of threads.
//
// Luma is doubled by LearnedStep once or twice, as the factor asks (the first
// doubling corrected by RefineNet, by the share that StrengthCheck finds), the
// last doubling streamed straight into the final resampling to exactly W x H;
// after two doublings HaloGuard holds the result to the source's local range.
// Chroma follows that enlarged luma (ChromaGuide: slopes and offsets fitted
// against the source's luma, resampled and applied to it); with no doubling
// it is resampled from the source. The first doubling's filters suit the
// source's degradation: its JPEG compression (DegradationMeter) or, if worse,
// its noise (NoiseMeter). Below a factor of about 1.3 the filters double
// alone, tuned to half the measured compression; below about 1.1 every
// channel is resampled directly.
class Enlarger {
 public:
  Enlarger(const std::uint8_t* source, int w, int h, std::uint8_t* dest, int W, int H);
  ~Enlarger();

  // Returns false when the job was abandoned (the destination is then incomplete).
  bool Run(int threads, const WorkCrew::Report& report);

  // Number of doublings used for a w x h source and a W x H target.
  static int Doublings(int w, int h, int W, int H);

 private:
  struct Scratch;

  FilterSet Filters(int level) const;
  void LumaRow(int row, float* out) const;
  void ChromaRows(int row, float* blue, float* red) const;
  void ConvertChunk(int y0, int y1);
  // Doubles source rows i0 ... i1 - 1 of a level; the first level is refined by the
  // network, when there is one.
  void Double(int level, int i0, int i1, float* out, std::ptrdiff_t outStride,
              Scratch& scratch) const;
  void DoubleChunk(int level, int i0, int i1, Scratch& scratch) const;
  void FinalChunk(int y0, int y1, Scratch& scratch) const;

  const std::uint8_t* m_source;
  const int m_w;
  const int m_h;
  std::uint8_t* m_dest;
  const int m_W;
  const int m_H;
  int m_doublings = 0;
  std::unique_ptr<float[]> m_extra;  // the one plane beyond the destination
  std::unique_ptr<FirstFilters> m_first;
  std::unique_ptr<RefineNet> m_net;
  std::unique_ptr<HaloGuard> m_halo;
  std::unique_ptr<ChromaGuide> m_guide;  // colour guided by the enlarged luma, once doubling
  std::vector<Plane> m_levels;  // luma, doubled level by level; the last doubling is never stored
  std::vector<Scratch> m_scratch;  // one per worker
  // Final resampling of the luma grid and of the source's chroma to W x H.
  std::unique_ptr<Contributions> m_lumaX, m_lumaY, m_chromaX, m_chromaY;
};

}  // namespace ampliscale
