#include "engine/HaloGuard.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ampliscale {

HaloGuard::HaloGuard(int w, int h, int W, int H)
    : m_w(w), m_h(h), m_footprint(std::min({kFootprint, w, h})) {
  m_column.resize(W);
  for (int x = 0; x < W; ++x) m_column[x] = WindowStart(x, w, W);
  m_row.resize(H);
  for (int y = 0; y < H; ++y) m_row[y] = WindowStart(y, h, H);
}

int HaloGuard::WindowStart(int x, int from, int to) const {
  const double centre = (x + 0.5) * from / to - 0.5;
  const int start = static_cast<int>(std::floor(centre)) - (m_footprint - 2) / 2;
  return std::clamp(start, 0, from - m_footprint);
}

void HaloGuard::Reach(const float* up, const float* mid, const float* down, Scratch& s) const {
  for (int c = 0; c < m_w; ++c) {
    const int left = std::max(c - 1, 0);
    const int right = std::min(c + 1, m_w - 1);
    const float v = mid[c];
    // Across, down and the two diagonals.
    const float pairs[4][2] = {{mid[left], mid[right]},
                               {up[c], down[c]},
                               {up[left], down[right]},
                               {up[right], down[left]}};
    float dip = 0.0f, peak = 0.0f, least = v, most = v;
    for (const auto& p : pairs) {
      dip = std::max(dip, std::min(p[0], p[1]) - v);
      peak = std::max(peak, v - std::max(p[0], p[1]));
      least = std::min({least, p[0], p[1]});
      most = std::max({most, p[0], p[1]});
    }
    const float floor = kLineFloor * (most - least);
    s.low[c] = v - kLineShare * std::max(0.0f, dip - floor);
    s.high[c] = v + kLineShare * std::max(0.0f, peak - floor);
  }
  // Over the window's columns, in place: each c reads only c and those after it.
  for (int c = 0; c + m_footprint <= m_w; ++c) {
    for (int d = 1; d < m_footprint; ++d) {
      s.low[c] = std::min(s.low[c], s.low[c + d]);
      s.high[c] = std::max(s.high[c], s.high[c + d]);
    }
  }
}

void HaloGuard::Prepare(int y0, int y1, const SourceRow& source, Scratch& s) const {
  const int first = m_row[y0];
  const int last = m_row[y1 - 1];
  const std::size_t w = static_cast<std::size_t>(m_w);
  s.first = first;
  s.lo.resize((last - first + 1) * w);
  s.hi.resize((last - first + 1) * w);
  s.rows.resize(3 * w);
  s.low.resize(w);
  s.high.resize(w);
  // The three source rows around r, each read once as r moves down.
  float* up = s.rows.data();
  float* mid = up + w;
  float* down = mid + w;
  source(std::max(first - 1, 0), up);
  source(first, mid);
  // Source row r joins the windows of rows k that start up to kFootprint - 1 before it.
  for (int r = first; r < last + m_footprint; ++r) {
    source(std::min(r + 1, m_h - 1), down);
    Reach(up, mid, down, s);
    for (int k = std::max(first, r - m_footprint + 1); k <= std::min(last, r); ++k) {
      float* lo = s.lo.data() + (k - first) * w;
      float* hi = s.hi.data() + (k - first) * w;
      const bool fresh = r == k;
      for (int c = 0; c + m_footprint <= m_w; ++c) {
        lo[c] = fresh ? s.low[c] : std::min(lo[c], s.low[c]);
        hi[c] = fresh ? s.high[c] : std::max(hi[c], s.high[c]);
      }
    }
    std::swap(up, mid);
    std::swap(mid, down);  // down now holds the oldest row, to be read over
  }
}

void HaloGuard::Hold(int y, const float* in, float* out, const Scratch& s) const {
  const std::size_t offset = (m_row[y] - s.first) * static_cast<std::size_t>(m_w);
  const float* lo = s.lo.data() + offset;
  const float* hi = s.hi.data() + offset;
  const int W = static_cast<int>(m_column.size());
  for (int x = 0; x < W; ++x) {
    const int c = m_column[x];
    out[x] = std::clamp(in[x], lo[c], hi[c]);
  }
}

}  // namespace ampliscale
