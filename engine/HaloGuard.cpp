#include "engine/HaloGuard.h"

#include <algorithm>
#include <cmath>

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

void HaloGuard::Lines(int r, const SourceRow& source, Scratch& s) const {
  const std::size_t w = static_cast<std::size_t>(m_w);
  float* up = s.rows.data();
  float* mid = up + w;
  float* down = mid + w;
  source(std::max(r - 1, 0), up);
  source(r, mid);
  source(std::min(r + 1, m_h - 1), down);
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
    s.dip[c] = kLineShare * std::max(0.0f, dip - floor);
    s.peak[c] = kLineShare * std::max(0.0f, peak - floor);
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
  s.dip.resize(w);
  s.peak.resize(w);
  // Source row r joins the windows of rows k that start up to kFootprint - 1 before it.
  for (int r = first; r < last + m_footprint; ++r) {
    Lines(r, source, s);
    const float* row = s.rows.data() + w;
    for (int k = std::max(first, r - m_footprint + 1); k <= std::min(last, r); ++k) {
      float* lo = s.lo.data() + (k - first) * w;
      float* hi = s.hi.data() + (k - first) * w;
      const bool fresh = r == k;
      for (int c = 0; c + m_footprint <= m_w; ++c) {
        float a = row[c] - s.dip[c];
        float b = row[c] + s.peak[c];
        for (int d = 1; d < m_footprint; ++d) {
          a = std::min(a, row[c + d] - s.dip[c + d]);
          b = std::max(b, row[c + d] + s.peak[c + d]);
        }
        lo[c] = fresh ? a : std::min(lo[c], a);
        hi[c] = fresh ? b : std::max(hi[c], b);
      }
    }
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
