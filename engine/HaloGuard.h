#pragma once

#include <functional>
#include <vector>

namespace ampliscale {

// Keeps the enlarged luma within the source's own range around each pixel,
// so that strong edges gain no bright or dark line along them. Each doubling
// lets a pixel leave the range of the four pixels around it by half that
// range, which sharpens most edges of photographs; but the doublings and the
// final resampling add up to a halo beside a strong ledge (a ledge between
// greys 60 and 190 came out from 20 to 228 at 400 %).
//
// Each output pixel is held to the range of the kFootprint x kFootprint
// source pixels around its position. A thin line is the exception: the
// reduction that made the source paled it, and the enlargement rightly draws
// it darker (or brighter) than any source pixel again. So a source pixel
// that lies below (or above) both its neighbours along some direction, by
// more than kLineFloor of its 3 x 3 neighbourhood's range (less than that is
// the ringing of a resampled edge), widens the range by kLineShare times
// what lies beyond that floor.
class HaloGuard {
 public:
  // A source row's luma, w floats.
  using SourceRow = std::function<void(int row, float* out)>;

  HaloGuard(int w, int h, int W, int H);

  struct Scratch {
    std::vector<float> rows;  // three source rows
    std::vector<float> low;   // one row's reach below and above, over the window's columns
    std::vector<float> high;
    std::vector<float> lo, hi;  // per window row of the chunk, per source column
    int first = 0;              // the chunk's first window row
  };
  // The ranges that output rows [y0, y1) are held to.
  void Prepare(int y0, int y1, const SourceRow& source, Scratch& scratch) const;
  // Output row y, once prepared, held: in and out may be the same row.
  void Hold(int y, const float* in, float* out, const Scratch& scratch) const;

  // The cubic resampling's reach: four source pixels across.
  static constexpr int kFootprint = 4;
  // Chosen on ten training photographs and the bench's drawings at 400 %
  // (engine/training/README.md): floors of 0.1 to 0.75 and shares of 1 to 3.
  static constexpr float kLineFloor = 0.6f;
  static constexpr float kLineShare = 3.0f;

 private:
  // The first source row or column of the window around output position x.
  int WindowStart(int x, int from, int to) const;
  // Source row `mid`'s pixels widened by the lines they lie on, then the
  // least and most of them over each window's columns, into scratch.low and high.
  void Reach(const float* up, const float* mid, const float* down, Scratch& scratch) const;

  int m_w;
  int m_h;
  int m_footprint;            // kFootprint, or less for a source so small
  std::vector<int> m_column;  // window start per output column
  std::vector<int> m_row;     // window start per output row
};

}  // namespace ampliscale
